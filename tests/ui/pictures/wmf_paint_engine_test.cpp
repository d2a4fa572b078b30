// What Qt paints, as metafile records: the logical window, pens, brushes,
// fonts, lines, areas and text in logical units of 1/16 pixel.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <numeric>

#include "ui/pictures/wmf_paint_device.h"
#include "ui/pictures/wmf_reading.h"

namespace kelmar::ui {
namespace {

using testing::DoubleWord;
using testing::DrawnRecord;
using testing::Play;
using testing::ReadWmf;
using testing::WmfFile;
using Words = std::vector<std::uint16_t>;

constexpr int DPI = 96;
const QSize PICTURE(400, 300);  // 16 logical units per pixel

WmfFile Paint(const std::function<void(QPainter&)>& paint, QSize size = PICTURE) {
    WmfPaintDevice device(size, DPI);
    {
        QPainter painter(&device);
        paint(painter);
    }
    const std::optional<std::string> bytes = device.Metafile();
    EXPECT_TRUE(bytes.has_value()) << "the picture was spoilt";
    return ReadWmf(bytes.value_or(""));
}

TEST(WmfPaintDevice, TheLogicalWindowFitsTheLongestSideIntoHalfTheCoordinateRange) {
    struct Case {
        QSize pixels;
        Words extent;  // y, x as the record stores it
        std::uint16_t unitsPerInch;
    };
    const Case cases[] = {
        {{400, 300}, {4800, 6400}, 16 * DPI},   // at most 16 units per pixel
        {{2000, 1000}, {8000, 16000}, 8 * DPI},
        {{300, 4000}, {16000, 1200}, 4 * DPI},  // the taller side counts
        {{20000, 50}, {50, 20000}, 1 * DPI},
        {{40000, 10}, {10, 32767}, 1 * DPI},    // held within the 16-bit range
    };
    for (const Case& c : cases) {
        const WmfFile file = Paint([](QPainter&) {}, c.pixels);
        ASSERT_GE(file.Records.size(), 5u);
        EXPECT_EQ(file.Records[0].Function, 0x0103);
        EXPECT_EQ(file.Records[0].Parameters, Words{8}) << "anisotropic mapping";
        EXPECT_EQ(file.Records[1].Parameters, (Words{0, 0})) << "window origin";
        EXPECT_EQ(file.Records[2].Function, 0x020C);
        EXPECT_EQ(file.Records[2].Parameters, c.extent) << c.pixels.width() << "x" << c.pixels.height();
        EXPECT_EQ(file.Records[3].Parameters, Words{24}) << "text on the baseline";
        EXPECT_EQ(Words(file.Placeable.begin() + 3, file.Placeable.begin() + 8),
                  (Words{0, 0, c.extent[1], c.extent[0], c.unitsPerInch}))
            << c.pixels.width() << "x" << c.pixels.height();
    }
}

TEST(WmfPaintEngine, LinesAndAreasCarryTheirPenBrushAndPoints) {
    const std::uint16_t SOLID_SQUARE_BEVEL = 0x1100;  // QPen's default cap and join
    const Words NULL_PEN{5, 0, 0, 0, 0};
    const Words NULL_BRUSH{1, 0, 0, 0};
    const Words ANY{};
    struct Expected {
        std::uint16_t function;
        Words parameters, pen, brush;  // ANY: not looked at
    };
    struct Case {
        const char* what;
        std::function<void(QPainter&)> paint;
        std::vector<Expected> records;
    };
    const Case cases[] = {
        {"translated line, width 2 px",
         [](QPainter& p) {
             p.translate(10, 5);
             p.setPen(QPen(QColor(134, 53, 140), 2));
             p.drawLine(QPointF(0, 0), QPointF(100, 50.5));
         },
         {{0x0325, {2, 160, 80, 1760, 888}, {SOLID_SQUARE_BEVEL, 32, 0, 0x3586, 0x008C}, ANY}}},
        {"scaled pen widens, cosmetic pen does not",
         [](QPainter& p) {
             p.scale(2, 2);
             p.setPen(QPen(Qt::red, 1.5));
             p.drawLine(0, 0, 10, 0);
             QPen cosmetic(Qt::blue, 1);
             cosmetic.setCosmetic(true);
             p.setPen(cosmetic);
             p.drawLine(0, 5, 10, 5);
         },
         {{0x0325, {2, 0, 0, 320, 0}, {SOLID_SQUARE_BEVEL, 48, 0, 0x00FF, 0}, ANY},
          {0x0325, {2, 0, 160, 320, 160}, {SOLID_SQUARE_BEVEL, 16, 0, 0, 0x00FF}, ANY}}},
        {"dashed line with round ends",
         [](QPainter& p) {
             p.setPen(QPen(Qt::black, 1, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin));
             p.drawPolyline(QPolygonF({{1, 1}, {2, 1}, {2, 2}}));
         },
         {{0x0325, {3, 16, 16, 32, 16, 32, 32}, {1, 16, 0, 0, 0}, ANY}}},
        {"consecutive segments become one line",
         [](QPainter& p) {
             p.setPen(QPen(Qt::black, 0));
             p.drawLine(0, 0, 1, 1);
             p.drawLine(1, 1, 2, 0);
         },
         {{0x0325, {3, 0, 0, 16, 16, 32, 0}, ANY, ANY}}},
        {"filled rectangle without outline",
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(218, 224, 248));
             p.drawRect(QRectF(20, 20, 100, 50));
         },
         {{0x041B, {1120, 1920, 320, 320}, NULL_PEN, {0, 0xE0DA, 0x00F8, 0}}}},
        {"transparent brush is none",
         [](QPainter& p) {
             p.setBrush(QColor(0, 0, 0, 0));
             p.drawRect(QRectF(1, 2, 3, 4));
         },
         {{0x041B, {96, 64, 32, 16}, {SOLID_SQUARE_BEVEL, 16, 0, 0, 0}, NULL_BRUSH}}},
        {"gradient fills with the mean of its stops",
         [](QPainter& p) {
             QLinearGradient gradient(0, 0, 10, 0);
             gradient.setColorAt(0, Qt::black);
             gradient.setColorAt(1, Qt::white);
             p.setPen(Qt::NoPen);
             p.setBrush(gradient);
             p.drawRect(0, 0, 10, 10);
         },
         {{0x041B, {160, 160, 0, 0}, NULL_PEN, {0, 0x8080, 0x0080, 0}}}},
        {"turned rectangle becomes a polygon",
         [](QPainter& p) {
             p.translate(100, 100);
             p.rotate(90);
             p.drawRect(QRectF(0, 0, 10, 20));
         },
         {{0x0324, {5, 1600, 1600, 1600, 1760, 1280, 1760, 1280, 1600, 1600, 1600}, ANY, ANY}}},
        {"line cut at the clip",
         [](QPainter& p) {
             p.setClipRect(0, 0, 50, 50);
             p.drawLine(-10, 25, 100, 25);
             p.drawLine(60, 0, 70, 10);  // wholly outside: nothing
         },
         {{0x0325, {2, 0, 400, 800, 400}, ANY, ANY}}},
        {"area cut at the clip: fill, then outline without the cut edge",
         [](QPainter& p) {
             p.setClipRect(0, 0, 10, 10);
             p.setBrush(Qt::green);
             p.drawRect(QRectF(5, 5, 10, 2));
         },
         {{0x0324, ANY, NULL_PEN, {0, 0xFF00, 0, 0}},
          {0x0325, {4, 160, 112, 80, 112, 80, 80, 160, 80}, {SOLID_SQUARE_BEVEL, 16, 0, 0, 0}, ANY}}},
        {"path with a hole: both rings filled at once, then each outlined",
         [](QPainter& p) {
             QPainterPath path;
             path.addRect(0, 0, 100, 100);
             path.addRect(25, 25, 50, 50);
             p.setBrush(Qt::blue);
             p.drawPath(path);
         },
         {{0x0538, {2, 5, 5, 0, 0, 1600, 0, 1600, 1600, 0, 1600, 0, 0,
                    400, 400, 1200, 400, 1200, 1200, 400, 1200, 400, 400},
           NULL_PEN, {0, 0, 0x00FF, 0}},
          {0x0325, {5, 0, 0, 1600, 0, 1600, 1600, 0, 1600, 0, 0}, {SOLID_SQUARE_BEVEL, 16, 0, 0, 0}, ANY},
          {0x0325, {5, 400, 400, 1200, 400, 1200, 1200, 400, 1200, 400, 400}, ANY, ANY}}},
        {"small image: runs of one colour filled, see-through pixels left out",
         [](QPainter& p) {
             QImage image(4, 2, QImage::Format_ARGB32);
             image.fill(Qt::transparent);
             image.setPixel(3, 0, qRgba(0, 0, 255, 100));  // mostly see-through
             for (int x = 0; x < 3; ++x) image.setPixel(x, 1, qRgb(255, 0, 0));
             image.setPixel(3, 1, qRgba(255, 0, 0, 200));  // mostly opaque
             p.translate(10, 10);
             p.drawImage(0, 0, image);
         },
         {{0x0324, {5, 160, 176, 208, 176, 208, 192, 160, 192, 160, 176}, NULL_PEN, {0, 0x00FF, 0, 0}},
          {0x0324, {5, 208, 176, 224, 176, 224, 192, 208, 192, 208, 176}, NULL_PEN, {0, 0x00FF, 0, 0}}}},
        {"large image left out",
         [](QPainter& p) {
             QImage image(200, 200, QImage::Format_RGB32);
             image.fill(Qt::red);
             p.drawImage(0, 0, image);
         },
         {}},
    };
    for (const Case& c : cases) {
        const std::vector<DrawnRecord> drawn = Play(Paint(c.paint));
        ASSERT_EQ(drawn.size(), c.records.size()) << c.what;
        for (std::size_t i = 0; i < drawn.size(); ++i) {
            const Expected& e = c.records[i];
            EXPECT_EQ(drawn[i].Function, e.function) << c.what << ", record " << i;
            if (!e.parameters.empty()) {
                EXPECT_EQ(drawn[i].Parameters, e.parameters) << c.what << ", record " << i;
            }
            if (!e.pen.empty()) {
                EXPECT_EQ(drawn[i].Pen, e.pen) << c.what << ", pen of record " << i;
            }
            if (!e.brush.empty()) {
                EXPECT_EQ(drawn[i].Brush, e.brush) << c.what << ", brush of record " << i;
            }
        }
    }
}

