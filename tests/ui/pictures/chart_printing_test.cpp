// The chart printed without a dialog, here into a PDF file.
#include <gtest/gtest.h>

#include <QPrinter>
#include <QPrinterInfo>

#include <cmath>
#include <regex>

#include "io/io_test_support.h"
#include "model/errors.h"
#include "ui/pictures/chart_printing.h"
#include "ui/pictures/test_chart.h"

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

TEST(DefaultPrinter, TheSystemsDefaultOrAClearError) {
    const QPrinterInfo system = QPrinterInfo::defaultPrinter();
    if (system.isNull()) {
        try {
            DefaultPrinter();
            ADD_FAILURE() << "a printer where the system has none";
        } catch (const KelmarError& e) {
            EXPECT_STREQ(e.what(), "The chart cannot be printed: no printer is installed.");
        }
    } else {
        const auto printer = DefaultPrinter();
        EXPECT_EQ(printer->printerName(), system.printerName());
        EXPECT_EQ(printer->outputFormat(), QPrinter::NativeFormat);
    }
}

}  // namespace
}  // namespace kelmar::ui
