// The chart at the smallest size the window allows: every text the chart
// draws (title, axis titles, tick labels) whole, none over another or under
// the legend, and the tick labels of an axis a character's width apart.
// The texts are measured as the chart lays them out: the rectangles of its
// text items in the scene, without their document margins.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QHelpEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "ui/widgets/axis_scale.h"
#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"
#include "ui_fixtures.h"

namespace kelmar::ui {
namespace {

using testing::CommandedWindow;

void Settle() {
    for (int i = 0; i < 4; ++i) {
        QApplication::processEvents();
        QTest::qWait(10);
    }
}

struct DrawnText {
    QString text;
    QRectF rect;  // in the chart's scene (= view) coordinates
    QFont font;
};

// The chart's visible texts as drawn.
std::vector<DrawnText> DrawnTexts(const LineChart& chart) {
    std::vector<DrawnText> texts;
    for (QGraphicsItem* item : chart.scene()->items()) {
        auto* text = dynamic_cast<QGraphicsTextItem*>(item);
        if (!text || !text->isVisible() || text->toPlainText().isEmpty()) continue;
        // A line of text: its glyphs' ink from where the item writes it (a
        // label's box holds the font's whole line height and some room);
        // lines of text: their box.
        const qreal margin = text->document()->documentMargin();
        QRectF ink = text->boundingRect().adjusted(margin, margin, -margin, -margin);
        if (!text->toPlainText().contains('\n')) {
            const QFontMetricsF metrics(text->font());
            ink = metrics.tightBoundingRect(text->toPlainText()).translated(margin, margin + metrics.ascent());
        }
        texts.push_back({text->toPlainText(), text->mapRectToScene(ink), text->font()});
    }
    return texts;
}

std::string Describe(const DrawnText& t) {
    std::ostringstream out;
    out << '"' << t.text.toStdString() << "\" at " << t.rect.left() << ".." << t.rect.right() << " x "
        << t.rect.top() << ".." << t.rect.bottom();
    return out.str();
}

bool IsTickLabel(const QString& text) {
    static const QRegularExpression number("^-?[0-9]+(\\.[0-9]+)?$");
    return number.match(text).hasMatch();
}

// The runs the window can show, from the shortest labels to the longest.
enum class Run { File30Years, Simulated500Years };

struct Case {
    const char* what;
    Run run;
    int tab;   // 0 Input, 3 Results
    int view;  // 0 month by month, 1 annual course, 2 annual average, 3.. months
    const char* scenario;
};

TEST(ChartLegibility, EveryTextIsWholeAndApartAtTheSmallestWindow) {
    const Case cases[] = {
        {"30 years from file, results month by month", Run::File30Years, 3, 0, ""},
        {"30 years from file, input annual course", Run::File30Years, 0, 1, ""},
        {"30 years from file, results annual average", Run::File30Years, 3, 2, ""},
        {"30 years from file, input month by month, a scenario", Run::File30Years, 0, 0,
         "Scenario +2 \u00b0C, precipitation \u00d7 0.5"},
        {"500 simulated years, results month by month", Run::Simulated500Years, 3, 0, ""},
        {"500 simulated years, results in July", Run::Simulated500Years, 3, 9, ""},
        {"500 simulated years, input annual average", Run::Simulated500Years, 0, 2, ""},
        {"500 simulated years, input annual course", Run::Simulated500Years, 0, 1, ""},
    };
    for (const Case& c : cases) {
        auto model = c.run == Run::File30Years ? testing::FileRunModel(1961, 30) : testing::SimulatedRunModel(8);
        CommandedWindow window(*model);
        TMainForm& form = window.form;
        const TMainFormControls& ui = form.Controls();
        form.resize(form.minimumSize());
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        testing::ReleaseYears(window, c.run == Run::File30Years ? 30 : 500);
        form.SetScenarioText(QString::fromUtf8(c.scenario));
        ui.Pages->setCurrentIndex(c.tab);
        ui.ChartViewBox->setCurrentIndex(c.view);
        form.ChartViewChosen();
        if (c.view == 1) form.SetSelectedYear(c.run == Run::File30Years ? 28 : 488);
        LineChart& chart = *ui.Chart;
        // Every series of the tab switched on: the widest ranges the side axes take.
        for (int s = 0; s < SERIES_COUNT; ++s)
            if (chart.Legend()->IsListed(SeriesAt(s))) chart.Legend()->Entry(SeriesAt(s))->click();
        Settle();
        ASSERT_EQ(form.size(), form.minimumSize()) << c.what;

        const std::vector<DrawnText> texts = DrawnTexts(chart);
        const QRectF plot = chart.chart()->plotArea();
        const QRectF legend(chart.mapToScene(chart.Legend()->geometry().topLeft()),
                            QSizeF(chart.Legend()->size()));
        const QRectF view(chart.mapToScene(QPoint(0, 0)), QSizeF(chart.viewport()->size()));
        EXPECT_TRUE(view.contains(legend)) << c.what << ": the legend is cut";

        std::vector<const DrawnText*> bottom, left, right;
        for (const DrawnText& t : texts) {
            EXPECT_FALSE(t.text.contains(QChar(0x2026)) || t.text.contains("..."))
                << c.what << ": elided " << Describe(t);
            EXPECT_TRUE(view.contains(t.rect)) << c.what << ": cut at the chart's edge " << Describe(t);
            EXPECT_FALSE(t.rect.intersects(legend)) << c.what << ": under the legend " << Describe(t);
            for (const DrawnText& u : texts) {
                if (&u >= &t) continue;
                EXPECT_FALSE(t.rect.intersects(u.rect)) << c.what << ": " << Describe(t) << " overlaps " << Describe(u);
            }
            if (!IsTickLabel(t.text)) continue;
            if (t.rect.top() >= plot.bottom()) bottom.push_back(&t);
            else if (t.rect.right() <= plot.left()) left.push_back(&t);
            else if (t.rect.left() >= plot.right()) right.push_back(&t);
        }
        // Neighbouring tick labels keep at least the width of a digit
        // between them (across for the bottom axis, up and down for the sides).
        const auto expectApart = [&](std::vector<const DrawnText*> labels, bool across, const char* axis) {
            EXPECT_GE(labels.size(), 3u) << c.what << ": labels of the " << axis << " axis";
            std::sort(labels.begin(), labels.end(), [across](const DrawnText* a, const DrawnText* b) {
                return across ? a->rect.left() < b->rect.left() : a->rect.top() < b->rect.top();
            });
            for (std::size_t k = 1; k < labels.size(); ++k) {
                const qreal gap = across ? labels[k]->rect.left() - labels[k - 1]->rect.right()
                                         : labels[k]->rect.top() - labels[k - 1]->rect.bottom();
                const qreal digit = QFontMetricsF(labels[k]->font).horizontalAdvance('0');
                EXPECT_GE(gap, digit) << c.what << ", " << axis << " axis: " << Describe(*labels[k - 1]) << " and "
                                      << Describe(*labels[k]) << " closer than a digit's width";
            }
        };
        expectApart(bottom, true, "bottom");
        expectApart(left, false, "left");
        expectApart(right, false, "right");

        // The title is readable: whole and at least as large as the axis titles.
        const auto title = std::find_if(texts.begin(), texts.end(), [&](const DrawnText& t) {
            return t.rect.bottom() <= plot.top() && !IsTickLabel(t.text);
        });
        ASSERT_NE(title, texts.end()) << c.what << ": no title drawn";
        EXPECT_GE(title->font.pixelSize(), CHART_AXIS_TITLE_FONT_PIXELS) << c.what << ": " << Describe(*title);
        QTextDocument full;
        full.setHtml(chart.Title());
        EXPECT_EQ(title->text.simplified(), full.toPlainText().simplified()) << c.what;
    }
}

// A title longer than the chart is wide even in the smallest title font is
// cut with an ellipsis, and its tooltip holds the whole title.
TEST(ChartLegibility, ATitleTooLongForTheChartIsCutWithTheWholeAsTooltip) {
    auto model = testing::FileRunModel(1961, 5);
    CommandedWindow window(*model);
    TMainForm& form = window.form;
    form.resize(form.minimumSize());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    testing::ReleaseYears(window, 5);
    const QString scenario = QString::fromUtf8(
        "Scenario +2 \u00b0C, precipitation \u00d7 0.5, variability \u00d7 1.5, trend 3 \u00b0C per 100 years");
    form.SetScenarioText(scenario);
    form.Controls().Pages->setCurrentIndex(3);
    LineChart& chart = *form.Controls().Chart;
    Settle();
    ASSERT_TRUE(chart.TitleCut());

    const std::vector<DrawnText> texts = DrawnTexts(chart);
    const auto title = std::find_if(texts.begin(), texts.end(), [](const DrawnText& t) {
        return t.text.startsWith("Results");
    });
    ASSERT_NE(title, texts.end());
    EXPECT_TRUE(title->text.contains(QChar(0x2026))) << title->text.toStdString();
    EXPECT_TRUE(title->text.startsWith("Results (Month by month)")) << "only the line too long is cut: "
                                                                    << title->text.toStdString();
    const QRectF view(chart.mapToScene(QPoint(0, 0)), QSizeF(chart.viewport()->size()));
    EXPECT_TRUE(view.contains(title->rect)) << Describe(*title);

    const QPoint onTitle = chart.mapFromScene(title->rect.center());
    QHelpEvent help(QEvent::ToolTip, onTitle, chart.viewport()->mapToGlobal(onTitle));
    QApplication::sendEvent(chart.viewport(), &help);
    EXPECT_EQ(QToolTip::text(), "Results (Month by month)\n" + scenario);
}

}  // namespace
}  // namespace kelmar::ui

