// The sites to extract from a grid: any comma-separated file with the
// columns site_id, lat and lon (a batch's site list serves; other columns
// are ignored).
#pragma once

#include <string>
#include <vector>

namespace kelmar::grid {

struct GridSite {
    std::string Id;
    int Line = 0;        // of the file, for messages; 0: a position given alone, named by its lat and lon
    double Lat = 0;      // degrees north, -90..90
    double Lon = 0;      // degrees east, -180..180
    std::string Fault;   // why the row cannot be placed (a value that does not convert, a repeated id); empty when it can
};

// Reads the sites in file order. A file that cannot be read, or whose header
// lacks site_id, lat or lon, raises KelmarError naming the file; a row at
// fault is kept with its Fault (naming the line), so the other sites go on.
std::vector<GridSite> ReadGridSites(const std::string& fileName);
std::vector<GridSite> ParseGridSites(std::string_view bytes, const std::string& fileName);

}  // namespace kelmar::grid
