// The chart printed into a PDF file, its page drawn by pdftoppm.
#include <gtest/gtest.h>

#include <QPrinter>
#include <QPrinterInfo>

#include <cmath>
#include <regex>

#include "io/io_test_support.h"
#include "model/errors.h"
#include "ui/pictures/chart_printing.h"
#include "ui/pictures/test_chart.h"
#include "ui/pictures/viewer_tools.h"

namespace kelmar::ui {
namespace {

using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using testing::TestChart;

int Count(const std::string& text, const std::regex& pattern) {
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

TEST(PrintWidget, OnePageWithTheChartDrawnAtPrintResolution) {
    TestChart chart;
    TempDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.File("chart.pdf")));
    PrintWidget(chart.Widget(), printer);

    const std::string pdf = ReadBytes(dir.File("chart.pdf"));
    ASSERT_GT(pdf.size(), 10000u);
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_NE(pdf.find("%%EOF", pdf.size() - 16), std::string::npos);
    EXPECT_EQ(Count(pdf, std::regex("/Type /Page[^s]")), 1) << "pages";
    // The chart fills the width (or the height) of the printable area, drawn
    // at 300 dots per inch and kept without loss.
    const double scale = std::min(static_cast<double>(printer.width()) / testing::CHART_WIDTH,
                                  static_cast<double>(printer.height()) / testing::CHART_HEIGHT);
    const double dots = testing::CHART_WIDTH * scale * 300 / printer.resolution();
    std::smatch image;
    ASSERT_TRUE(std::regex_search(pdf, image, std::regex(R"(/Subtype /Image\s*/Width (\d+))"))) << "no image";
    EXPECT_NEAR(std::stoi(image[1].str()), dots, 1.0) << "image width in dots";
    EXPECT_EQ(Count(pdf, std::regex("/DCTDecode")), 0) << "compressed as a photograph";
}

// The chart on A4 paper as pdftoppm draws the page: as wide or as high as
// the margins allow, its proportions kept, its middle the sheet's middle.
TEST(PrintWidget, TheChartFillsThePageWithinItsMarginsCentredOnTheSheet) {
    const QString pdftoppm = testing::ViewerTool("pdftoppm");
    if (pdftoppm.isEmpty()) GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    constexpr int DOTS_PER_INCH = 72;
    constexpr double MM_PER_INCH = 25.4;
    // A quarter of the 2 mm a ruler shows; the page is drawn at 0.35 mm a dot.
    constexpr double TOLERANCE_MM = 1.0;
    const struct {
        const char* name;
        QPageLayout::Orientation orientation;
        QMarginsF margins;  // mm: left, top, right, bottom
        double width, height;  // mm the chart should take: 640 x 400 screen pixels, 1.6 : 1
    } cases[] = {
        {"portrait", QPageLayout::Portrait, {15, 15, 15, 15}, 180, 112.5},
        {"landscape", QPageLayout::Landscape, {15, 15, 15, 15}, 267, 166.875},
        {"landscape, narrow top", QPageLayout::Landscape, {10, 5, 10, 10}, 277, 173.125},
        {"portrait, wide right margin", QPageLayout::Portrait, {10, 10, 45, 10}, 120, 75},
        {"landscape, wide bottom margin", QPageLayout::Landscape, {10, 10, 10, 60}, 144, 90},
    };
    TestChart chart;
    TempDir dir;
    for (const auto& c : cases) {
        const std::string pdf = dir.File(std::string(c.name) + ".pdf");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageOrientation(c.orientation);
        printer.setPageMargins(c.margins, QPageLayout::Millimeter);
        PrintWidget(chart.Widget(), printer);

        const QImage page = testing::PdfPage(pdftoppm, pdf, DOTS_PER_INCH);
        ASSERT_FALSE(page.isNull()) << c.name;
        const double mm = MM_PER_INCH / DOTS_PER_INCH;
        const QSizeF sheet = c.orientation == QPageLayout::Portrait ? QSizeF(210, 297) : QSizeF(297, 210);
        EXPECT_NEAR(page.width() * mm, sheet.width(), TOLERANCE_MM) << c.name << ": page width, mm";
        EXPECT_NEAR(page.height() * mm, sheet.height(), TOLERANCE_MM) << c.name << ": page height, mm";
        const QRect ink = testing::InkBox(page);
        const double left = ink.left() * mm, right = (ink.right() + 1) * mm;
        const double top = ink.top() * mm, bottom = (ink.bottom() + 1) * mm;
        const std::string drawn = std::string(c.name) + ": chart drawn from (" + std::to_string(left) + ", " +
                                  std::to_string(top) + ") to (" + std::to_string(right) + ", " +
                                  std::to_string(bottom) + ") mm, tolerance " + std::to_string(TOLERANCE_MM) + " mm";
        EXPECT_NEAR(right - left, c.width, TOLERANCE_MM) << drawn << "; width";
        EXPECT_NEAR(bottom - top, c.height, TOLERANCE_MM) << drawn << "; height";
        EXPECT_NEAR((left + right) / 2, sheet.width() / 2, TOLERANCE_MM) << drawn << "; middle across";
        EXPECT_NEAR((top + bottom) / 2, sheet.height() / 2, TOLERANCE_MM) << drawn << "; middle down";
        EXPECT_GE(left, c.margins.left() - TOLERANCE_MM) << drawn << "; inside the left margin";
        EXPECT_GE(top, c.margins.top() - TOLERANCE_MM) << drawn << "; inside the top margin";
        EXPECT_LE(right, sheet.width() - c.margins.right() + TOLERANCE_MM) << drawn << "; inside the right margin";
        EXPECT_LE(bottom, sheet.height() - c.margins.bottom() + TOLERANCE_MM) << drawn << "; inside the bottom margin";
    }
}

TEST(PrintWidget, AFailureNamesTheDestination) {
    TestChart chart;
    TempDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const std::string unwritable = dir.File("missing") + "/chart.pdf";
    printer.setOutputFileName(QString::fromStdString(unwritable));
    try {
        PrintWidget(chart.Widget(), printer);
        ADD_FAILURE() << "no error for " << unwritable;
    } catch (const KelmarError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The chart cannot be printed on \"" + unwritable + "\": the printer cannot be opened.");
    }
}

TEST(DefaultPrinter, TheSystemsDefaultOrAPdfFileWhereItHasNone) {
    const QPrinterInfo system = QPrinterInfo::defaultPrinter();
    const auto printer = DefaultPrinter();
    if (system.isNull()) {
        EXPECT_EQ(printer->outputFormat(), QPrinter::PdfFormat);
        EXPECT_TRUE(printer->outputFileName().endsWith("/chart.pdf")) << printer->outputFileName().toStdString();
    } else {
        EXPECT_EQ(printer->printerName(), system.printerName());
        EXPECT_EQ(printer->outputFormat(), QPrinter::NativeFormat);
    }
}

}  // namespace
}  // namespace kelmar::ui
