// The chart views: the points of every series per view, the axes, the
// titles and legend per tab, the user's legend choices and the year selector.
#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QImage>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QValueAxis>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/widgets/line_chart.h"
#include "ui/widgets/line_reduction.h"
#include "ui/widgets/series_legend.h"
#include "ui/widgets/updown_spinner.h"
#include "ui_fixtures.h"

namespace kelmar::ui {
namespace {

using testing::FileRunModel;
using testing::SimulatedRunModel;

void AddYearlyViews(TMainForm& form) {
    form.Controls().ChartViewBox->addItems({"Annual average", "January", "February", "March", "April", "May",
                                         "June", "July", "August", "September", "October", "November",
                                         "December"});
}

TEST(ChartViews, EveryViewFillsEverySeriesFromTheReleasedYears) {
    struct Case {
        const char* what;
        bool fromFile;
        int yearCount, view, first, last;
        int points;
        double firstX, lastX;
        int yearIndex, slot;  // record of the first point
        const char* bottomTitle;
        double bottomMin, bottomMax, increment;
    };
    const Case cases[] = {
        {"month by month, file", true, 2, 0, 1, 2, 24, 1, 24, 1, 1, "Number of months", 1, 24, 0},
        {"annual course of year 3", true, 5, 1, 3, 3, 12, 1, 12, 3, 1, "Number of months", 1, 12, 0},
        {"annual average, file", true, 5, 2, 1, 5, 5, 1961, 1965, 1, 0, "Number of years", 1961, 1965, 0},
        {"March, two years", false, 2, 5, 1, 2, 2, 1, 2, 1, 3, "Number of years", 1, 2, 1},
        {"December, simulated", false, 40, 14, 1, 40, 40, 1, 40, 1, 12, "Number of years", 1, 40, 0},
        {"month by month, nothing released", false, 0, 0, 1, 0, 0, 0, 0, 0, 0, "Number of months", 0, 24, 0},
        {"annual average, nothing released", false, 0, 2, 1, 0, 0, 0, 0, 0, 0, "number of steps", 0, 24, 0},
    };
    for (const Case& c : cases) {
        auto model = c.fromFile ? FileRunModel(1961, 5) : SimulatedRunModel(3);
        TMainForm form(*model);
        AddYearlyViews(form);
        form.SetYearCount(c.yearCount);
        form.SetSelectedMonth(c.view);
        form.RefreshChart(c.first, c.last);

        const LineChart& chart = *form.Controls().Chart;
        for (int s = 0; s < SERIES_COUNT; ++s) {
            const ChartSeries id = SeriesAt(s);
            const QLineSeries& series = *chart.Series(id);
            ASSERT_EQ(series.count(), c.points) << c.what << ", series " << s;
            if (c.points == 0) continue;
            EXPECT_EQ(series.at(0).x(), c.firstX) << c.what << ", series " << s;
            EXPECT_EQ(series.at(c.points - 1).x(), c.lastX) << c.what << ", series " << s;
            EXPECT_EQ(series.at(0).y(), model->Results.At(c.yearIndex, c.slot).*Info(id).Field)
                << c.what << ", series " << s;
        }
        EXPECT_EQ(chart.BottomAxis()->titleText(), c.bottomTitle) << c.what;
        EXPECT_EQ(chart.BottomAxis()->min(), c.bottomMin) << c.what;
        EXPECT_EQ(chart.BottomAxis()->max(), c.bottomMax) << c.what;
        EXPECT_EQ(chart.BottomIncrement(), c.increment) << c.what;
    }
}

TEST(ChartViews, EachTabShowsItsGroupWithItsTitles) {
    struct Case {
        bool fromFile;
        int view, tab;
        const char* title;
        const char* rightTitle;
        SeriesGroup shown;
    };
    const Case cases[] = {
        {false, 1, 0, "Simulated weather (Annual course, 1)", "Precipitation, mm", SeriesGroup::Input},
        {false, 1, 3, "Results (Annual course, 1)", "Moisture, %", SeriesGroup::Results},
        {true, 0, 0, "Input weather (Month by month)", "Precipitation, mm", SeriesGroup::Input},
        {true, 2, 1, "Results (Annual average)", "Moisture, %", SeriesGroup::Results},
        {true, 0, 2, "Results (Month by month)", "Moisture, %", SeriesGroup::Results},
    };
    for (const Case& c : cases) {
        auto model = c.fromFile ? FileRunModel(1961, 5) : SimulatedRunModel(4);
        TMainForm form(*model);
        AddYearlyViews(form);
        form.SetYearCount(5);
        form.SetSelectedMonth(c.view);
        form.Controls().Pages->setCurrentIndex(c.tab);
        form.ShowChartOfPage();

        const LineChart& chart = *form.Controls().Chart;
        EXPECT_EQ(chart.Title(), c.title);
        EXPECT_EQ(chart.RightAxis()->titleText(), c.rightTitle) << c.title;
        EXPECT_EQ(chart.isHidden(), c.tab == 0) << c.title;
        for (int s = 0; s < SERIES_COUNT; ++s) {
            const ChartSeries id = SeriesAt(s);
            const bool shown = Info(id).Group == c.shown;
            EXPECT_EQ(chart.Legend()->IsListed(id), shown) << c.title << ", series " << s;
            EXPECT_EQ(chart.Series(id)->count() > 0, shown) << c.title << ", series " << s;
            EXPECT_FALSE(chart.Series(id)->isVisible()) << c.title << ", series " << s;
        }
    }
}

TEST(ChartViews, LegendChoicesAreTheUsersAndSurviveRefreshesAndTabChanges) {
    auto model = SimulatedRunModel(5);
    testing::CommandedWindow window(*model);
    TMainForm& form = window.form;
    form.show();
    const TMainFormControls& ui = form.Controls();
    ui.Pages->setCurrentIndex(3);
    testing::ReleaseYears(window, 10);
    const LineChart& chart = *ui.Chart;

    chart.Legend()->Entry(ChartSeries::T_ms)->click();
    chart.Legend()->Entry(ChartSeries::W_ff_mass)->click();
    EXPECT_TRUE(chart.Series(ChartSeries::T_ms)->isVisible());
    // The left axis spans the one temperature switched on.
    double low = 1e9, high = -1e9;
    for (const QPointF& p : chart.Series(ChartSeries::T_ms)->points()) {
        low = std::min(low, p.y());
        high = std::max(high, p.y());
    }
    EXPECT_LE(chart.LeftAxis()->min(), low);
    EXPECT_GE(chart.LeftAxis()->max(), high);
    EXPECT_LT(chart.LeftAxis()->max() - chart.LeftAxis()->min(), 2 * (high - low) + 2);

    ui.Pages->setCurrentIndex(0);
    EXPECT_FALSE(chart.Legend()->IsListed(ChartSeries::T_ms));
    EXPECT_EQ(chart.Series(ChartSeries::T_ms)->count(), 0);
    ui.Pages->setCurrentIndex(3);
    testing::ReleaseYears(window, 12);

    for (int s = 0; s < SERIES_COUNT; ++s) {
        const ChartSeries id = SeriesAt(s);
        const bool chosen = id == ChartSeries::T_ms || id == ChartSeries::W_ff_mass;
        EXPECT_EQ(chart.Legend()->IsSwitchedOn(id), chosen) << "series " << s;
        EXPECT_EQ(chart.Series(id)->isVisible(), chosen) << "series " << s;
    }
    EXPECT_EQ(chart.Series(ChartSeries::T_ms)->count(), 144);
}

// A line reduced to its pixel columns keeps each column's lowest and
// highest point in x order, and the line's ends; a short line stays whole.
TEST(LineReduction, KeepsWhatEachPixelColumnShows) {
    QList<QPointF> line;
    for (int k = 0; k < 6000; ++k) line.append({double(k), std::sin(k * 0.37) * 10 + (k % 7)});
    const int columns = 300;
    const QList<QPointF> reduced = ReducedLine(line, columns, 0, 6000);
    EXPECT_LE(reduced.size(), 2 * columns + 2);
    EXPECT_EQ(reduced.front(), line.front());
    EXPECT_EQ(reduced.back(), line.back());
    EXPECT_TRUE(std::is_sorted(reduced.begin(), reduced.end(), [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }));
    for (int c = 0; c < columns; ++c) {
        double low = 1e300, high = -1e300, keptLow = 1e300, keptHigh = -1e300;
        for (const QPointF& p : line)
            if (int(p.x() / 20) == c) low = std::min(low, p.y()), high = std::max(high, p.y());
        for (const QPointF& p : reduced)
            if (int(p.x() / 20) == c) keptLow = std::min(keptLow, p.y()), keptHigh = std::max(keptHigh, p.y());
        ASSERT_EQ(keptLow, low) << "column " << c;
        ASSERT_EQ(keptHigh, high) << "column " << c;
    }
    EXPECT_EQ(ReducedLine(line.mid(0, 600), columns, 0, 600), line.mid(0, 600)) << "two points a column or fewer";
    EXPECT_EQ(ReducedLine(line, 0, 0, 6000), line);
}

// A Step of 500 years draws six lines of 6,000 points each on a plot a few
// hundred pixels wide; drawn from the reduced lines the chart is the same
// but for antialiased joints (it took 132 ms to paint the whole lines).
TEST(LineReduction, TheChartDrawnFromReducedLinesLooksAsFromWholeOnes) {
    auto model = SimulatedRunModel(5);
    TMainForm form(*model);
    form.resize(1000, 700);
    form.show();
    AddYearlyViews(form);
    form.Controls().Pages->setCurrentIndex(3);
    form.SetYearCount(500);
    form.SetSelectedMonth(0);
    form.RefreshChart(1, 500);
    LineChart& chart = *form.Controls().Chart;
    for (int s = 0; s < SERIES_COUNT; ++s)
        if (chart.Legend()->IsListed(SeriesAt(s)) && !chart.Legend()->IsSwitchedOn(SeriesAt(s)))
            chart.Legend()->Entry(SeriesAt(s))->click();
    QApplication::processEvents();
    ASSERT_LT(chart.Series(ChartSeries::T_ms)->count(), 6000 / 3) << "the plot's columns hold fewer points";
    const QImage reduced = chart.grab().toImage();
    chart.SetLineReduction(false);
    QApplication::processEvents();
    ASSERT_EQ(chart.Series(ChartSeries::T_ms)->count(), 6000);
    const QImage whole = chart.grab().toImage();
    ASSERT_EQ(reduced.size(), whole.size());
    // Antialiased shading differs slightly where lines cross in another
    // order; a pixel counts when a channel is off by more than a quarter.
    constexpr int SHOWN_DIFFERENCE = 64;
    long differing = 0, shaded = 0;
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x) {
            const QColor a = reduced.pixelColor(x, y), b = whole.pixelColor(x, y);
            const int most = std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                                       std::abs(a.blue() - b.blue())});
            if (most > SHOWN_DIFFERENCE) ++differing;
            else if (most > 0) ++shaded;
        }
    const double pixels = double(whole.width()) * whole.height();
    EXPECT_LT(differing / pixels, 0.005) << differing << " of " << pixels << " pixels differ by more than "
                                         << SHOWN_DIFFERENCE;
    std::printf("reduced against whole lines: %.3f %% of the chart's pixels differ by more than %d, %.3f %% less\n",
                100 * differing / pixels, SHOWN_DIFFERENCE, 100 * shaded / pixels);
}

