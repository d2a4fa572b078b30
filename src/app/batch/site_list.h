// The list of sites a batch runs: a comma-separated file (UTF-8, header row)
// with a site_id column, then either site_file (a .sit path relative to the
// list's folder) or one column per site parameter (the keys of the site
// file), then the weather: climate_file (simulated weather) and/or
// weather_file (observed; .wed, or a tidy .csv holding this site_id), an
// optional seed (the random state) and optional lat/lon for maps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/model_state.h"

namespace kelmar::batch {

struct SiteEntry {
    std::string Id;
    int Line = 0;                  // of the site list, for messages
    std::string SiteFile;          // path as the reader takes it; empty when the parameters are columns
    TSiteParams Params;            // the columns' parameters over the site-file defaults (no site_file)
    std::string ClimateFile;       // empty when not given
    std::string WeatherFile;       // empty: simulated weather
    std::optional<std::uint32_t> Seed;
    std::optional<double> Lat, Lon;  // degrees north and east, for maps only
};

struct SiteList {
    std::string FileName;
    std::string Bytes;  // the file as read: its hash identifies the batch
    std::vector<SiteEntry> Sites;
};

// The most errors of a list shown at once; the rest are counted.
inline constexpr int SHOWN_LIST_ERRORS = 20;

// Reads and checks the whole list before anything runs. Unknown or repeated
// columns, both site_file and parameter columns, a row without a weather
// source, an empty or repeated id, a value that does not convert: raises
// KelmarError listing each fault with its line (up to SHOWN_LIST_ERRORS).
// Whether the named files exist is left to each site's run.
SiteList ReadSiteList(const std::string& fileName);
SiteList ParseSiteList(std::string bytes, const std::string& fileName, const std::string& folder);

}  // namespace kelmar::batch