namespace kelmar::ui {
namespace {

// A side axis with room for few labels: the range is still covered, in
// whole steps and no more intervals than asked (two at the least, which any
// range fits in), and the search for them ends.
TEST(AxisScale, RoundedRangeCoversTheValuesInTheIntervalsAsked) {
    struct RangeCase {
        double min, max;
        int intervals;
    };
    const RangeCase cases[] = {{-5, 35, 1}, {-5, 35, 2}, {-5, 35, 8}, {0.2, 0.9, 1}, {10, 10, 1},
                          {-120, -3, 3}, {1961, 1990, 1}, {0, 147.3, 4}};
    for (const RangeCase& c : cases) {
        const AxisRange range = RoundedRange(c.min, c.max, c.intervals);
        const double intervals = (range.Max - range.Min) / range.Step;
        const std::string what = std::to_string(c.min) + ".." + std::to_string(c.max) + " in " +
                                 std::to_string(c.intervals) + ": " + std::to_string(range.Min) + ".." +
                                 std::to_string(range.Max) + " by " + std::to_string(range.Step);
        EXPECT_LE(range.Min, c.min) << what;
        EXPECT_GE(range.Max, c.max) << what;
        EXPECT_LE(intervals, std::max(c.intervals, 2) + 1e-9) << what;
        EXPECT_NEAR(intervals, std::round(intervals), 1e-9) << what;
    }
}

}  // namespace
}  // namespace kelmar::ui
