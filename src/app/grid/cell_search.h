// Where a site falls on a latitude-longitude grid: its own cell, the cells
// near enough to stand in for it, the four around it for bilinear
// interpolation, and great-circle distances.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelmar::grid {

// Mean Earth radius (IUGG, km), for great-circle distances.
inline constexpr double EARTH_RADIUS_KM = 6371.0088;

double GreatCircleKm(double lat1, double lon1, double lat2, double lon2);

struct Cell {
    int Row = 0, Col = 0;
};

// The grid's centres: Lats rising or falling, Lons rising (degrees_east,
// either -180..180 or 0..360). Needs two of each at least.
class CellSearch {
public:
    CellSearch(std::vector<double> lats, std::vector<double> lons);

    // Whether every longitude is on the grid (the columns go round the globe).
    bool Global() const { return IsGlobal; }
    // The cell whose area holds the site, or a message saying where the
    // grid lies when the site is outside it. Lat -90..90, lon -180..180.
    std::optional<Cell> Own(double lat, double lon, std::string& outside) const;
    // Every cell whose centre may lie within `km` of the site, nearest
    // first (ties by row, then column), with its distance.
    std::vector<std::pair<Cell, double>> Near(double lat, double lon, double km) const;
    // The up to four cells around the site whose centres frame it, with their
    // bilinear weights (positive; a site beyond the outermost centres takes
    // the edge's cells).
    std::vector<std::pair<Cell, double>> Around(double lat, double lon) const;

    double Lat(const Cell& cell) const { return Lats[cell.Row]; }
    // The centre's longitude in -180..180.
    double Lon(const Cell& cell) const;
    double DistanceKm(double lat, double lon, const Cell& cell) const;

private:
    std::vector<double> Lats, Lons;
    bool IsGlobal = false;
    double South = 0, North = 0;  // the grid's outer edges
    double West = 0, Width = 0;   // the western edge and the width the columns cover
};

}  // namespace kelmar::grid
