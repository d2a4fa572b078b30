// A batch's results file (results.nc or results_annual.nc, io/cf_netcdf.h
// lays them out) as a reader of maps and site courses sees it: what it holds
// (variables, scenarios, realizations, years, sites with their positions and
// parameters) and hyperslabs of one variable read on demand.
//
// The reader lives in the netCDF module (kelmar-netcdf.so) beside the
// writer, so that only a process that reads results loads the netCDF
// library; this header has no netCDF in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelmar {

// A data variable of the file: dimensions time, [scenario], [realization], site_id.
struct CfResultsVariable {
    std::string Name;      // e.g. "t_ms"
    std::string LongName;  // its long_name attribute
    std::string Units;     // its units attribute, as the file gives it
};

struct CfResultsLayout {
    std::string File;
    std::string ProgramVersion;   // global attribute program_version; empty when absent
    bool Annual = false;          // a time step is a year, not a month
    std::int32_t FirstYear = 0;   // calendar year of the first time step (January of it, for months)
    std::int64_t Steps = 0;       // time steps
    std::vector<std::string> Scenarios;  // empty: no scenario dimension
    int Realizations = 0;                // 0: no realization dimension
    std::vector<CfResultsVariable> Variables;
    std::vector<std::string> SiteIds;
    std::vector<double> Lat, Lon;  // degrees north, east; NaN where the file has none
    std::vector<std::string> ParamNames;  // the site parameter variables (site_id) in file order
    std::vector<std::string> ParamUnits;  // their units ("" where none)
};

class CfResults {
public:
    virtual ~CfResults() = default;
    virtual const CfResultsLayout& Layout() const = 0;
    // The parameters of `site`, in ParamNames order; NaN for a site that
    // failed before its run.
    virtual std::vector<double> SiteParams(std::int64_t site) = 0;
    // Reads variable `variable` (index of Layout().Variables) at the `count`
    // time steps first, first + stride, ..., of `scenario` and `realization`
    // (0 where the file has no such dimension), sites [siteBegin, siteEnd),
    // into `values` as [step][site]. Fill values become NaN. Raises
    // KelmarError naming the file and variable when the library fails.
    virtual void Read(int variable, std::int64_t first, std::int64_t count, std::int64_t stride, int scenario,
                      int realization, std::int64_t siteBegin, std::int64_t siteEnd, std::vector<double>& values) = 0;
    // Values Read has asked the library for so far: what a caller's
    // hyperslabs amount to.
    virtual std::uint64_t ValuesRead() const = 0;
};

// Opens `file` and reads its layout (not its values). Raises KelmarError
// naming the file when it is no netCDF file or not laid out as a batch's
// results (no time or site_id dimension, another time unit or calendar).
using CfResultsOpener = CfResults* (*)(const std::string& file);

// A program that links the reader (tests, the Python extension) gives its
// opener here, and no module is loaded.
void LinkCfResultsReader(CfResultsOpener opener);

// The linked opener, else the module's (as LoadCfNetcdfWriter finds it).
CfResultsOpener LoadCfResultsReader();

std::unique_ptr<CfResults> OpenCfResults(const std::string& file);

}  // namespace kelmar
