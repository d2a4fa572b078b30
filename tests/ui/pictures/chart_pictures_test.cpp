// The chart saved as a Windows bitmap and as a standard Windows metafile,
// the metafile read back by an independent reader.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

#include <functional>
#include <algorithm>
#include <map>
#include <regex>
#include <string>

#include "io/io_test_support.h"
#include "model/errors.h"
#include "ui/pictures/chart_pictures.h"
#include "ui/pictures/test_chart.h"
#include "ui/pictures/viewer_tools.h"
#include "ui/pictures/wmf_reading.h"

namespace kelmar::ui {
namespace {

using kelmar::testing::EntryCount;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;
using testing::CHART_BACKGROUND;
using testing::TEST_SERIES;
using testing::TestChart;

std::uint32_t Little(const std::string& bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

TEST(SaveWidgetAsBitmap, A24BitBitmapOfTheChartsSizeAndColours) {
    TestChart chart;
    TempDir dir;
    const std::string name = dir.File("01.02.2025_09.03.07.bmp");
    SaveWidgetAsBitmap(chart.Widget(), QString::fromStdString(name));
    const std::string bmp = ReadBytes(name);

    constexpr std::size_t FILE_HEADER = 14, INFO_HEADER = 40;
    ASSERT_GT(bmp.size(), FILE_HEADER + INFO_HEADER);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Little(bmp, 2, 4), bmp.size()) << "file size";
    EXPECT_EQ(Little(bmp, 10, 4), FILE_HEADER + INFO_HEADER) << "pixels right after the headers";
    EXPECT_EQ(Little(bmp, 14, 4), INFO_HEADER) << "a BITMAPINFOHEADER";
    EXPECT_EQ(Little(bmp, 18, 4), static_cast<std::uint32_t>(testing::CHART_WIDTH));
    EXPECT_EQ(Little(bmp, 22, 4), static_cast<std::uint32_t>(testing::CHART_HEIGHT)) << "positive: rows bottom up";
    EXPECT_EQ(Little(bmp, 26, 2), 1u) << "planes";
    EXPECT_EQ(Little(bmp, 28, 2), 24u) << "bits per pixel";
    EXPECT_EQ(Little(bmp, 30, 4), 0u) << "not compressed";
    const std::size_t stride = (testing::CHART_WIDTH * 3 + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), FILE_HEADER + INFO_HEADER + stride * testing::CHART_HEIGHT);

    std::map<QRgb, int> pixels;
    for (std::size_t row = 0; row < testing::CHART_HEIGHT; ++row)
        for (std::size_t x = 0; x < testing::CHART_WIDTH; ++x) {
            const std::size_t at = FILE_HEADER + INFO_HEADER + row * stride + 3 * x;
            ++pixels[qRgb(static_cast<unsigned char>(bmp[at + 2]), static_cast<unsigned char>(bmp[at + 1]),
                          static_cast<unsigned char>(bmp[at]))];
        }
    EXPECT_EQ(Little(bmp, FILE_HEADER + INFO_HEADER, 3), CHART_BACKGROUND.rgb() & 0xFFFFFF)
        << "bottom left corner in the background colour";
    for (const testing::TestSeries& series : TEST_SERIES)
        EXPECT_GT(pixels[series.Color.rgb()], 500) << series.Name << " is not drawn in its colour";
}

// The texts of the SVG elements in document order, run together.
std::string SvgText(const std::string& svg) {
    static const std::regex TEXT(R"(<text[^>]*>([^<]*)</text>)");
    std::string text;
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), TEXT); m != std::sregex_iterator(); ++m)
        text += (*m)[1].str();
    return text;
}

// The points of each polyline drawn in `colour` (a name the reader gives).
std::vector<int> SvgPolylinePoints(const std::string& svg, const std::string& colour) {
    static const std::regex POLYLINE(R"re(<polyline points="([^"]*)"[^>]*stroke:([a-z]+)" />)re");
    static const std::regex POINT(R"(-?[0-9.]+,-?[0-9.]+)");
    std::vector<int> lines;
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), POLYLINE); m != std::sregex_iterator(); ++m) {
        if ((*m)[2].str() != colour) continue;
        const std::string points = (*m)[1].str();
        lines.push_back(static_cast<int>(
            std::distance(std::sregex_iterator(points.begin(), points.end(), POINT), std::sregex_iterator())));
    }
    return lines;
}

