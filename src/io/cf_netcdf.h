// The results of many sites as two netCDF files following the CF
// conventions (version 1.8, feature type timeSeries), one of the months and
// one of the years: dimensions time and site_id, the coordinates site_id,
// lat, lon and time, one variable per results field of RESULT_FIELDS.
//
// The writer streams: sites come one after the other in list order and are
// gathered in blocks (BlockSites sites, fewer with many tasks per site);
// each block goes in with one library call per variable and task, as whole
// chunks, and only one block is held in memory, besides the id, position,
// seed and parameters of every site, which go in with one call each when
// the files are finished. Each file is written under a temporary name
// beside its target and takes the target's name only when every site is
// in, so a refused or interrupted batch never leaves a half-written file.
//
// Layout (netCDF-4, for the string ids and the 64-bit seeds). Months and
// years go to two files, each with one time axis, as tools that take the
// first dimension for time and one axis per file need them:
//   the monthly file (results.nc) and the annual file (results_annual.nc)
//   dimensions  time (unlimited: the record dimension; every month from
//               January of the first year to December of the last, or every
//               year of that span), site_id (the sites), nv = 2
//   time(time)          days since 0001-01-01 00:00:00, proleptic_gregorian,
//                       the middle of each month or year; time_bnds(time, nv)
//                       its start and end
//   site_id(site_id)    string of the site's id, cf_role = "timeseries_id";
//                       named as its dimension, so readers index the sites by it
//   lat(site_id), lon(site_id) degrees_north / degrees_east, _FillValue when unknown
//   seed(site_id)       int64, the random state at the start of the site's
//                       run; -1 where no run has one (no _FillValue: every
//                       reader shows the number as it is)
//   <Key>(site_id)      each site parameter of SITE_FIELDS (M_ff, ...), the
//                       _FillValue for a site that failed before its run
//   depth               0.2 m, positive down: the depth of tsoil
//   <key>(time, site_id) the values of each field (e.g. tsoil): monthly
//                       means or sums ("time: mean" or "time: sum" after the
//                       field's AnnualForm); in the annual file sums stay sums
//                       and means are weighted by the days of each month of
//                       that calendar year
// Months and years a site has no record for hold the _FillValue.
//
// Runs of each site under scenarios or as several realizations add the
// dimensions scenario (with the coordinate scenario(scenario), the names as
// strings, and the scenario's definition: delta_t(scenario, month),
// precip_factor(scenario, month), variability, trend_t and trend_precip) and
// realization (realization(realization), CF standard_name "realization",
// numbered from 0), each only when asked for, between time and site:
// <key>(time, scenario, realization, site_id) and seed(realization, site_id).
// A site's rows are given task by task, scenario by scenario and within it
// realization by realization; the writer gathers a block of sites and writes
// each variable's block in one call, whole chunks at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/model_state.h"
#include "model/scenario.h"

namespace kelmar {

// What a file holds besides its sites; fixed when it is created.
// The type of the data variables: doubles hold the run's numbers exactly,
// floats half the bytes within float rounding.
enum class CfPrecision { Double, Single };

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
    // One definition per name of Scenarios, in their order; empty: the
    // file holds the names alone.
    std::vector<TScenario> ScenarioDefinitions;
    std::string Rng;                     // global attribute "rng" when not empty
    CfPrecision Precision = CfPrecision::Double;
    int Deflate = 0;                     // 0 (none) .. 9: deflate level of the data variables, with shuffle
    // Sites gathered before they are written: the site extent of a chunk.
    int BlockSites = 64;
};

// One site of the file.
struct CfSite {
    std::string Id;                     // non-empty and unique within the file
    std::optional<double> Lat;          // degrees_north, -90..90
    std::optional<double> Lon;          // degrees_east, -180..360
    std::optional<std::uint32_t> Seed;  // the random source's state at the start of the run
    std::optional<TSiteParams> Params;  // the parameters it ran with; none for a site that failed first
};

// What writes the files, as the batch sees it: the writer below, which
// lives in a module of its own (kelmar-netcdf.so) so that the netCDF and
// HDF5 libraries, and the dozens they bring, are loaded only by a process
// that writes netCDF. See CfNetcdfWriter for each call.
class CfWriter {
public:
    virtual ~CfWriter() = default;
    virtual void WriteSite(const CfSite& site, const TResultsTable& results, int yearCount) = 0;
    virtual void WriteTask(const CfSite& site, int scenario, int realization, const TResultsTable& results,
                           int yearCount) = 0;
    virtual int SitesWritten() const = 0;
    virtual void Finish() = 0;
};

// Makes a writer as the constructor of CfNetcdfWriter does (same arguments,
// same refusals); the caller owns it.
using CfWriterMaker = CfWriter* (*)(const std::string& monthlyFile, const std::string& annualFile,
                                    const CfFileDescription& description);

// A program that links the writer (tests, the Python extension) gives its
// maker here, and no module is loaded.
void LinkCfNetcdfWriter(CfWriterMaker maker);

// The maker of the writer: the linked one, else the one of the module
// kelmar-netcdf.so, loaded on the first call from beside the program's real
// location (/proc/self/exe, links resolved): first the private library
// folder of an installed program (KELMAR_NETCDF_MODULE_DIR from the
// program's folder), then the program's own folder, where the build tree
// has it; never from the library search path. Raises KelmarError naming
// every path tried and why it failed when none loads.
CfWriterMaker LoadCfNetcdfWriter();

// In a program that has the writer linked in (tests, the Python extension):
// the HDF5 library is told not to close files at exit (see cf_netcdf.cpp),
// and the calling thread's HDF5 error printing is turned off. The netCDF
// library turns it off only on the thread that first uses it; when that is
// a writer's thread, another library of the same process (xarray's netCDF
// reader in Python) would print pages of diagnostics to stderr for the
// attributes it merely probes.
void KeepHdf5FromClosingFilesAtExit();
void SilenceHdf5DiagnosticsOfThisThread();

// A writer of the two files through LoadCfNetcdfWriter.
std::unique_ptr<CfWriter> NewCfNetcdfWriter(const std::string& monthlyFile, const std::string& annualFile,
                                            const CfFileDescription& description);

class CfNetcdfWriter final : public CfWriter {
public:
    // Creates the temporaries beside `monthlyFile` and `annualFile` and
    // defines every dimension, variable and attribute. Raises KelmarError
    // naming the file for a description it cannot hold or an error of the library.
    CfNetcdfWriter(const std::string& monthlyFile, const std::string& annualFile, const CfFileDescription& description);
    // Without Finish the temporary files are removed and the targets left as they were.
    ~CfNetcdfWriter() override;
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
    void WriteSite(const CfSite& site, const TResultsTable& results, int yearCount) override;

    // The same for the row of one task of a site, in a file with scenarios
    // or realizations: the tasks of a site come one after the other, every
    // (scenario, realization) in order from (0, 0), the site's id and
    // position taken from its first and its seed of each realization from
    // scenario 0. A site without results of a realization (observed weather
    // has one) is written with yearCount 0 there. Raises KelmarError for a
    // task out of order, besides the refusals of WriteSite.
    void WriteTask(const CfSite& site, int scenario, int realization, const TResultsTable& results, int yearCount) override;

    // Sites written so far.
    int SitesWritten() const override;

    // Writes the last block, closes the files and puts them in place of the
    // targets. Raises KelmarError (and leaves the targets as they were) when
    // fewer sites than declared were written or the library or the system fails.
    void Finish() override;

private:
    struct State;
    std::unique_ptr<State> Impl;
};

}  // namespace kelmar
