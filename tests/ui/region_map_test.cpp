// The map of a region as the module of `kelmar-cli map` writes it and as the
// window's widget shows and saves it: each site's dot where its latitude and
// longitude project and in its value's colour, in the PNG image and in the
// SVG and PDF files as independent viewers draw them.
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>

#include "app/region/colour_maps.h"
#include "app/region/region_map.h"
#include "io/io_test_support.h"
#include "ui/pictures/viewer_tools.h"
#include "ui/region/region_map_painter.h"
#include "ui/region/region_map_widget.h"
#include "ui/ui_fixtures.h"

namespace kelmar::ui {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The writer as kelmar-cli gets it: from the built module, by its symbol.
std::unique_ptr<region::RegionMapWriter> ModuleWriter() {
    void* module = dlopen(KELMAR_REGION_MAP_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        ADD_FAILURE() << dlerror();
        return nullptr;
    }
    using Maker = region::RegionMapWriter* (*)();
    auto make = reinterpret_cast<Maker>(dlsym(module, "kelmar_new_region_map_writer"));
    if (!make) {
        ADD_FAILURE() << "no kelmar_new_region_map_writer in " << KELMAR_REGION_MAP_MODULE;
        return nullptr;
    }
    return std::unique_ptr<region::RegionMapWriter>(make());
}

// Five sites in southern Finland, one without a value.
region::RegionMap Finland() {
    region::RegionMap map;
    map.Ids = {"turku", "joensuu", "jyvaskyla", "oulu", "tampere"};
    map.Lat = {60.45, 62.6, 62.24, 65.0, 61.5};
    map.Lon = {22.27, 29.76, 25.75, 25.47, 23.76};
    map.Value = {6.1, 3.2, 4.4, NaN, 5.0};
    map.Title = "t_ms, mean of July, 2071-2100";
    map.Quantity = "mineral-soil temperature under the forest";
    map.Units = "degC";
    return map;
}

// Changes of both signs, and none, about central Europe.
region::RegionMap Changes() {
    region::RegionMap map;
    map.Ids = {"west", "middle", "east"};
    map.Lat = {50, 52, 54};
    map.Lon = {10, 14, 18};
    map.Value = {-3, 0, 1.5};
    map.Title = "t_ms, warm minus base";
    map.Quantity = "mineral-soil temperature under the forest";
    map.Units = "degC";
    map.Diverging = true;
    return map;
}

int Difference(QRgb a, const region::Rgb& b) {
    return std::max({std::abs(qRed(a) - b.R), std::abs(qGreen(a) - b.G), std::abs(qBlue(a) - b.B)});
}

// The colour each value should have, worked out here from the values alone:
// viridis from the least to the greatest, or the diverging map across
// -max|v| .. +max|v|.
std::optional<region::Rgb> ExpectedColour(const region::RegionMap& map, double value) {
    if (std::isnan(value)) return std::nullopt;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double v : map.Value)
        if (!std::isnan(v)) low = std::min(low, v), high = std::max(high, v);
    if (map.Diverging) {
        const double reach = std::max(std::fabs(low), std::fabs(high));
        return region::BlueWhiteRed((value + reach) / (2 * reach));
    }
    return region::Viridis((value - low) / (high - low));
}

// The pixel centre a site should have: the equirectangular formula, a
// degree of longitude cos(mean latitude of the sites) as wide as one of
// latitude, over the view in the frame.
QPointF ExpectedPixel(const region::RegionMap& map, std::size_t site, const region::MapView& view,
                      const QRectF& frame) {
    return {frame.left() + (map.Lon[site] - view.West) / (view.East - view.West) * frame.width(),
            frame.top() + (view.North - map.Lat[site]) / (view.North - view.South) * frame.height()};
}

double MeanLatitudeCos(const region::RegionMap& map) {
    double sum = 0;
    for (double lat : map.Lat) sum += lat;
    return std::cos(sum / static_cast<double>(map.Lat.size()) * M_PI / 180);
}