TEST(WmfPaintEngine, CurvesAreFlattenedIntoPolygonsWithinTheirBounds) {
    const std::vector<DrawnRecord> drawn = Play(Paint([](QPainter& p) {
        p.setBrush(Qt::yellow);
        p.drawEllipse(QRectF(10, 20, 100, 60));
    }));
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].Function, 0x0324);
    const std::size_t corners = drawn[0].Parameters[0];
    EXPECT_GE(corners, 16u) << "too coarse for an ellipse";
    for (std::size_t i = 0; i < corners; ++i) {
        const double x = static_cast<std::int16_t>(drawn[0].Parameters[1 + 2 * i]) / 16.0 - 60;
        const double y = static_cast<std::int16_t>(drawn[0].Parameters[2 + 2 * i]) / 16.0 - 50;
        EXPECT_NEAR(x * x / 2500 + y * y / 900, 1.0, 0.02) << "corner " << i << " off the ellipse";
    }
}

TEST(WmfPaintEngine, TextKeepsItsFontAngleColourCodePageAndCharacterPositions) {
    QFont font;
    font.setPixelSize(13);
    font.setBold(true);
    const QString title = QString::fromUtf8("Temperature, \u00b0\u0421");
    const std::vector<DrawnRecord> texts = Play(Paint([&](QPainter& p) {
        p.setFont(font);
        p.setPen(QColor(187, 0, 0));
        p.translate(20, 200);
        p.rotate(-90);
        p.drawText(QPointF(0, 0), title);
        p.drawText(QPointF(0, 1000), "outside");  // starts beyond the picture: left out
    }));
    ASSERT_FALSE(texts.empty());
    std::string bytes;
    std::vector<std::int16_t> advances;
    for (const DrawnRecord& t : texts) {
        ASSERT_EQ(t.Function, 0x0A32);
        const std::size_t length = t.Parameters[2];
        EXPECT_EQ(t.Parameters[3], 0) << "no clipping rectangle";
        testing::WmfRecord record{t.Function, t.Parameters};
        bytes += record.Bytes(4, length);
        for (std::size_t i = 0; i < length; ++i) advances.push_back(record.Signed(4 + (length + 1) / 2 + i));
        EXPECT_EQ(static_cast<std::int16_t>(t.Font[0]), -13 * 16) << "character height";
        EXPECT_EQ(static_cast<std::int16_t>(t.Font[2]), 900) << "baseline turned a quarter counter-clockwise";
        EXPECT_EQ(t.Font[4], 700);
        EXPECT_EQ(testing::WmfRecord({0, t.Font}).Bytes(9, 32).c_str(), QFontInfo(font).family().toStdString());
    }
    EXPECT_EQ(bytes, "Temperature, \xB0\xD1") << "one Windows-1251 byte per character";
    EXPECT_EQ(texts.front().Parameters[0], 3200) << "y of the start";
    EXPECT_EQ(texts.front().Parameters[1], 320) << "x of the start";
    const double measured = QFontMetricsF(font).horizontalAdvance(title) * 16;
    EXPECT_NEAR(std::accumulate(advances.begin(), advances.end(), 0.0), measured, 16.0 * static_cast<double>(texts.size()))
        << "the characters span the width Qt measured";
}

