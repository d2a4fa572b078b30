#include "app/region/map_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace kelmar::region {

namespace {

constexpr double DEGREE = std::numbers::pi / 180;
// The flattest a map gets: at 85° a degree of longitude is 0.087 of one of latitude.
constexpr double LEAST_X_SCALE = 0.08715574274765817;  // cos(85°)

// The longitude at and east of which the sites stay as they are and west of
// which they are counted past 180°E: the east end of the widest gap between
// neighbouring longitudes. -inf when that gap is the one across the
// antimeridian, as for any region that does not cross it.
double CutLongitude(std::vector<double> lon) {
    std::sort(lon.begin(), lon.end());
    if (lon.size() < 2) return -std::numeric_limits<double>::infinity();
    double widest = lon.front() + 360 - lon.back();
    double cut = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i < lon.size(); ++i)
        if (lon[i] - lon[i - 1] > widest) {
            widest = lon[i] - lon[i - 1];
            cut = lon[i];
        }
    return cut;
}

std::string Degrees(double magnitude, double step, const char* hemisphere) {
    int decimals = 0;
    for (double s = step; decimals < 3 && std::fabs(s - std::round(s)) > 1e-9; s *= 10) ++decimals;
    char text[48];
    std::snprintf(text, sizeof text, "%.*f\u00b0%s", decimals, magnitude, hemisphere);
    return text;
}

}  // namespace

SitePlacement PlaceSites(const RegionMap& map) {
    SitePlacement sites;
    const std::size_t count = std::min(map.Lat.size(), map.Lon.size());
    std::vector<double> known;
    double latitudes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const bool placed = std::isfinite(map.Lat[i]) && std::isfinite(map.Lon[i]) && std::fabs(map.Lat[i]) <= 90 &&
                            std::fabs(map.Lon[i]) <= 360;
        sites.Lat.push_back(placed ? map.Lat[i] : std::nan(""));
        // Longitudes written 0..360 are taken into -180..180 first.
        sites.Lon.push_back(placed ? std::remainder(map.Lon[i], 360.0) : std::nan(""));
        if (!placed) continue;
        known.push_back(sites.Lon.back());
        latitudes += map.Lat[i];
    }
    sites.Cut = CutLongitude(known);
    for (double& lon : sites.Lon) lon = sites.Unwrapped(lon);
    if (!known.empty()) sites.MeanLatitude = latitudes / static_cast<double>(known.size());
    sites.XScale = std::max(std::cos(sites.MeanLatitude * DEGREE), LEAST_X_SCALE);
    return sites;
}

double SitePlacement::Unwrapped(double lon) const {
    // Longitudes written 0..360 are taken into -180..180 first.
    lon = std::remainder(lon, 360.0);
    return lon < Cut ? lon + 360 : lon;
}

MapView FullView(const SitePlacement& sites) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    MapView view{inf, -inf, inf, -inf};
    for (std::size_t i = 0; i < sites.Lon.size(); ++i) {
        if (std::isnan(sites.Lon[i])) continue;
        view.West = std::min(view.West, sites.Lon[i]);
        view.East = std::max(view.East, sites.Lon[i]);
        view.South = std::min(view.South, sites.Lat[i]);
        view.North = std::max(view.North, sites.Lat[i]);
    }
    if (view.West > view.East) return MapView{};
    // The margin in degrees of latitude; across, the same distance on the map.
    const double margin = std::max(0.5, std::max(view.North - view.South, (view.East - view.West) * sites.XScale) / 20);
    view.West -= margin / sites.XScale;
    view.East += margin / sites.XScale;
    view.South = std::max(-90.0, view.South - margin);
    view.North = std::min(90.0, view.North + margin);
    return view;
}

double GraticuleStep(double span, int maxLines) {
    constexpr double steps[] = {0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1, 2, 5, 10, 15, 20, 30, 45, 60, 90};
    for (double step : steps)
        if (span / step <= maxLines) return step;
    return 90;
}

std::vector<double> GraticuleLines(double low, double high, double step) {
    std::vector<double> lines;
    if (!(step > 0)) return lines;
    for (double k = std::ceil(low / step - 1e-9); k <= std::floor(high / step + 1e-9); ++k) lines.push_back(k * step);
    return lines;
}

std::string LatitudeLabel(double degrees, double step) {
    if (std::fabs(degrees) < 1e-9) return Degrees(0, step, "");
    return Degrees(std::fabs(degrees), step, degrees > 0 ? "N" : "S");
}

std::string LongitudeLabel(double degrees, double step) {
    double lon = std::remainder(degrees, 360.0);  // -180..180
    if (std::fabs(lon) < 1e-9) return Degrees(0, step, "");
    if (std::fabs(std::fabs(lon) - 180) < 1e-9) return Degrees(180, step, "");
    return Degrees(std::fabs(lon), step, lon > 0 ? "E" : "W");
}

}  // namespace kelmar::region
