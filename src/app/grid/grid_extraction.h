// Records of sites taken from gridded monthly climate: each site gets the
// months of the cell holding its position (or a cell near it, or the
// bilinear interpolation of the four around it), one record per site,
// delivered in the order of the sites given.
//
// The grid is never read whole (a 0.5-degree global grid of 120 years is
// some 3 GB as doubles): the sites are taken a window at a time in the order
// given (as many as BlockBytes of records hold), sorted within the window
// by the rows they need, and the rows are read in bands, every month of the
// band's columns at once, each band at most BlockBytes as read. A site whose
// own cell holds no data then looks for the nearest that does, reading the
// cells within reach a row segment at a time.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/grid/extract_options.h"
#include "app/grid/grid_sites.h"
#include "io/climate_grid.h"

namespace kelmar::grid {

// The cell a site's record was taken from: for bilinear interpolation the
// nearest of the cells around it.
struct CellTaken {
    double Lat = 0, Lon = 0;   // its centre, degrees north and east (-180..180)
    double DistanceKm = 0;     // from the site, great circle
    GridMethod Method = GridMethod::Nearest;
};

struct SiteRecord {
    const GridSite* Site = nullptr;
    std::string Error;          // why the site has no record; empty when it has one
    CellTaken Cell;
    std::int64_t FirstYear = 0;
    int FirstMonth = 1;
    std::array<std::vector<double>, GRID_KEY_COUNT> Values;  // tair, prec, tsoil per month; NaN missing
};

class GridExtraction {
public:
    // Opens the grid files (OpenClimateGrid's refusals).
    explicit GridExtraction(const ExtractOptions& options);
    ~GridExtraction();

    // What the reader chose that the user should know.
    std::vector<std::string> Notes() const;
    const ClimateGrid& Grid() const { return *Reader; }

    // Takes the record of every site and gives it to `deliver`, site by
    // site in the order of `sites`. A site at fault, outside the grid,
    // without a cell holding data within reach, or whose cell holds an
    // absurd value gets its Error, naming the site and line; the others go
    // on. Raises KelmarError when the grid cannot be read at all.
    void Run(const std::vector<GridSite>& sites, const std::function<void(const SiteRecord&)>& deliver);

private:
    ExtractOptions Options;
    std::unique_ptr<ClimateGrid> Reader;
};

}  // namespace kelmar::grid