// "×" is not in Windows-1251: its run goes out in a Western font, starting
// where Qt put its first character, and the Cyrillic run after it in a
// Cyrillic font of the same face and size.
TEST(WmfPaintEngine, ARunOfAnotherCharacterSetHasAFontOfItsOwnWhereQtPutsIt) {
    QFont font;
    font.setPixelSize(13);
    const QString text = QString::fromUtf8("Tsoil \u00d7 0.9, \u00b0\u0421");
    const std::vector<DrawnRecord> texts = Play(Paint([&](QPainter& p) {
        p.setFont(font);
        p.drawText(QPointF(10, 100), text);
    }));
    ASSERT_EQ(texts.size(), 2u);
    const struct {
        std::string bytes;
        std::uint16_t charset;
        int firstCharacter;
    } runs[] = {{"Tsoil \xD7 0.9, \xB0", 0, 0}, {"\xD1", 204, 14}};
    for (std::size_t i = 0; i < 2; ++i) {
        const testing::WmfRecord record{texts[i].Function, texts[i].Parameters};
        EXPECT_EQ(record.Bytes(4, record.Parameters[2]), runs[i].bytes) << "run " << i;
        EXPECT_EQ(texts[i].Font[6] >> 8, runs[i].charset) << "run " << i << ": character set";
        EXPECT_EQ(texts[i].Font[0], texts[0].Font[0]) << "run " << i << ": height";
        EXPECT_EQ(testing::WmfRecord({0, texts[i].Font}).Bytes(9, 32), testing::WmfRecord({0, texts[0].Font}).Bytes(9, 32));
        const double x = 16 * (10 + QFontMetricsF(font).horizontalAdvance(text.left(runs[i].firstCharacter)));
        EXPECT_NEAR(record.Signed(1), x, 16.0) << "run " << i << ": x of the start, 1/16 pixels, within a pixel";
        EXPECT_EQ(record.Signed(0), 1600) << "run " << i << ": y of the baseline";
    }
}