TEST(SaveWidgetAsMetafile, AnIndependentReaderFindsTheSeriesTitlesAndLegend) {
    const QString reader = KELMAR_WMF2SVG;
    ASSERT_TRUE(QFileInfo(reader).isExecutable())
        << "wmf2svg (Debian package libwmf-bin) was not found when the build was configured: install it "
           "(scripts/install-deps.sh does) and configure again";
    TestChart chart;
    TempDir dir;
    const std::string wmf = dir.File("01.02.2025_09.03.07.wmf");
    const std::string svg = dir.File("chart.svg");
    SaveWidgetAsMetafile(chart.Widget(), QString::fromStdString(wmf));

    QProcess process;
    process.start(reader, {"-o", QString::fromStdString(svg), QString::fromStdString(wmf)});
    ASSERT_TRUE(process.waitForFinished(30000)) << "wmf2svg did not finish";
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const std::string drawing = ReadBytes(svg);

    // One line of all the months per series, in the series' colour.
    const std::map<std::string, std::string> colourNames{{"Tair", "red"}, {"Tsoil", "green"}, {"Prec", "blue"}};
    for (const testing::TestSeries& series : TEST_SERIES)
        EXPECT_EQ(SvgPolylinePoints(drawing, colourNames.at(series.Name)), std::vector<int>{testing::MONTHS})
            << series.Name;
    const std::string texts = SvgText(drawing);
    // Single-byte text: the degree sign and the Cyrillic Es are bytes 0xB0 and 0xD1.
    for (const std::string& title : {std::string(testing::CHART_TITLE), std::string(testing::BOTTOM_TITLE),
                                    std::string("Temperature, \xB0\xD1"), std::string(testing::RIGHT_TITLE),
                                    std::string(testing::LEGEND_ENTRY)})
        EXPECT_NE(texts.find(title), std::string::npos) << "\"" << title << "\" not in: " << texts;

    testing::Play(testing::ReadWmf(ReadBytes(wmf)));  // a sound object table
}

// The text of each SVG text element, its tspans' tags left out.
std::vector<std::string> SvgTexts(const std::string& svg) {
    static const std::regex TEXT(R"(<text[^>]*>((?:[^<]|<tspan[^>]*>|</tspan>)*)</text>)");
    static const std::regex TAG(R"(</?tspan[^>]*>)");
    std::vector<std::string> texts;
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), TEXT); m != std::sregex_iterator(); ++m)
        texts.push_back(std::regex_replace((*m)[1].str(), TAG, ""));
    return texts;
}

// Where the dark ink of texts and axes lies in the columns [left, right) of `image`.
QRect DarkInk(const QImage& image, int left, int right) {
    constexpr int DARK = 128;  // grey level: text and axes, not the pale background
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = left; x < right; ++x)
            if (qGray(image.pixel(x, y)) < DARK) box |= QRect(x, y, 1, 1);
    return box;
}

// Each title is one text element, so a viewer with fonts of other widths
// still writes its letters one after another; rsvg-convert draws the
// temperature axis's title as long as the screen shows it.
TEST(SaveWidgetAsSvg, EachTitleIsOneTextThatAViewerDrawsAsTheScreenDoes) {
    TestChart chart;
    TempDir dir;
    const std::string name = dir.File("chart.svg");
    SaveWidgetAsSvg(chart.Widget(), QString::fromStdString(name));
    const std::vector<std::string> texts = SvgTexts(ReadBytes(name));
    std::string all;
    for (const std::string& t : texts) all += "[" + t + "]";
    for (const char* title : {testing::CHART_TITLE, testing::BOTTOM_TITLE, testing::LEFT_TITLE, testing::RIGHT_TITLE,
                              testing::LEGEND_ENTRY})
        EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string(title)), 1)
            << "\"" << title << "\" is not one text element of: " << all;

    const QString rsvg = testing::ViewerTool("rsvg-convert");
    if (rsvg.isEmpty()) GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
    const QString png = QString::fromStdString(dir.File("chart.png"));
    ASSERT_TRUE(testing::RunTool(rsvg, {"-o", png, QString::fromStdString(name)}));
    const QImage drawn(png);
    const QImage shown = chart.Widget().grab().toImage();
    ASSERT_EQ(drawn.size(), shown.size());
    // The title turned a quarter, the first columns of ink from the left on
    // screen; a blank column parts it from the ticks' labels.
    int first = 0;
    while (first < shown.width() && DarkInk(shown, first, first + 1).isEmpty()) ++first;
    int end = first;
    while (end < shown.width() && !DarkInk(shown, end, end + 1).isEmpty()) ++end;
    constexpr int TOLERANCE_PIXELS = 2;
    const QRect viewer = DarkInk(drawn, 0, end), screen = DarkInk(shown, 0, end);
    ASSERT_GT(screen.height(), 50) << "no title found in the columns " << first << " to " << end;
    EXPECT_NEAR(viewer.top(), screen.top(), TOLERANCE_PIXELS) << "title's end, pixels";
    EXPECT_NEAR(viewer.bottom(), screen.bottom(), TOLERANCE_PIXELS) << "title's start, pixels";
    EXPECT_NEAR(viewer.left(), screen.left(), TOLERANCE_PIXELS) << "title's top, pixels";
}

