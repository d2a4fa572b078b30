// The chart saved as PDF, drawn by pdftoppm, shows its legend as the screen
// does: each series' line sample in the series' colour.
#include <QCheckBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "io/io_test_support.h"
#include "ui/form/main_form.h"
#include "ui/pictures/chart_pictures.h"
#include "ui/pictures/viewer_tools.h"
#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"
#include "ui/ui_fixtures.h"

namespace kelmar::ui {
namespace {

// The largest difference of one colour channel between two pixels.
int Difference(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Where `entry` shows a colour of its own (not grey, white or black): its line sample.
QRect ColouredPixels(const QImage& chart, const QRect& entry) {
    constexpr int COLOURED = 60;  // spread of the channels of a pixel that is no grey
    QRect box;
    for (int y = entry.top(); y <= entry.bottom(); ++y)
        for (int x = entry.left(); x <= entry.right(); ++x) {
            const QRgb p = chart.pixel(x, y);
            if (std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)}) > COLOURED)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

TEST(ChartPdf, LegendLineSamplesKeepTheScreensColours) {
    const QString pdftoppm = testing::ViewerTool("pdftoppm");
    if (pdftoppm.isEmpty()) GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    auto model = kelmar::testing::SimulatedRunModel(5);
    kelmar::testing::CommandedWindow window(*model);
    window.form.resize(1000, 600);
    window.form.show();
    kelmar::testing::ReleaseYears(window, 3);
    LineChart& chart = *window.form.Controls().Chart;
    kelmar::testing::TempDir dir;
    const std::string pdf = dir.File("chart.pdf");
    SaveWidgetAsPdf(chart, QString::fromStdString(pdf));
    const QImage shown = chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage page = testing::PdfPage(pdftoppm, pdf, chart.logicalDpiX());
    // The page is the chart's size in points, which pdftoppm rounds.
    ASSERT_LE(std::abs(page.width() - shown.width()) + std::abs(page.height() - shown.height()), 2)
        << "page of " << page.width() << " x " << page.height() << " pixels";

    // Pixels may land one pixel over; a sample with a dark edge or a paler
    // colour differs by far more than antialiasing does.
    constexpr int SHIFT = 1, TOLERANCE = 48, AROUND = 2;
    int samples = 0;
    for (int i = 0; i < SERIES_COUNT; ++i) {
        const QCheckBox* entry = chart.Legend()->Entry(SeriesAt(i));
        if (entry->isHidden()) continue;
        const QRect place(entry->mapTo(&chart, QPoint(0, 0)), entry->size());
        const QRect sample = ColouredPixels(shown, place);
        ASSERT_FALSE(sample.isEmpty()) << entry->text().toStdString() << ": no coloured sample on screen";
        ++samples;
        const QRect compared = sample.adjusted(-AROUND, -AROUND, AROUND, AROUND);
        int best = 256;
        for (int dy = -SHIFT; dy <= SHIFT; ++dy)
            for (int dx = -SHIFT; dx <= SHIFT; ++dx) {
                int worst = 0;
                for (int y = compared.top(); y <= compared.bottom(); ++y)
                    for (int x = compared.left(); x <= compared.right(); ++x)
                        worst = std::max(worst, page.valid(x + dx, y + dy)
                                                    ? Difference(shown.pixel(x, y), page.pixel(x + dx, y + dy))
                                                    : 255);
                best = std::min(best, worst);
            }
        EXPECT_LE(best, TOLERANCE) << entry->text().toStdString() << ": the PDF's line sample differs from the "
                                   << "screen's by up to " << best << " in a colour channel (tolerance " << TOLERANCE
                                   << ", shifted up to " << SHIFT << " pixel)";
    }
    EXPECT_GE(samples, 3) << "legend entries listed";
}

}  // namespace
}  // namespace kelmar::ui