TEST(WmfPaintEngine, TextColourFollowsThePen) {
    const std::vector<testing::WmfRecord> colours = ReadWmf([] {
        WmfPaintDevice device(PICTURE, DPI);
        {
            QPainter p(&device);
            p.setPen(QColor(187, 0, 0));
            p.drawText(QPointF(10, 20), "Tair");
            p.drawText(QPointF(10, 40), "Tsoil");
            p.setPen(QColor(0, 0, 160));
            p.drawText(QPointF(10, 60), "Prec");
        }
        return device.Metafile().value_or("");
    }()).All(0x0209);
    ASSERT_EQ(colours.size(), 2u) << "set once per change";
    EXPECT_EQ(colours[0].Parameters, (Words{0x00BB, 0}));
    EXPECT_EQ(colours[1].Parameters, (Words{0, 0x00A0}));
}

TEST(WmfPaintEngine, AnAreaTooLargeForOneRecordSpoilsThePictureALineDoesNot) {
    QPolygonF many;
    for (int i = 0; i < 40000; ++i) many << QPointF(i % 400, (i / 400) % 300);
    struct Case {
        const char* what;
        std::function<void(QPainter&)> paint;
        bool spoilt;
    };
    const Case cases[] = {
        {"line of 40000 points", [&](QPainter& p) { p.drawPolyline(many); }, false},
        {"area of 40000 corners", [&](QPainter& p) { p.drawPolygon(many); }, true},
    };
    for (const Case& c : cases) {
        WmfPaintDevice device(PICTURE, DPI);
        {
            QPainter painter(&device);
            c.paint(painter);
        }
        EXPECT_EQ(!device.Metafile().has_value(), c.spoilt) << c.what;
    }
}

}  // namespace
}  // namespace kelmar::ui
