// Where a map of a region looks: the longitudes and latitudes it shows, the
// lines of its graticule and their labels. Plain geometry in degrees; the
// drawing maps it to pixels.
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "app/region/region_map.h"

namespace kelmar::region {

// A rectangle of longitudes and latitudes, in degrees east and north. A
// region across the antimeridian has East beyond 180 (its western sites
// counted past 180°E), so that West < East always holds.
struct MapView {
    double West = -180, East = 180, South = -90, North = 90;
    friend bool operator==(const MapView&, const MapView&) = default;
};

// The map's sites as drawn: their longitudes made continuous across the
// antimeridian when the region lies across it (the widest gap between the
// sites' longitudes is where the map is cut), and the mean latitude at which
// the projection keeps the region's proportions.
struct SitePlacement {
    std::vector<double> Lon;  // degrees east, unwrapped as above; NaN for a site without a position
    std::vector<double> Lat;  // degrees north; NaN for a site without a position
    double MeanLatitude = 0;  // degrees north, over the sites with a position
    // cos(MeanLatitude), at least cos(85°) so that a map near a pole stays finite:
    // a degree of longitude is this many degrees of latitude wide.
    double XScale = 1;
    // Longitudes west of this (degrees east) are counted past 180°E; -inf
    // when the region does not cross the antimeridian.
    double Cut = -std::numeric_limits<double>::infinity();

    // `lon` (degrees east, -180..180 or 0..360) as the map counts it.
    double Unwrapped(double lon) const;
};
SitePlacement PlaceSites(const RegionMap& map);

// All the sites with a margin of a twentieth of the larger span on every
// side (at least half a degree), latitudes kept within ±90°. Without a
// site with a position: the whole Earth.
MapView FullView(const SitePlacement& sites);

// The degrees between lines of a graticule across `span` degrees, with at
// most `maxLines` intervals: 0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1, 2,
// 5, 10, 15, 20, 30, 45, 60 or 90.
double GraticuleStep(double span, int maxLines);
// The multiples of `step` within [low, high].
std::vector<double> GraticuleLines(double low, double high, double step);

// "60°N", "12.5°S", "0°" for a latitude; "20°E", "10°W", "180°" for a
// longitude (unwrapped ones taken back into -180..180), with the decimals
// `step` needs.
std::string LatitudeLabel(double degrees, double step);
std::string LongitudeLabel(double degrees, double step);

}  // namespace kelmar::region