// The frame as drawn: from a point inside it, outwards to the white paper
// around it (three white pixels in a row: no graticule line is that wide),
// as left, top, right and bottom ends past its edge.
QRectF DrawnFrame(const QImage& image, const QPoint& inside) {
    const auto paper = [&](int x, int y) {
        return !image.rect().contains(x, y) || image.pixel(x, y) == qRgb(255, 255, 255);
    };
    const auto out = [&](int dx, int dy) {
        int x = inside.x(), y = inside.y();
        while (image.rect().contains(x, y) && !(paper(x, y) && paper(x + dx, y + dy) && paper(x + 2 * dx, y + 2 * dy)))
            x += dx, y += dy;
        return QPoint(x, y);
    };
    return QRectF(QPointF(out(-1, 0).x() + 1, out(0, -1).y() + 1), QPointF(out(1, 0).x(), out(0, 1).y()));
}

// Checks every site of `map` in `image`: the dot of a site with a value has
// its colour (within `tolerance` levels) at the centre and is centred (the
// mean of the pixels of its colour near there) within `offset` pixels of
// where its position projects; a site without a value has no colour there.
void ExpectDots(const QImage& image, const region::RegionMap& map, const region::MapView& view, const QRectF& frame,
                int tolerance, double offset, const std::string& what) {
    for (std::size_t i = 0; i < map.Ids.size(); ++i) {
        const QPointF at = ExpectedPixel(map, i, view, frame);
        const int cx = static_cast<int>(std::floor(at.x())), cy = static_cast<int>(std::floor(at.y()));
        ASSERT_TRUE(image.rect().contains(cx, cy)) << what << ": " << map.Ids[i] << " off the picture";
        const QRgb centre = image.pixel(cx, cy);
        const std::optional<region::Rgb> colour = ExpectedColour(map, map.Value[i]);
        if (!colour) {
            const int spread = std::max({qRed(centre), qGreen(centre), qBlue(centre)}) -
                               std::min({qRed(centre), qGreen(centre), qBlue(centre)});
            EXPECT_LE(spread, 3) << what << ": " << map.Ids[i] << " has no value but its centre is coloured #"
                                 << std::hex << (centre & 0xffffff);
            continue;
        }
        EXPECT_LE(Difference(centre, *colour), tolerance)
            << what << ": " << map.Ids[i] << " (" << map.Value[i] << ") at " << cx << "," << cy << " is #"
            << std::hex << (centre & 0xffffff) << ", expected #" << int(colour->R) << "," << int(colour->G) << ","
            << int(colour->B);
        double sx = 0, sy = 0, n = 0;
        for (int y = cy - 15; y <= cy + 15; ++y)
            for (int x = cx - 15; x <= cx + 15; ++x)
                if (image.rect().contains(x, y) && Difference(image.pixel(x, y), *colour) <= tolerance) {
                    sx += x + 0.5;
                    sy += y + 0.5;
                    ++n;
                }
        ASSERT_GT(n, 0) << what << ": " << map.Ids[i];
        EXPECT_NEAR(sx / n, at.x(), offset) << what << ": " << map.Ids[i] << " across";
        EXPECT_NEAR(sy / n, at.y(), offset) << what << ": " << map.Ids[i] << " down";
    }
}

// The frame of `map` drawn at `size`: the layout's, after checking that it
// is where the ground is drawn and keeps the proportions of the view at
// the mean latitude.
QRectF CheckedFrame(const QImage& image, const RegionMapPainter& painter, const std::string& what) {
    const QRectF frame = painter.Layout(QRectF(image.rect())).Frame;
    const QRectF drawn = DrawnFrame(image, frame.center().toPoint());
    EXPECT_NEAR(drawn.left(), frame.left(), 1.5) << what;
    EXPECT_NEAR(drawn.right(), frame.right(), 1.5) << what;
    EXPECT_NEAR(drawn.top(), frame.top(), 1.5) << what;
    EXPECT_NEAR(drawn.bottom(), frame.bottom(), 1.5) << what;
    const region::MapView view = painter.View();
    const double aspect = (view.East - view.West) * MeanLatitudeCos(painter.Map()) / (view.North - view.South);
    EXPECT_NEAR(frame.width() / frame.height(), aspect, 0.01 * aspect) << what;
    return frame;
}

TEST(RegionMapWriter, DrawsEachSiteAtItsPositionInItsColour) {
    const auto writer = ModuleWriter();
    ASSERT_TRUE(writer);
    kelmar::testing::TempDir dir;
    const QSize sizes[] = {{1200, 800}, {600, 400}, {500, 900}};
    for (const region::RegionMap& map : {Finland(), Changes()})
        for (const QSize& size : sizes) {
            const std::string what =
                map.Ids[0] + " at " + std::to_string(size.width()) + " x " + std::to_string(size.height());
            const std::string png = dir.File("map.png");
            writer->Write(map, png, size.width(), size.height());
            const QImage image = QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(image.size(), size) << what;
            const RegionMapPainter painter(map);
            const QRectF frame = CheckedFrame(image, painter, what);
            ExpectDots(image, map, painter.View(), frame, 2, 0.75, what);
        }
}

