#include "app/region/colour_maps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kelmar::region {

namespace {

// ColorBrewer's diverging scheme RdBu of 11 classes (Apache License 2.0),
// marked there as safe for colour-blind readers, listed here from its blue
// end: #053061 ... #f7f7f7 ... #67001f.
constexpr std::array<std::array<std::uint8_t, 3>, 11> BLUE_WHITE_RED = {{
    {0x05, 0x30, 0x61}, {0x21, 0x66, 0xac}, {0x43, 0x93, 0xc3}, {0x92, 0xc5, 0xde},
    {0xd1, 0xe5, 0xf0}, {0xf7, 0xf7, 0xf7}, {0xfd, 0xdb, 0xc7}, {0xf4, 0xa5, 0x82},
    {0xd6, 0x60, 0x4d}, {0xb2, 0x18, 0x2b}, {0x67, 0x00, 0x1f},
}};

std::uint8_t Channel(double level) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(level, 0.0, 255.0)));
}

// `position` (0..1, clamped) along a table of evenly spaced colours, each
// channel (levels 0..`scale`) interpolated linearly between its neighbours.
template <typename Table>
Rgb Interpolate(const Table& table, double position, double scale) {
    const double at = std::clamp(std::isnan(position) ? 0.0 : position, 0.0, 1.0) *
                      static_cast<double>(table.size() - 1);
    const std::size_t below = std::min(static_cast<std::size_t>(at), table.size() - 2);
    const double share = at - static_cast<double>(below);
    const auto mix = [&](int c) {
        const double a = table[below][c], b = table[below + 1][c];
        return Channel((a + (b - a) * share) * 255.0 / scale);
    };
    return {mix(0), mix(1), mix(2)};
}

}  // namespace

Rgb Viridis(double position) { return Interpolate(VIRIDIS_TABLE, position, 1.0); }

Rgb BlueWhiteRed(double position) { return Interpolate(BLUE_WHITE_RED, position, 255.0); }

std::optional<Rgb> ColourScale::ColourOf(double value) const {
    if (!std::isfinite(value)) return std::nullopt;
    const double position = Position(value);
    return Diverging ? BlueWhiteRed(position) : Viridis(position);
}

ColourScale ScaleOf(const std::vector<double>& values, bool diverging) {
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double v : values)
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    ColourScale scale;
    scale.Diverging = diverging;
    if (low > high) {  // no value at all: a bar of unit span
        low = diverging ? -1 : 0;
        high = 1;
    }
    if (diverging) {
        const double reach = std::max(std::fabs(low), std::fabs(high));
        scale.Low = reach > 0 ? -reach : -1;
        scale.High = reach > 0 ? reach : 1;
        return scale;
    }
    if (low == high) {
        // One value: a span around it of a tenth of its size (1 for 0), so
        // that its colour is the middle one and the ticks stay near it.
        const double value = low, half = value != 0 ? std::fabs(value) * 0.05 : 0.5;
        low -= half;
        high += half;
        // A value too small for a twentieth of it to count (a subnormal), or
        // too large for a twentieth more to stay finite: the least span
        // around it that doubles hold.
        if (!(low < high) || !std::isfinite(low) || !std::isfinite(high)) {
            low = std::nextafter(value, -std::numeric_limits<double>::max());
            high = std::nextafter(value, std::numeric_limits<double>::max());
        }
    }
    scale.Low = low;
    scale.High = high;
    return scale;
}

Ticks NiceTicks(double low, double high, int maxIntervals) {
    Ticks ticks;
    const double span = high - low;
    if (!(span > 0) || !std::isfinite(span) || maxIntervals < 1) return ticks;
    const double rough = span / maxIntervals;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    ticks.Step = 10 * power;
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * power >= rough * (1 - 1e-9)) {
            ticks.Step = factor * power;
            break;
        }
    // Multiples of the step, counted as integers so that no sum of steps
    // drifts off a round value; a hair of tolerance keeps an end that is
    // itself a multiple.
    const double first = std::ceil(low / ticks.Step - 1e-9), last = std::floor(high / ticks.Step + 1e-9);
    // A span below the smallest step a double holds (subnormal values), or
    // far below the values' own size (1000 and the next double after it),
    // has no round ticks: counting on from `first` would never end, as
    // first + 1 is first again beyond 2^53. The bar is then left unticked.
    const double count = last - first;
    if (!(ticks.Step > 0) || !std::isfinite(first) || !std::isfinite(last) || !(count >= 0) ||
        count > 10.0 * maxIntervals || first + 1 == first)
        return Ticks{ticks.Step, {}};
    for (int k = 0; k <= static_cast<int>(count); ++k) ticks.Values.push_back((first + k) * ticks.Step);
    return ticks;
}

std::string TickLabel(double value, double step) {
    int decimals = 0;
    if (step > 0 && std::isfinite(step))
        decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    if (std::fabs(value) < step * 1e-6) value = 0;  // a multiple of the step that came out as -1e-17
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string label = text;
    if (label.find_first_not_of("-0.") == std::string::npos && label[0] == '-') label.erase(0, 1);
    return label;
}

}  // namespace kelmar::region
