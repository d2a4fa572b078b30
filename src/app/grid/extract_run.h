// kelmar-cli extract: the records of a list of sites taken from gridded
// monthly climate, written as a tidy weather table (site_id,year,month,
// tair,prec,tsoil) that a batch (weather_file) and simulate --weather read
// as it is, and optionally the cell each site took.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/grid/extract_options.h"

namespace kelmar::grid {

struct ExtractRequest {
    ExtractOptions Options;
    std::string SitesFile;  // any CSV with site_id, lat and lon
    std::string OutFile;    // the tidy weather table
    std::string CellsFile;  // site_id,lat,lon,cell_lat,cell_lon,distance_km,method; empty: not written
};

struct ExtractSummary {
    int Sites = 0;
    int Failed = 0;
};

inline constexpr const char* CELLS_HEADER = "site_id,lat,lon,cell_lat,cell_lon,distance_km,method\n";

class GridExtraction;
struct SiteRecord;
struct GridSite;

// Takes the records of `sites` from `extraction` and writes them as the tidy
// weather table `outFile` and, unless `cellsFile` is empty, the cell each
// took, both in the order of `sites`, each under a temporary name that
// takes the file's name once every site is in. A site that failed is left
// out of both and given to `failed`.
ExtractSummary WriteSiteRecords(GridExtraction& extraction, const std::vector<GridSite>& sites,
                                const std::string& outFile, const std::string& cellsFile,
                                const std::function<void(const SiteRecord&)>& failed);

// A number as the cells file writes it: the shortest text that reads back to the same double.
void AppendShortest(std::string& out, double value);

// Writes the files, each under a temporary name that takes the file's name
// once every site is in (the sites that failed are left out of both); the
// reader's notes and each failed site's message go to `err`, one line
// each. Raises KelmarError when the sites or the grid cannot be read or a
// file cannot be written; nothing is written then.
ExtractSummary RunExtract(const ExtractRequest& request, std::ostream& err);

}  // namespace kelmar::grid