// A scenario's series name holds "×", which Windows-1251 lacks: libwmf's
// reader finds it as its Western byte (libwmf ignores the character set and
// copies the bytes, so its text is read as Latin-1 here), not as "?".
TEST(SaveWidgetAsMetafile, ALegendTextOutsideTheCyrillicCodePageKeepsItsCharacters) {
    const QString reader = KELMAR_WMF2SVG;
    if (!QFileInfo(reader).isExecutable()) GTEST_SKIP() << "wmf2svg (libwmf-bin) is not installed";
    TestChart chart;
    const QString scenarioSeries = QString::fromUtf8("precipitation \u00d7 0.9");
    auto* entry = new QCheckBox(scenarioSeries, &chart.Widget());
    entry->move(testing::CHART_WIDTH - 200, testing::CHART_HEIGHT / 4);
    entry->show();
    TempDir dir;
    const std::string wmf = dir.File("chart.wmf"), svg = dir.File("chart.svg");
    SaveWidgetAsMetafile(chart.Widget(), QString::fromStdString(wmf));
    ASSERT_TRUE(testing::RunTool(reader, {"-o", QString::fromStdString(svg), QString::fromStdString(wmf)}));
    const QString texts = QString::fromLatin1(SvgText(ReadBytes(svg)));
    for (const QString& title : {scenarioSeries, QString::fromUtf8(testing::LEGEND_ENTRY)})
        EXPECT_TRUE(texts.contains(title)) << "\"" << title.toStdString() << "\" not in: " << texts.toStdString();
}

TEST(ChartPictures, ASaveReplacesTheFileOrNamesItAndLeavesNothing) {
    struct Case {
        const char* what;
        std::function<void(QWidget&, const QString&)> save;
    };
    const Case cases[] = {{"bitmap", SaveWidgetAsBitmap}, {"metafile", SaveWidgetAsMetafile}};
    for (const Case& c : cases) {
        TestChart chart;
        TempDir dir;
        const std::string existing = dir.File("08.12.2024_21.05.09.pic");
        WriteBytes(existing, "old");
        c.save(chart.Widget(), QString::fromStdString(existing));
        EXPECT_GT(ReadBytes(existing).size(), 100u) << c.what << " did not replace the file of the same name";
        EXPECT_EQ(EntryCount(dir.Folder()), 1) << c.what << " left a temporary file";

        const std::string unwritable = dir.File("missing") + "/08.12.2024_21.05.09.pic";
        QWidget empty;
        empty.resize(0, 0);
        for (QWidget* widget : {static_cast<QWidget*>(&chart.Widget()), &empty}) {
            try {
                c.save(*widget, QString::fromStdString(unwritable));
                ADD_FAILURE() << c.what << ": no error for " << unwritable;
            } catch (const KelmarError& e) {
                EXPECT_NE(std::string(e.what()).find("\"" + unwritable + "\""), std::string::npos)
                    << c.what << ": " << e.what();
            }
        }
        EXPECT_EQ(EntryCount(dir.Folder()), 1) << c.what;
    }
}

}  // namespace
}  // namespace kelmar::ui
