// The colours, colour-bar ticks and degrees of a region's map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "app/region/colour_maps.h"
#include "app/region/map_view.h"

namespace kelmar::region {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

Rgb Hex(unsigned value) {
    return {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8 & 0xff),
            static_cast<std::uint8_t>(value & 0xff)};
}

std::string Show(const Rgb& c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.R, c.G, c.B);
    return text;
}

int Distance(const Rgb& a, const Rgb& b) {
    return std::max({std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
}

// The published colours: viridis at the ends, quarters and middle as its
// authors list them in hexadecimal; ColorBrewer's RdBu (11 classes), of
// which the diverging map runs from the blue end, at its ends, its second
// class and its middle.
TEST(ColourMaps, MatchThePublishedTablesAtKnownPoints) {
    struct Case {
        const char* map;
        double position;
        unsigned published;
        int tolerance;  // levels of 255: interpolation between table entries may move a level or two
    };
    const Case cases[] = {
        {"viridis", 0.0, 0x440154, 0},  {"viridis", 0.25, 0x3b528b, 2}, {"viridis", 0.5, 0x21918c, 2},
        {"viridis", 0.75, 0x5ec962, 2}, {"viridis", 1.0, 0xfde725, 0},  {"viridis", -3, 0x440154, 0},
        {"viridis", 7, 0xfde725, 0},    {"diverging", 0.0, 0x053061, 0}, {"diverging", 0.1, 0x2166ac, 0},
        {"diverging", 0.5, 0xf7f7f7, 0}, {"diverging", 1.0, 0x67001f, 0}, {"diverging", 0.9, 0xb2182b, 0},
    };
    for (const Case& c : cases) {
        const Rgb got = std::string(c.map) == "viridis" ? Viridis(c.position) : BlueWhiteRed(c.position);
        EXPECT_LE(Distance(got, Hex(c.published)), c.tolerance)
            << c.map << " at " << c.position << ": " << Show(got) << ", published " << Show(Hex(c.published));
    }
    // Between two classes of the diverging map, the mean of the two.
    const Rgb between = BlueWhiteRed(0.45);
    EXPECT_LE(Distance(between, Hex(0xe4eef4)), 1) << Show(between);
}

TEST(ColourMaps, ScalesSpanTheValuesAndCentreDifferencesOnZero) {
    const ColourScale diverging = ScaleOf({-1, 3, NaN, 0.5}, true);
    EXPECT_EQ(diverging.Low, -3);
    EXPECT_EQ(diverging.High, 3);
    EXPECT_EQ(*diverging.ColourOf(0), Hex(0xf7f7f7)) << Show(*diverging.ColourOf(0));
    EXPECT_EQ(*diverging.ColourOf(3), Hex(0x67001f));
    EXPECT_EQ(*diverging.ColourOf(-3), Hex(0x053061));

    const ColourScale sequential = ScaleOf({2, 5, NaN, 3.5}, false);
    EXPECT_EQ(sequential.Low, 2);
    EXPECT_EQ(sequential.High, 5);
    EXPECT_EQ(*sequential.ColourOf(2), Viridis(0));
    EXPECT_EQ(*sequential.ColourOf(3.5), Viridis(0.5));
    EXPECT_EQ(*sequential.ColourOf(100), Viridis(1)) << "beyond the bar: its end";

    // No colour for what is no value.
    for (double v : {NaN, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(sequential.ColourOf(v)) << v;
        EXPECT_FALSE(diverging.ColourOf(v)) << v;
    }

    // Degenerate inputs still give a bar with Low < High, the single value in its middle.
    struct Case {
        std::vector<double> values;
        bool diverging;
    };
    const Case degenerate[] = {{{}, false}, {{NaN, NaN}, false}, {{NaN}, true}, {{0, 0}, true},
                               {{7, 7}, false}, {{0}, false},    {{-4e-6}, false}};
    for (const Case& c : degenerate) {
        const ColourScale scale = ScaleOf(c.values, c.diverging);
        EXPECT_LT(scale.Low, scale.High) << c.values.size() << " values, diverging " << c.diverging;
        EXPECT_TRUE(std::isfinite(scale.Low) && std::isfinite(scale.High));
        if (!c.values.empty() && std::isfinite(c.values[0])) {
            EXPECT_NEAR(scale.Position(c.values[0]), 0.5, 1e-12) << c.values[0];
        }
    }
}

TEST(ColourBarTicks, AreMultiplesOfOneTwoOrFiveWithinTheBar) {
    struct Case {
        double low, high;
        int maxIntervals;
        double step;
        std::vector<double> values;
    };
    const Case cases[] = {
        {0, 1, 5, 0.2, {0, 0.2, 0.4, 0.6, 0.8, 1}},
        {-3, 3, 6, 1, {-3, -2, -1, 0, 1, 2, 3}},
        {0.13, 0.87, 4, 0.2, {0.2, 0.4, 0.6, 0.8}},
        {-17.3, 28.1, 10, 5, {-15, -10, -5, 0, 5, 10, 15, 20, 25}},
        {1012.4, 1013.9, 3, 0.5, {1012.5, 1013, 1013.5}},
        {-0.0042, 0.0042, 5, 0.002, {-0.004, -0.002, 0, 0.002, 0.004}},
        {5, 5, 4, 1, {}},
    };
    for (const Case& c : cases) {
        const Ticks ticks = NiceTicks(c.low, c.high, c.maxIntervals);
        EXPECT_DOUBLE_EQ(ticks.Step, c.step) << c.low << ".." << c.high << " in " << c.maxIntervals;
        ASSERT_EQ(ticks.Values.size(), c.values.size()) << c.low << ".." << c.high << " in " << c.maxIntervals;
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_NEAR(ticks.Values[i], c.values[i], 1e-12) << c.low << ".." << c.high << " tick " << i;
    }
}

// Spans no round step can count across: below the smallest step a double
// holds, or so small beside the values that first + 1 == first. They hung
// the map's drawing; now they end, with at most a few ticks within the bar.
TEST(ColourBarTicks, SpansWithoutRoundStepsEnd) {
    const double spans[][2] = {{0, 1e-323}, {1000, std::nextafter(1000.0, 2000.0)}, {1e300, std::nextafter(1e300, 2e300)}};
    for (const auto& span : spans)
        for (int intervals : {1, 3, 10}) {
            const Ticks ticks = NiceTicks(span[0], span[1], intervals);
            EXPECT_LE(ticks.Values.size(), static_cast<std::size_t>(10 * intervals + 1)) << span[0] << ".." << span[1];
            for (double tick : ticks.Values)
                EXPECT_TRUE(tick >= span[0] - (span[1] - span[0]) && tick <= span[1] + (span[1] - span[0]))
                    << tick << " of " << span[0] << ".." << span[1];
        }
    EXPECT_TRUE(NiceTicks(0, 1e-323, 3).Values.empty());
}

// One value that a twentieth of it cannot widen (a subnormal) or that one
// twentieth more would carry past the largest double: still a bar with
// finite ends around it, the value coloured.
TEST(ColourScales, OneValueAtTheEndsOfTheDoublesKeepsAFiniteBar) {
    for (double value : {1e-323, -5e-324, std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()}) {
        const ColourScale scale = ScaleOf({value}, false);
        EXPECT_TRUE(std::isfinite(scale.Low) && std::isfinite(scale.High) && scale.Low < scale.High) << value;
        EXPECT_TRUE(scale.Low <= value && value <= scale.High) << value;
        EXPECT_TRUE(scale.ColourOf(value).has_value()) << value;
    }
}

TEST(ColourBarTicks, LabelsCarryTheStepsDecimalsAndNoNegativeZero) {
    struct Case {
        double value, step;
        const char* label;
    };
    const Case cases[] = {{0.1 * 3 - 0.3, 0.1, "0.0"}, {-0.1 * 3 + 0.3, 0.1, "0.0"}, {-0.3, 0.1, "-0.3"},
                          {2.5, 0.5, "2.5"},         {10, 5, "10"},                   {0.05, 0.05, "0.05"},
                          {-1e-18, 1, "0"},          {1500, 500, "1500"},             {-2, 2, "-2"}};
    for (const Case& c : cases) EXPECT_EQ(TickLabel(c.value, c.step), c.label) << c.value << " by " << c.step;
}

TEST(MapDegrees, LabelsNameTheHemisphere) {
    struct Case {
        bool latitude;
        double degrees, step;
        const char* label;
    };
    const Case cases[] = {
        {true, 60, 10, "60°N"},   {true, -12.5, 2.5, "12.5°S"}, {true, 0, 5, "0°"},
        {false, 20, 10, "20°E"},  {false, -10, 5, "10°W"},      {false, 190, 10, "170°W"},
        {false, 180, 30, "180°"}, {false, 360, 30, "0°"},       {false, 24.5, 0.5, "24.5°E"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.latitude ? LatitudeLabel(c.degrees, c.step) : LongitudeLabel(c.degrees, c.step), c.label)
            << c.degrees << " by " << c.step;
}

TEST(MapDegrees, GraticuleStepsAreRoundDegrees) {
    struct Case {
        double span;
        int maxLines;
        double step;
        double low, high;
        std::vector<double> lines;
    };
    const Case cases[] = {
        {7, 5, 2, 59.3, 66.3, {60, 62, 64, 66}},
        {100, 5, 20, -41, 59, {-40, -20, 0, 20, 40}},
        {0.3, 6, 0.05, 24.41, 24.71, {24.45, 24.5, 24.55, 24.6, 24.65, 24.7}},
        {170, 4, 45, -85, 85, {-45, 0, 45}},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(GraticuleStep(c.span, c.maxLines), c.step) << c.span << " in " << c.maxLines;
        const std::vector<double> lines = GraticuleLines(c.low, c.high, c.step);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.low << ".." << c.high;
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_NEAR(lines[i], c.lines[i], 1e-9) << c.low << " line " << i;
    }
}

RegionMap Sites(std::vector<double> lat, std::vector<double> lon) {
    RegionMap map;
    map.Lat = std::move(lat);
    map.Lon = std::move(lon);
    map.Value.assign(map.Lat.size(), 1);
    for (std::size_t i = 0; i < map.Lat.size(); ++i) map.Ids.push_back("s" + std::to_string(i));
    return map;
}

TEST(MapView, FramesTheSitesWithAMarginAtTheirMeanLatitude) {
    const SitePlacement sites = PlaceSites(Sites({50, 60, 70, NaN}, {10, 40, 25, 26}));
    EXPECT_DOUBLE_EQ(sites.MeanLatitude, 60) << "the site without a position is left out";
    EXPECT_NEAR(sites.XScale, 0.5, 1e-12);
    EXPECT_TRUE(std::isnan(sites.Lon[3]));
    // The larger span on the map is the latitudes' 20° (the longitudes' 30°
    // are 15° wide at 60°N); a twentieth of it, 1°, on every side, which is
    // 2° of longitude.
    const MapView view = FullView(sites);
    EXPECT_NEAR(view.South, 49, 1e-9);
    EXPECT_NEAR(view.North, 71, 1e-9);
    EXPECT_NEAR(view.West, 8, 1e-9);
    EXPECT_NEAR(view.East, 42, 1e-9);

    // One site: half a degree around it; near a pole, latitudes stop at 90.
    const MapView one = FullView(PlaceSites(Sites({89.8}, {10})));
    EXPECT_NEAR(one.South, 89.3, 1e-9);
    EXPECT_EQ(one.North, 90);
    EXPECT_LT(one.West, one.East);
    EXPECT_TRUE(std::isfinite(one.West) && std::isfinite(one.East));
    // No site with a position: the whole Earth.
    EXPECT_EQ(FullView(PlaceSites(Sites({NaN, 95}, {0, 0}))), MapView{});
}

TEST(MapView, ARegionAcrossTheAntimeridianStaysInOnePiece) {
    // Chukotka and Alaska: 170°E to 170°W is 20° wide, not 340°.
    const SitePlacement sites = PlaceSites(Sites({65, 66, 64, 67}, {170, 179.5, -175, -170}));
    EXPECT_EQ(sites.Lon, (std::vector<double>{170, 179.5, 185, 190}));
    EXPECT_EQ(sites.Unwrapped(-175), 185);
    EXPECT_EQ(sites.Unwrapped(175), 175);
    const MapView view = FullView(sites);
    EXPECT_LT(view.East - view.West, 25);
    EXPECT_EQ(LongitudeLabel(190, 10), "170°W");

    // Longitudes written 0..360 mean the same places.
    const SitePlacement east360 = PlaceSites(Sites({50, 51}, {350, 10}));
    EXPECT_EQ(east360.Lon, (std::vector<double>{-10, 10}));
    // A region that does not cross it keeps its longitudes.
    const SitePlacement plain = PlaceSites(Sites({50, 51, 52}, {-100, 0, 100}));
    EXPECT_EQ(plain.Lon, (std::vector<double>{-100, 0, 100}));
    // Sites all round: cut at the widest gap, between 0° and 170°E.
    const SitePlacement round = PlaceSites(Sites({50, 51, 52}, {-170, 0, 170}));
    EXPECT_EQ(round.Lon, (std::vector<double>{190, 0, 170}));
}

}  // namespace
}  // namespace kelmar::region
