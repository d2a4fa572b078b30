// The colours a map of a region gives its values, and the ticks of its
// colour bar. Two maps, both readable by people with the common colour
// vision deficiencies: a perceptually uniform sequential one (viridis) for
// values of one kind, and a diverging one centred on zero for changes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelmar::region {

struct Rgb {
    std::uint8_t R = 0, G = 0, B = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// viridis_table.cpp: the published table.
inline constexpr std::size_t VIRIDIS_SIZE = 256;
extern const std::array<std::array<double, 3>, VIRIDIS_SIZE> VIRIDIS_TABLE;

// Sequential: 0 the darkest (blue-violet) to 1 the lightest (yellow), the
// table interpolated linearly; outside 0..1 the ends.
Rgb Viridis(double position);
// Diverging: 0 dark blue (the most negative) through near-white at 0.5 to
// dark red at 1 (the most positive), so that a warming or a gain reads red;
// outside 0..1 the ends.
Rgb BlueWhiteRed(double position);

// The values a colour bar spans and how it colours them.
struct ColourScale {
    bool Diverging = false;
    double Low = 0, High = 1;  // the ends of the bar, in the map's units; Low < High

    // The colour of `value`: values beyond the ends take the end colours.
    // Nothing for NaN or an infinity (a site without a value is never
    // coloured, and an infinity is no value a colour could stand for).
    std::optional<Rgb> ColourOf(double value) const;
    // 0 at Low, 1 at High.
    double Position(double value) const { return (value - Low) / (High - Low); }
};

// The scale for `values` (NaN ones ignored): sequential, from the least to
// the greatest; diverging, symmetric about zero (-max|v| .. +max|v|), so
// that 0 takes the middle colour. A single value, or none, is widened
// to a span that keeps Low < High.
ColourScale ScaleOf(const std::vector<double>& values, bool diverging);

// Tick values for a bar from `low` to `high`: every multiple of a step of 1,
// 2 or 5 times a power of ten that lies in [low, high], the step the
// smallest that gives at most `maxIntervals` intervals across the span.
struct Ticks {
    double Step = 1;
    std::vector<double> Values;
};
Ticks NiceTicks(double low, double high, int maxIntervals);

// `value` as a tick label with the decimals `step` needs: "-2.5", "0", "10"
// (never "-0").
std::string TickLabel(double value, double step);

}  // namespace kelmar::region
