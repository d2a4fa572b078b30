// The results of many sites as one netCDF file following the CF conventions
// (version 1.8, feature type timeSeries): dimensions site and time, the
// coordinates site_id, lat, lon and time, one variable per results field of
// RESULT_FIELDS by month on the time axis and by year on a year axis.
//
// The writer streams: sites come one after the other in list order, each is
// written as whole rows (one library call per variable) and only the rows of
// one site are held in memory, besides the id, position and seed of every
// site, which go in with one call each when the file is finished. The file
// is written under a temporary name beside the target and takes the target's
// name only when every site is in, so a refused or interrupted batch never
// leaves a half-written file.
//
// Layout (netCDF-4, for the string ids and the 64-bit seeds; each row of a
// data variable is one uncompressed chunk):
//   dimensions  site, time (every month from January of the first year to
//               December of the last), year (every year of that span), nv = 2
//   site_id(site)       string of the site's id, cf_role = "timeseries_id"
//   lat(site), lon(site) degrees_north / degrees_east, _FillValue when unknown
//   seed(site)          int64, the random state at the start of the site's
//                       run, -1 (_FillValue) when not given
//   time(time)          days since 0001-01-01 00:00:00, proleptic_gregorian,
//                       the middle of each month; time_bnds(time, nv) its start
//                       and end
//   year(year)          the same units, the middle of each year; year_bnds
//   <key>(site, time)        the monthly values of each field (e.g. tsoil)
//   <key>_annual(site, year) the annual values, cell_methods "time: mean" or
//                            "time: sum" after the field's AnnualForm
// Months and years a site has no record for hold the _FillValue.
//
// Runs of each site under scenarios or as several realizations add the
// dimensions scenario (with the coordinate scenario(scenario), the names as
// strings) and realization (realization(realization), CF standard_name
// "realization", numbered from 0), each only when asked for, between site
// and time: <key>(site, scenario, realization, time) and seed(site,
// realization). A site's rows are then written task by task, scenario by
// scenario and within it realization by realization.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/model_state.h"

namespace kelmar {

// What a file holds besides its sites; fixed when it is created.
struct CfFileDescription {
    int SiteCount = 0;          // sites the file will hold, at least 1
    std::int32_t FirstYear = 0; // the time axis runs from January of FirstYear
    std::int32_t LastYear = 0;  // to December of LastYear (1 <= FirstYear <= LastYear <= 9999)
    std::string Title;          // global attribute "title"
    std::string Source;         // global attribute "source": how the results were made
    std::string ProgramName;    // e.g. "kelmar-cli", for the history line
    std::string ProgramVersion; // global attribute "program_version" and the history line
    std::optional<std::uint32_t> BaseSeed;  // global attribute "base_seed" when given
    std::vector<std::string> Scenarios;  // names of the scenario dimension; empty: no such dimension
    int Realizations = 0;                // length of the realization dimension; 0: no such dimension
};

// One site of the file.
struct CfSite {
    std::string Id;                     // non-empty and unique within the file
    std::optional<double> Lat;          // degrees_north, -90..90
    std::optional<double> Lon;          // degrees_east, -180..360
    std::optional<std::uint32_t> Seed;  // the random source's state at the start of the run
};

class CfNetcdfWriter {
public:
    // Creates the file's temporary beside `fileName` and defines every
    // dimension, variable and attribute. Raises KelmarError naming the file
    // for a description it cannot hold or an error of the library.
    CfNetcdfWriter(const std::string& fileName, const CfFileDescription& description);
    // Without Finish the temporary file is removed and the target left as it was.
    ~CfNetcdfWriter();
    CfNetcdfWriter(const CfNetcdfWriter&) = delete;
    CfNetcdfWriter& operator=(const CfNetcdfWriter&) = delete;

    // Writes the next site: its id, position and seed, and the records of
    // year indices 1..yearCount of `results` (0 for a site without results).
    // Each month record is placed at the time index of its Year and Month,
    // and each annual record (slot 0) at the year of its January. Everything
    // is checked before anything is written: a record outside the time axis,
    // a month given twice, a value that is not finite, an id that is empty or
    // given before, or a position out of range raises KelmarError naming the
    // file and the site, and leaves the writer as it was, so the caller may
    // write that site again without results.
    void WriteSite(const CfSite& site, const TResultsTable& results, int yearCount);

    // The same for the row of one task of a site, in a file with scenarios
    // or realizations: the tasks of a site come one after the other, every
    // (scenario, realization) in order from (0, 0), the site's id and
    // position taken from its first and its seed of each realization from
    // scenario 0. A site without results of a realization (observed weather
    // has one) is written with yearCount 0 there. Raises KelmarError for a
    // task out of order, besides the refusals of WriteSite.
    void WriteTask(const CfSite& site, int scenario, int realization, const TResultsTable& results, int yearCount);

    // Sites written so far.
    int SitesWritten() const;

    // Closes the file and puts it in place of the target. Raises KelmarError
    // (and leaves the target as it was) when fewer sites than declared were
    // written or the library or the system fails.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> Impl;
};

}  // namespace kelmar
