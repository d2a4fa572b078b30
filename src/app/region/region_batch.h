// A finished batch's folder read for maps of its region and for the course
// of one site: the window's map view and `kelmar-cli map` open it here.
//
// The results come from results.nc (read through the netCDF module, a
// hyperslab of one variable at a time) where the batch wrote netCDF, else
// from monthly.csv and annual.csv, streamed. A map reads only the months of
// the period it shows, a block of years at a time, and keeps per-site sums:
// memory grows with the sites, not with the years.
//
// A map's value of a site is the mean of the monthly values of the months
// and years asked for (each month counts once: for precipitation the mean
// monthly sum). results_annual.nc is not used for maps: its annual means
// weight the months by their days, so they differ from the mean of twelve
// monthly values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/region/region_map.h"

namespace kelmar::region {

struct RegionVariable {
    std::string Name;      // e.g. "t_ms"
    std::string LongName;  // e.g. "mineral-soil temperature under the forest"
    std::string Units;     // as the results file gives them, e.g. "degC", "kg m-2"
};

// What a batch holds, for the window's controls.
struct RegionContents {
    std::vector<RegionVariable> Variables;
    std::vector<std::string> Scenarios;  // empty: the batch ran no scenario list
    int Realizations = 1;                // replicates of each simulated site (1: none asked for)
    std::int32_t FirstYear = 0, LastYear = 0;  // the calendar years of the run, all sites together
    std::int64_t Sites = 0;
    bool Netcdf = false;                 // read from results.nc; false: from the CSV tables
};

// One site: its id, position and the parameters it ran with.
struct RegionSite {
    std::string Id;
    double Lat = 0, Lon = 0;  // degrees north, east; NaN where the batch has none
    // Name and value of each site parameter results.nc holds (M_ff, ...);
    // empty for a batch read from its CSV tables, which hold none.
    std::vector<std::string> ParamNames;
    std::vector<double> ParamValues;  // NaN for a site that failed before its run
};

// A site's results under one scenario and realization: every variable's
// monthly and annual values, for the window's charts.
struct RegionCourse {
    std::vector<RegionVariable> Variables;
    std::vector<std::int32_t> Years;  // of each month
    std::vector<int> Months;          // 1..12
    std::vector<std::vector<double>> Monthly;  // [variable][month step]; NaN where the site has none
    std::vector<std::int32_t> AnnualYears;
    std::vector<std::vector<double>> Annual;   // [variable][year]: the batch's annual means or sums
};

class RegionSource;

class RegionBatch {
public:
    // Opens the batch in `dir` for reading. `programVersion` is this
    // program's ("0.1.0"): a batch written by a newer one is refused.
    // `sitesFile` is the site list the batch ran, needed only for a batch
    // without results.nc, whose tables hold no positions (checked against
    // the list's hash in the manifest). Raises KelmarError naming the folder
    // for a folder with no manifest, a newer manifest or results file, a
    // batch not finished or not joined (naming the chunks not done), a
    // --summary batch and a CSV batch without its site list.
    static RegionBatch Open(const std::string& dir, const std::string& programVersion,
                            const std::string& sitesFile = std::string());
    RegionBatch(RegionBatch&&) noexcept;
    RegionBatch& operator=(RegionBatch&&) noexcept;
    ~RegionBatch();

    // What the batch holds.
    const RegionContents& Contents() const;
    // One value per site for `request` (see region_map.h). Raises
    // KelmarError naming the variable, scenario, realization, years, months
    // or percentile that the batch does not have (listing those it has),
    // and sites without lat/lon. A site with no month in the period gets NaN.
    RegionMap Map(const MapRequest& request);
    // The id, position and parameters of site `index` (0..Sites-1).
    RegionSite SiteInfo(std::int64_t index);
    // Site `index`'s monthly and annual values of every variable under
    // `scenario` (empty: the first) and `realization` (from 0).
    RegionCourse SiteCourse(std::int64_t index, const std::string& scenario = std::string(), int realization = 0);
    // Values the netCDF reader has read so far (0 for CSV): what the
    // hyperslabs of the maps made amount to.
    std::uint64_t ValuesRead() const;

private:
    explicit RegionBatch(std::unique_ptr<RegionSource> source);
    std::unique_ptr<RegionSource> Source;
};

// The P-th percentile (0..100) of `values` by linear interpolation between
// the order statistics (rank (n - 1) * P / 100, as numpy's default); NaN
// when `values` is empty. `values` is reordered.
double Percentile(std::vector<double>& values, double p);

}  // namespace kelmar::region
