// What a map makes of any values and positions a batch's results can hold:
// the placement of its sites, the view, the graticule and the colour bar,
// from the bytes read as doubles (NaN, infinities, subnormals, huge values,
// positions out of range). None of it may hang, the view must stay ordered
// and finite, every colour-bar tick and graticule line must be finite and
// within its span, and only finite values may take a colour. A breach aborts.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/region/colour_maps.h"
#include "app/region/map_view.h"

namespace {

[[noreturn]] void Breach(const char* what, double value) {
    std::fprintf(stderr, "map geometry: %s (%g)\n", what, value);
    std::abort();
}

void CheckLines(const std::vector<double>& lines, double low, double high) {
    if (lines.size() > 10000) Breach("a graticule or bar of more lines than a picture can hold", double(lines.size()));
    // A line may stand off its span by rounding: by a millionth of the span,
    // or a few units in the last place of the values themselves.
    const double slack = 1e-6 * (high - low) + 4e-16 * std::max(std::fabs(low), std::fabs(high));
    for (double line : lines)
        if (!std::isfinite(line) || line < low - slack || line > high + slack) Breach("a line outside its span", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar::region;
    const std::size_t count = size / (3 * sizeof(double));
    if (count == 0 || count > 4096) return 0;
    RegionMap map;
    for (std::size_t i = 0; i < count; ++i) {
        double lat = 0, lon = 0, value = 0;
        std::memcpy(&lat, data + 24 * i, 8);
        std::memcpy(&lon, data + 24 * i + 8, 8);
        std::memcpy(&value, data + 24 * i + 16, 8);
        map.Ids.push_back("s");
        map.Lat.push_back(lat);
        map.Lon.push_back(lon);
        map.Value.push_back(value);
    }
    map.Diverging = (data[0] & 1) != 0;

    const SitePlacement placed = PlaceSites(map);
    const MapView view = FullView(placed);
    for (double edge : {view.West, view.East, view.South, view.North})
        if (!std::isfinite(edge)) Breach("a view edge that is not finite", edge);
    if (!(view.West < view.East) || !(view.South < view.North)) Breach("a view out of order", view.East - view.West);
    if (!std::isfinite(placed.XScale) || placed.XScale <= 0) Breach("a longitude scale", placed.XScale);
    for (int lines : {2, 6, 12}) {
        const double across = GraticuleStep(view.East - view.West, lines);
        const double down = GraticuleStep(view.North - view.South, lines);
        if (!(across > 0) || !(down > 0)) Breach("a graticule step", across);
        CheckLines(GraticuleLines(view.West, view.East, across), view.West, view.East);
        CheckLines(GraticuleLines(view.South, view.North, down), view.South, view.North);
    }

    const ColourScale scale = ScaleOf(map.Value, map.Diverging);
    if (!std::isfinite(scale.Low) || !std::isfinite(scale.High) || !(scale.Low < scale.High))
        Breach("a colour bar without finite ordered ends", scale.High - scale.Low);
    for (int intervals : {3, 8})
        CheckLines(NiceTicks(scale.Low, scale.High, intervals).Values, scale.Low, scale.High);
    for (double value : map.Value)
        if (scale.ColourOf(value).has_value() != std::isfinite(value)) Breach("a colour for no value", value);
    return 0;
}