// The year controls take and show the calendar years released: those of
// the record with weather from file (1961 on), 1, 2, ... with simulated
// weather. Typed digits that start a released year wait for the rest; others
// are corrected to the nearest released year.
TEST(ChartViews, YearSelectorTakesTheReleasedCalendarYears) {
    struct Typed {
        const char* text;
        int year;         // the year drawn afterwards
        const char* box;  // the box's text afterwards
    };
    struct Run {
        const char* what;
        bool fromFile;
        int first;  // calendar year of year index 1
        std::vector<Typed> typed;
    };
    const Run runs[] = {
        {"weather from file",
         true,
         1961,
         {{"1963", 1963, "1963"},
          {"0", 1961, "1961"},
          {"2", 1965, "1965"},
          {"1970", 1965, "1965"},
          {"18", 1961, "1961"},
          {"1962", 1962, "1962"},
          {"196", 1962, "196"},  // the start of 1961..1965: the chart keeps 1962
          {"1964", 1964, "1964"},
          {"99999999999999999999", 1965, "1965"}}},
        {"simulated weather",
         false,
         1,
         {{"3", 3, "3"}, {"0", 1, "1"}, {"9", 5, "5"}, {"77", 5, "5"}, {"4", 4, "4"}}},
    };
    for (const Run& run : runs) {
        auto model = run.fromFile ? FileRunModel(run.first, 8) : SimulatedRunModel(6);
        testing::CommandedWindow window(*model);
        TMainForm& form = window.form;
        const TMainFormControls& ui = form.Controls();
        testing::ReleaseYears(window, 5);
        EXPECT_FALSE(ui.YearBox->isEnabled()) << run.what;
        EXPECT_EQ(ui.YearSlider->minimum(), run.first) << run.what;
        EXPECT_EQ(ui.YearSlider->maximum(), run.first + 4) << run.what;

        // The user picks "Annual course": the year controls come on at the first year.
        QTest::keyClick(ui.ChartViewBox, Qt::Key_Down);
        ASSERT_EQ(form.SelectedMonth(), 1);
        for (QWidget* control : {static_cast<QWidget*>(ui.YearLabel), static_cast<QWidget*>(ui.YearBox),
                                 static_cast<QWidget*>(ui.YearSlider), static_cast<QWidget*>(ui.YearSpinner)})
            EXPECT_TRUE(control->isEnabled()) << run.what << ": " << control->objectName().toStdString();
        EXPECT_EQ(ui.YearBox->text(), QString::number(run.first)) << run.what;

        const QLineSeries& tair = *ui.Chart->Series(ChartSeries::Tair);
        const auto expectDrawn = [&](int year, const std::string& after) {
            EXPECT_EQ(ui.YearSlider->value(), year) << run.what << ", " << after;
            EXPECT_EQ(form.SelectedYear(), year - run.first + 1) << run.what << ", " << after;
            ASSERT_EQ(tair.count(), 12) << run.what << ", " << after;
            EXPECT_EQ(tair.at(6).y(), model->Results.At(year - run.first + 1, 7).Tair) << run.what << ", " << after;
            EXPECT_TRUE(ui.Chart->Title().contains(QString("Annual course, %1)").arg(year)))
                << run.what << ", " << after << ": title " << ui.Chart->Title().toStdString();
        };
        for (const Typed& t : run.typed) {
            ui.YearBox->clear();
            QTest::keyClicks(ui.YearBox, t.text);
            EXPECT_EQ(ui.YearBox->text(), t.box) << run.what << ", typed " << t.text;
            expectDrawn(t.year, std::string("typed ") + t.text);
        }
        // Unfinished digits left with Enter give way to the year drawn.
        if (ui.YearBox->text() != QString::number(ui.YearSlider->value())) {
            QTest::keyClick(ui.YearBox, Qt::Key_Return);
            EXPECT_EQ(ui.YearBox->text(), QString::number(ui.YearSlider->value())) << run.what << ", Enter";
        }

        // The slider's keys step through the calendar years.
        ui.YearSlider->setFocus();
        QTest::keyClick(ui.YearSlider, Qt::Key_Home);
        EXPECT_EQ(ui.YearBox->text(), QString::number(run.first)) << run.what << ", Home";
        QTest::keyClick(ui.YearSlider, Qt::Key_Right);
        EXPECT_EQ(ui.YearBox->text(), QString::number(run.first + 1)) << run.what << ", Right";
        expectDrawn(run.first + 1, "Home, Right");

        // Another Step widens the range and keeps the year drawn.
        testing::ReleaseYears(window, 7);
        EXPECT_EQ(ui.YearSlider->maximum(), run.first + 6) << run.what << ", 7 years released";
        QTest::keyClick(ui.YearSlider, Qt::Key_End);
        expectDrawn(run.first + 6, "7 years released, End");
    }
}

// The annual course's title names its calendar year; views of many years name none.
TEST(ChartViews, OnlyTheAnnualCourseTitleNamesAYear) {
    auto model = FileRunModel(1961, 8);
    testing::CommandedWindow window(*model);
    TMainForm& form = window.form;
    const TMainFormControls& ui = form.Controls();
    testing::ReleaseYears(window, 5);
    for (const int tab : {0, 3}) {
        ui.Pages->setCurrentIndex(tab);
        for (int view = 0; view < ui.ChartViewBox->count(); ++view) {
            ui.ChartViewBox->setCurrentIndex(view);
            form.ChartViewChosen();
            if (view == 1) form.SetSelectedYear(4);
            int named = 0;
            for (int year = 1961; year <= 1965; ++year) named += ui.Chart->Title().contains(QString::number(year));
            EXPECT_EQ(named, view == 1 ? 1 : 0) << "tab " << tab << ", view " << view << ": title "
                                                << ui.Chart->Title().toStdString();
            if (view == 1) {
                EXPECT_TRUE(ui.Chart->Title().contains("1964")) << ui.Chart->Title().toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace kelmar::ui