TEST(RegionMapWriter, SvgAndPdfDrawTheSameMapInOtherViewers) {
    const auto writer = ModuleWriter();
    ASSERT_TRUE(writer);
    kelmar::testing::TempDir dir;
    const region::RegionMap map = Finland();
    const RegionMapPainter painter(map);
    const QSize size(900, 600);
    const QRectF frame = painter.Layout(QRectF(QPointF(0, 0), size)).Frame;

    const std::string svg = dir.File("map.svg");
    writer->Write(map, svg, size.width(), size.height());
    QFile svgFile(QString::fromStdString(svg));
    ASSERT_TRUE(svgFile.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&svgFile);
    QStringList texts;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QStringLiteral("text"))
            texts << xml.readElementText(QXmlStreamReader::IncludeChildElements);
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(texts.contains(QString::fromStdString(map.Title))) << texts.join(" | ").toStdString();

    const std::string pdf = dir.File("map.pdf");
    writer->Write(map, pdf, size.width(), size.height());
    QFile pdfFile(QString::fromStdString(pdf));
    ASSERT_TRUE(pdfFile.open(QIODevice::ReadOnly));
    const QByteArray pdfBytes = pdfFile.readAll();
    EXPECT_TRUE(pdfBytes.startsWith("%PDF-"));
    EXPECT_TRUE(pdfBytes.trimmed().endsWith("%%EOF"));

    // Drawn by viewers of their own: the dots where and as the PNG has them,
    // within what their antialiasing moves.
    const QString rsvg = testing::ViewerTool("rsvg-convert");
    if (!rsvg.isEmpty()) {
        const QString drawn = QString::fromStdString(dir.File("svg.png"));
        ASSERT_TRUE(testing::RunTool(rsvg, {"-w", "900", "-h", "600", "-o", drawn, QString::fromStdString(svg)}));
        ExpectDots(QImage(drawn).convertToFormat(QImage::Format_RGB32), map, painter.View(), frame, 4, 1.0, "svg");
    }
    const QString pdftoppm = testing::ViewerTool("pdftoppm");
    if (!pdftoppm.isEmpty()) {
        const QImage page = testing::PdfPage(pdftoppm, pdf, 96);
        ASSERT_EQ(page.size(), size);
        ExpectDots(page, map, painter.View(), frame, 4, 1.0, "pdf");
    }
    if (rsvg.isEmpty() || pdftoppm.isEmpty()) GTEST_SKIP() << "rsvg-convert or pdftoppm is not installed";
}

TEST(RegionMapWriter, RefusesWhatItCannotDrawAndWritesNothing) {
    const auto writer = ModuleWriter();
    ASSERT_TRUE(writer);
    kelmar::testing::TempDir dir;
    region::RegionMap uneven = Finland();
    uneven.Value.pop_back();
    struct Case {
        region::RegionMap map;
        std::string file;
        int width, height;
        const char* says;
    };
    const Case cases[] = {
        {Finland(), dir.File("map.jpg"), 600, 400, "neither .png, .svg nor .pdf"},
        {Finland(), dir.File("map"), 600, 400, "neither .png, .svg nor .pdf"},
        {Finland(), dir.File("map.png"), 0, 400, "0 x 400 pixels"},
        {Finland(), dir.File("map.svg"), 600, -1, "600 x -1 pixels"},
        {uneven, dir.File("map.png"), 600, 400, "5 site names but 5 latitudes, 5 longitudes and 4 values"},
        {Finland(), dir.File("no/folder/map.png"), 600, 400, "no/folder/map.png"},
    };
    for (const Case& c : cases) {
        const std::string error =
            kelmar::testing::ErrorText([&] { writer->Write(c.map, c.file, c.width, c.height); });
        EXPECT_NE(error.find(c.file), std::string::npos) << c.file << ": " << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.file << ": " << error;
        EXPECT_FALSE(std::filesystem::exists(c.file)) << c.file;
    }
    // Nothing to draw is no error: an empty map, a map of sites without values or positions.
    region::RegionMap blank = Finland();
    blank.Value.assign(blank.Ids.size(), NaN);
    blank.Lat[0] = NaN;
    for (const region::RegionMap& map : {region::RegionMap{}, blank}) {
        const std::string png = dir.File("blank.png");
        EXPECT_EQ(kelmar::testing::ErrorText([&] { writer->Write(map, png, 600, 400); }), "");
        EXPECT_FALSE(QImage(QString::fromStdString(png)).isNull());
    }
    // Nor is a picture too small for its texts: they overlap, nothing fails.
    for (const QSize& size : {QSize(1, 1), QSize(60, 40)}) {
        const std::string png = dir.File("small.png");
        EXPECT_EQ(kelmar::testing::ErrorText([&] { writer->Write(Finland(), png, size.width(), size.height()); }), "");
        EXPECT_EQ(QImage(QString::fromStdString(png)).size(), size);
    }
}

class RegionMapWidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        widget = std::make_unique<RegionMapWidget>(&dialogs);
        widget->resize(900, 600);
        widget->SetMap(Finland());
        widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
    }
    QPoint SitePoint(std::size_t site) const {
        const RegionMapPainter& painter = widget->Painter();
        const QPointF at =
            ExpectedPixel(painter.Map(), site, painter.View(), painter.Layout(QRectF(widget->rect())).Frame);
        return QPoint(static_cast<int>(std::floor(at.x())), static_cast<int>(std::floor(at.y())));
    }

    kelmar::testing::ScriptedDialogs dialogs;
    std::unique_ptr<RegionMapWidget> widget;
};

TEST_F(RegionMapWidgetTest, AClickOnASiteGivesItsIndex) {
    QSignalSpy clicked(widget.get(), &RegionMapWidget::SiteClicked);
    for (std::size_t site : {std::size_t{2}, std::size_t{0}, std::size_t{3}}) {
        // A few pixels off the centre still hits the dot.
        QTest::mouseClick(widget.get(), Qt::LeftButton, {}, SitePoint(site) + QPoint(2, -1));
        ASSERT_EQ(clicked.count(), 1) << "site " << site;
        EXPECT_EQ(clicked.takeFirst().at(0).value<std::size_t>(), site);
    }
    // Beside every dot, and a drag of a pixel or two: nothing.
    QTest::mouseClick(widget.get(), Qt::LeftButton, {}, SitePoint(0) + QPoint(30, 30));
    QTest::mousePress(widget.get(), Qt::LeftButton, {}, SitePoint(4) + QPoint(-1, -1));
    QTest::mouseRelease(widget.get(), Qt::LeftButton, {}, SitePoint(4) + QPoint(40, 40));
    EXPECT_EQ(clicked.count(), 0);
}

