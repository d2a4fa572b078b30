// The bytes of the metafile records, the headers and the object table.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/pictures/wmf_reading.h"
#include "ui/pictures/wmf_writer.h"

namespace kelmar::ui {
namespace {

using testing::DoubleWord;
using testing::ReadWmf;
using testing::WmfFile;
using Words = std::vector<std::uint16_t>;

std::uint16_t U(int value) { return static_cast<std::uint16_t>(value); }

TEST(WmfWriter, EachRecordHasItsFunctionAndParameterOrder) {
    struct Case {
        const char* what;
        std::function<void(WmfWriter&)> write;
        std::uint16_t function;
        Words parameters;
    };
    const std::vector<WmfPoint> triangle{{1, 2}, {-3, 4}, {5, -6}};
    const Case cases[] = {
        {"map mode", [](WmfWriter& w) { w.SetMapMode(MM_ANISOTROPIC); }, 0x0103, {8}},
        {"window origin y first", [](WmfWriter& w) { w.SetWindowOrg({3, -4}); }, 0x020B, {U(-4), 3}},
        {"window extent y first", [](WmfWriter& w) { w.SetWindowExt({10240, 6400}); }, 0x020C, {6400, 10240}},
        {"transparent background", [](WmfWriter& w) { w.SetBkMode(TRANSPARENT); }, 0x0102, {1}},
        {"background colour", [](WmfWriter& w) { w.SetBkColor({0x12, 0x34, 0x56}); }, 0x0201, {0x3412, 0x0056}},
        {"text colour", [](WmfWriter& w) { w.SetTextColor({218, 224, 248}); }, 0x0209, {0xE0DA, 0x00F8}},
        {"text on the baseline", [](WmfWriter& w) { w.SetTextAlign(TA_BASELINE | TA_LEFT); }, 0x012E, {24}},
        {"winding fill", [](WmfWriter& w) { w.SetPolyFillMode(WINDING); }, 0x0106, {2}},
        {"dashed flat-capped pen",
         [](WmfWriter& w) { w.CreatePenIndirect({PS_DASH | PS_ENDCAP_FLAT | PS_JOIN_MITER, 32, {1, 2, 3}}); },
         0x02FA, {0x2201, 32, 0, 0x0201, 0x0003}},
        {"null pen", [](WmfWriter& w) { w.CreatePenIndirect({PS_NULL, 0, {}}); }, 0x02FA, {5, 0, 0, 0, 0}},
        {"solid brush", [](WmfWriter& w) { w.CreateBrushIndirect({BS_SOLID, {134, 53, 140}}); }, 0x02FC,
         {0, 0x3586, 0x008C, 0}},
        {"null brush", [](WmfWriter& w) { w.CreateBrushIndirect({BS_NULL, {}}); }, 0x02FC, {1, 0, 0, 0}},
        {"select", [](WmfWriter& w) { w.SelectObject(7); }, 0x012D, {7}},
        {"rectangle bottom right top left", [](WmfWriter& w) { w.Rectangle({1, 2, 3, 4}); }, 0x041B, {4, 3, 2, 1}},
        {"polyline", [&](WmfWriter& w) { w.Polyline(triangle); }, 0x0325, {3, 1, 2, U(-3), 4, 5, U(-6)}},
        {"polygon", [&](WmfWriter& w) { w.Polygon(triangle); }, 0x0324, {3, 1, 2, U(-3), 4, 5, U(-6)}},
        {"two polygons",
         [&](WmfWriter& w) {
             const std::vector<std::vector<WmfPoint>> rings{triangle, {{7, 8}, {9, 10}}};
             w.PolyPolygon(rings);
         },
         0x0538, {2, 3, 2, 1, 2, U(-3), 4, 5, U(-6), 7, 8, 9, 10}},
        {"text, odd length padded",
         [](WmfWriter& w) {
             const std::vector<std::int16_t> advances{100, 90, -5};
             w.ExtTextOut({10, -20}, "\xB0\xD1x", advances);
         },
         0x0A32, {U(-20), 10, 3, 0, 0xD1B0, 0x0078, 100, 90, U(-5)}},
    };
    for (const Case& c : cases) {
        WmfWriter writer;
        c.write(writer);
        const WmfFile file = ReadWmf(writer.Finish({0, 0, 100, 100}, 96));
        ASSERT_EQ(file.Records.size(), 2u) << c.what;
        EXPECT_EQ(file.Records[0].Function, c.function) << c.what;
        EXPECT_EQ(file.Records[0].Parameters, c.parameters) << c.what;
    }
}

TEST(WmfWriter, FontHasHeightAngleWeightCyrillicCharsetAndAFixedFaceField) {
    struct Case {
        WmfFont font;
        std::string face;  // as the 32-byte field holds it, before the NULs
    };
    const auto font = [](std::int16_t height, std::int16_t escapement, std::int16_t weight, bool flags,
                         const std::string& face) {
        return WmfFont{height, escapement, weight, flags, flags, flags, face};
    };
    const std::vector<Case> cases{
        {font(-208, 900, 700, false, "DejaVu Sans"), "DejaVu Sans"},
        {font(-192, 0, 400, true, std::string(40, 'F')), std::string(31, 'F')},
    };
    for (const Case& c : cases) {
        WmfWriter writer;
        writer.CreateFontIndirect(c.font);
        const testing::WmfRecord written = ReadWmf(writer.Finish({0, 0, 1, 1}, 96)).Records.at(0);
        ASSERT_EQ(written.Function, 0x02FB);
        ASSERT_EQ(written.Parameters.size(), 9u + 16u) << "nine words, then the face name field of 32 bytes";
        EXPECT_EQ(written.Signed(0), c.font.Height);
        EXPECT_EQ(written.Signed(1), 0) << "width chosen by the player";
        EXPECT_EQ(written.Signed(2), c.font.Escapement);
        EXPECT_EQ(written.Signed(3), c.font.Escapement) << "orientation follows the escapement";
        EXPECT_EQ(written.Signed(4), c.font.Weight);
        EXPECT_EQ(written.Parameters[5], (c.font.Underline ? 0x0100 : 0) | (c.font.Italic ? 1 : 0));
        EXPECT_EQ(written.Parameters[6], 0xCC00 | (c.font.StrikeOut ? 1 : 0)) << "character set 204, Cyrillic";
        EXPECT_EQ(written.Bytes(9, 32), c.face + std::string(32 - c.face.size(), '\0'));
    }
}

TEST(WmfWriter, PolylinesJoinWhereTheyMeetAndSplitWhereTooLong) {
    struct Case {
        const char* what;
        std::vector<std::vector<WmfPoint>> lines;
        bool selectBetween;
        std::vector<std::size_t> recordPoints;
    };
    auto straight = [](int from, std::size_t count) {
        std::vector<WmfPoint> points;
        for (std::size_t i = 0; i < count; ++i) points.push_back({static_cast<std::int16_t>(from + i % 30000), 0});
        return points;
    };
    const Case cases[] = {
        {"continued", {{{0, 0}, {1, 1}}, {{1, 1}, {2, 0}}, {{2, 0}, {3, 3}}}, false, {4}},
        {"gap", {{{0, 0}, {1, 1}}, {{2, 2}, {3, 3}}}, false, {2, 2}},
        {"other record between", {{{0, 0}, {1, 1}}, {{1, 1}, {2, 0}}}, true, {2, 2}},
        {"one point draws nothing", {{{0, 0}}}, false, {}},
        {"longer than a record", {straight(0, 40000)}, false, {32767, 7234}},
        {"continuing a full record", {straight(0, 32767), {{2766, 0}, {5, 5}}}, false, {32767, 2}},
    };
    for (const Case& c : cases) {
        WmfWriter writer;
        for (const auto& line : c.lines) {
            writer.Polyline(line);
            if (c.selectBetween) writer.SelectObject(0);
        }
        std::vector<std::size_t> recordPoints;
        std::vector<WmfPoint> drawn;
        const WmfFile file = ReadWmf(writer.Finish({0, 0, 1, 1}, 96));
        for (const testing::WmfRecord& r : file.All(0x0325)) {
            recordPoints.push_back(r.Parameters[0]);
            EXPECT_EQ(r.Parameters.size(), 1 + 2 * std::size_t{r.Parameters[0]}) << c.what;
            for (std::size_t i = 0; i < r.Parameters[0]; ++i) drawn.push_back({r.Signed(1 + 2 * i), r.Signed(2 + 2 * i)});
        }
        EXPECT_EQ(recordPoints, c.recordPoints) << c.what;
        const std::size_t largest = c.recordPoints.empty() ? 3 : 3 + 1 + 2 * c.recordPoints[0];
        EXPECT_EQ(DoubleWord(file.Header[6], file.Header[7]), largest) << c.what << ": largest record in the header";
        if (c.lines.size() == 1 && !c.recordPoints.empty()) {
            // Pieces share their end points: dropping each piece's first point gives the line back.
            std::vector<WmfPoint> joined;
            std::size_t at = 0;
            for (std::size_t n : c.recordPoints) {
                joined.insert(joined.end(), drawn.begin() + static_cast<long>(at) + (at == 0 ? 0 : 1),
                              drawn.begin() + static_cast<long>(at + n));
                at += n;
            }
            EXPECT_EQ(joined, c.lines[0]) << c.what;
        }
    }
}

TEST(WmfWriter, HeadersDescribeTheFileAndObjectsTakeTheLowestFreeSlot) {
    WmfWriter writer;
    std::vector<int> slots;
    slots.push_back(writer.CreatePenIndirect({}));    // 0
    slots.push_back(writer.CreateBrushIndirect({}));  // 1
    slots.push_back(writer.CreateFontIndirect({}));   // 2
    writer.DeleteObject(0);
    writer.DeleteObject(1);
    slots.push_back(writer.CreateBrushIndirect({}));  // 0 again
    slots.push_back(writer.CreatePenIndirect({}));    // 1 again
    slots.push_back(writer.CreatePenIndirect({}));    // 3
    EXPECT_EQ(slots, (std::vector<int>{0, 1, 2, 0, 1, 3}));

    const std::string bytes = writer.Finish({0, 0, 10240, 6400}, 1536);
    const WmfFile file = ReadWmf(bytes);
    EXPECT_EQ(DoubleWord(file.Placeable[0], file.Placeable[1]), 0x9AC6CDD7u) << "placeable key";
    EXPECT_EQ(file.Placeable[2], 0);
    EXPECT_EQ(Words(file.Placeable.begin() + 3, file.Placeable.begin() + 7), (Words{0, 0, 10240, 6400}));
    EXPECT_EQ(file.Placeable[7], 1536) << "units per inch";
    std::uint16_t checksum = 0;
    for (std::size_t i = 0; i < 10; ++i) checksum ^= file.Placeable[i];
    EXPECT_EQ(file.Placeable[10], checksum);

    EXPECT_EQ(Words(file.Header.begin(), file.Header.begin() + 3), (Words{1, 9, 0x0300}));
    EXPECT_EQ(DoubleWord(file.Header[3], file.Header[4]), (bytes.size() - 22) / 2) << "size in words";
    EXPECT_EQ(file.Header[5], 4) << "object table size";
    EXPECT_EQ(DoubleWord(file.Header[6], file.Header[7]), 3u + 9u + 16u) << "the font record is the largest";
    EXPECT_EQ(file.Header[8], 0);
    EXPECT_EQ(file.Records.size(), 9u);
}

}  // namespace
}  // namespace kelmar::ui
