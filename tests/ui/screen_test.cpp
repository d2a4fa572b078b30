// What the screen shows after the event loop painted, compared with what it
// should show. A widget grab renders the widget anew and so looks right even
// when the pixels on screen are stale; these tests read the window's pixels
// as the platform holds them (the backing store offscreen, the X server's
// frame buffer under Xvfb).
#include <QApplication>
#include <QCheckBox>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"
#include "ui/ui_fixtures.h"

namespace kelmar::ui {
namespace {

using testing::CommandedWindow;

// Lets the event loop lay out and paint everything that is pending.
void Settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(20);
    }
}

// The pixels of `widget` as they are on screen now.
QImage OnScreen(QWidget& widget) {
    QWidget& window = *widget.window();
    const QPoint origin = widget.mapTo(&window, QPoint(0, 0));
    const QPixmap shot = window.screen()->grabWindow(window.winId(), origin.x(), origin.y(), widget.width(),
                                                     widget.height());
    return shot.toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels that differ by more than `tolerance` in some colour channel.
int DifferingPixels(const QImage& a, const QImage& b, int tolerance = 24) {
    if (a.size() != b.size()) return a.width() * a.height() + 1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
                std::abs(qBlue(p) - qBlue(q)) > tolerance)
                ++count;
        }
    return count;
}

// Ticking a second moisture series rescales the right axis: the first
// series' line, the axis labels and everything else must be redrawn at the
// new scale, not left where the old scale put them.
TEST(Screen, ChartRedrawsEverySeriesWhenAnAxisRescales) {
    struct Case {
        const char* what;
        int years;
        std::vector<ChartSeries> ticks;
    };
    const Case cases[] = {
        {"W_ff %vol., then W_ff %m.", 20, {ChartSeries::W_ff_vol, ChartSeries::W_ff_mass}},
        {"500 years, W_ff %vol., then W_ff %m.", 500, {ChartSeries::W_ff_vol, ChartSeries::W_ff_mass}},
        {"T_ms, then T_ff, then W_ms %m.", 3, {ChartSeries::T_ms, ChartSeries::T_ff, ChartSeries::W_ms_mass}},
    };
    for (const Case& c : cases) {
        auto model = testing::SimulatedRunModel(11);
        CommandedWindow window(*model);
        TMainForm& form = window.form;
        form.resize(1000, 620);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        testing::ReleaseYears(window, c.years);
        Settle();
        form.Controls().Pages->setCurrentIndex(3);
        LineChart& chart = *form.Controls().Chart;
        Settle();
        for (const ChartSeries series : c.ticks) {
            // Press and release as a person does, with the pressed box painted in between.
            QCheckBox& box = *chart.Legend()->Entry(series);
            QTest::mousePress(&box, Qt::LeftButton, {}, QPoint(8, box.height() / 2));
            Settle();
            QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(8, box.height() / 2));
            Settle();
        }
        const QImage screen = OnScreen(chart);
        const QImage fresh = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int differing = DifferingPixels(screen, fresh);
        if (differing > 0) {
            screen.save(QString("chart-on-screen-%1.png").arg(&c - cases));
            fresh.save(QString("chart-fresh-%1.png").arg(&c - cases));
        }
        EXPECT_EQ(differing, 0) << c.what << ": pixels on screen that a fresh drawing of the chart does not have "
                                << "(saved as chart-on-screen-N.png and chart-fresh-N.png)";
    }
}

}  // namespace
}  // namespace kelmar::ui