TEST_F(RegionMapWidgetTest, ADragZoomsToItsRectangleAndHomeShowsAllAgain) {
    const RegionMapPainter& painter = widget->Painter();
    const region::MapView before = painter.View();
    const QRectF oldFrame = painter.Layout(QRectF(widget->rect())).Frame;
    // A rectangle around Tampere and Jyväskylä, with the frame's proportions.
    const QPoint tampere = SitePoint(4), jyvaskyla = SitePoint(2);
    const QPoint from(tampere.x() - 40, jyvaskyla.y() - 40);
    const QPoint to(jyvaskyla.x() + 40, from.y() + static_cast<int>((jyvaskyla.x() + 40 - from.x()) *
                                                                    oldFrame.height() / oldFrame.width()));
    QTest::mousePress(widget.get(), Qt::LeftButton, {}, from);
    QTest::mouseMove(widget.get(), to);
    QTest::mouseRelease(widget.get(), Qt::LeftButton, {}, to);
    ASSERT_TRUE(widget->Zoomed());

    // The view is the rectangle's degrees by the formula on the old frame.
    const auto lon = [&](double x) {
        return before.West + (x - oldFrame.left()) / oldFrame.width() * (before.East - before.West);
    };
    const auto lat = [&](double y) {
        return before.North - (y - oldFrame.top()) / oldFrame.height() * (before.North - before.South);
    };
    const region::MapView after = painter.View();
    EXPECT_NEAR(after.West, lon(from.x()), 1e-9);
    EXPECT_NEAR(after.East, lon(to.x() + 1), 1e-9);
    EXPECT_NEAR(after.North, lat(from.y()), 1e-9);
    EXPECT_NEAR(after.South, lat(to.y() + 1), 1e-9);

    // Drawn: the sites inside where the formula puts them in the new view,
    // farther apart by the zoom; those outside not drawn.
    kelmar::testing::TempDir dir;
    const std::string png = dir.File("zoomed.png");
    widget->SaveMap(QString::fromStdString(png));
    const QImage image = QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_RGB32);
    const QRectF frame = CheckedFrame(image, painter, "zoomed");
    region::RegionMap inside = Finland();
    for (auto* list : {&inside.Lat, &inside.Lon, &inside.Value}) *list = {(*list)[2], (*list)[4]};
    inside.Ids = {"jyvaskyla", "tampere"};
    inside.Value = {4.4, 5.0};
    // The colours stay those of the whole map.
    for (std::size_t i = 0; i < 2; ++i) {
        const QPointF at = ExpectedPixel(inside, i, after, frame);
        const QRgb centre = image.pixel(static_cast<int>(at.x()), static_cast<int>(at.y()));
        EXPECT_LE(Difference(centre, *ExpectedColour(Finland(), inside.Value[i])), 2) << inside.Ids[i];
    }
    const double zoom = frame.width() / (to.x() + 1 - from.x());
    const QPointF apart = ExpectedPixel(inside, 0, after, frame) - ExpectedPixel(inside, 1, after, frame);
    EXPECT_NEAR(std::hypot(apart.x(), apart.y()), zoom * QLineF(tampere, jyvaskyla).length(), 3);
    EXPECT_FALSE(widget->SiteAt(SitePoint(0))) << "Turku lies outside the view";

    QTest::keyClick(widget.get(), Qt::Key_Home);
    EXPECT_FALSE(widget->Zoomed());
    EXPECT_EQ(painter.View(), before);

    // From the keyboard: + halves the spans about the centre, an arrow
    // moves by a quarter of the view, - and Escape undo.
    const double width = before.East - before.West, height = before.North - before.South;
    QTest::keyClick(widget.get(), Qt::Key_Plus);
    QTest::keyClick(widget.get(), Qt::Key_Right);
    const region::MapView keyed = painter.View();
    EXPECT_NEAR(keyed.East - keyed.West, width / 2, 1e-9);
    EXPECT_NEAR(keyed.North - keyed.South, height / 2, 1e-9);
    EXPECT_NEAR(keyed.West, before.West + width / 4 + width / 8, 1e-9);
    EXPECT_NEAR(keyed.South, before.South + height / 4, 1e-9);
    QTest::keyClick(widget.get(), Qt::Key_Minus);
    EXPECT_NEAR(painter.View().East - painter.View().West, width, 1e-9);
    QTest::keyClick(widget.get(), Qt::Key_Escape);
    EXPECT_EQ(painter.View(), before);
}

TEST_F(RegionMapWidgetTest, SavesTheWritersPictureAndTellsWhatFailed) {
    const auto writer = ModuleWriter();
    ASSERT_TRUE(writer);
    kelmar::testing::TempDir dir;
    const std::string fromWidget = dir.File("widget.png"), fromWriter = dir.File("writer.png");
    widget->SaveMap(QString::fromStdString(fromWidget));
    writer->Write(Finland(), fromWriter, widget->width(), widget->height());
    QFile a(QString::fromStdString(fromWidget)), b(QString::fromStdString(fromWriter));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll()) << "the window's picture differs from kelmar-cli map's";

    // Through the dialog: a name without an extension is a PNG image; an
    // unknown extension is refused with a message naming the file.
    QSignalSpy saved(widget.get(), &RegionMapWidget::MapSaved);
    dialogs.pictureAnswer = QString::fromStdString(dir.File("region"));
    widget->SaveMapAs();
    ASSERT_EQ(saved.count(), 1);
    EXPECT_EQ(saved.takeFirst().at(0).toString().toStdString(), dir.File("region.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("region.png")));
    EXPECT_TRUE(dialogs.pictureFilters.last().contains("*.svg") && dialogs.pictureFilters.last().contains("*.pdf"));

    dialogs.pictureAnswer = QString::fromStdString(dir.File("region.jpg"));
    widget->SaveMapAs();
    EXPECT_EQ(saved.count(), 0);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("region.jpg")) << dialogs.errors[0].toStdString();
    EXPECT_FALSE(std::filesystem::exists(dir.File("region.jpg")));
}

}  // namespace
}  // namespace kelmar::ui
