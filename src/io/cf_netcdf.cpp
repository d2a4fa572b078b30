#include "io/cf_netcdf.h"

#include <hdf5.h>
#include <netcdf.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "io/file_output.h"
#include "io/netcdf_writing.h"
#include "io/posix_file.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar {

void KeepHdf5FromClosingFilesAtExit() {
    static const bool once = (H5dont_atexit(), true);
    (void)once;
}

void SilenceHdf5DiagnosticsOfThisThread() {
    KeepHdf5FromClosingFilesAtExit();  // must come before the library starts, which the next call does
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

namespace {

constexpr int FIELD_COUNT = static_cast<int>(RESULT_FIELDS.size());

// The calendar years a file may span: those the weather file accepts.
constexpr std::int32_t FIRST_CALENDAR_YEAR = 1;
constexpr std::int32_t LAST_CALENDAR_YEAR = 9999;

// Marks a value that is not there (io/netcdf_writing.h).
constexpr double FILL_VALUE = NC_MISSING;
constexpr float FLOAT_FILL_VALUE = NC_FILL_FLOAT;
// Stands for a seed no run had (a realization an observed site lacks): no
// state of the 32-bit random source is negative, while every value of
// uint32 is a state. Not declared as _FillValue: readers turn an int64
// fill value into a warning or into floats.
constexpr long long NO_SEED = -1;
// A site flag (Saturat, ...) of a site that failed before its run.
constexpr short FLAG_FILL_VALUE = -1;

// The chunk's extent along time: 10 years of months, 100 years. A reader of
// one time step of every site (as CDO reads) then reads the chunks of one
// row of sites, and a reader of one site's series the chunks of one column.
constexpr std::size_t MONTHS_PER_CHUNK = 120;
constexpr std::size_t YEARS_PER_CHUNK = 100;

// The depth of the soil temperature under grass, m.
constexpr double GRASS_SOIL_DEPTH = 0.2;

// The chunk cache of each data variable: 1 byte, so that no chunk fits.
constexpr std::size_t CHUNK_CACHE_BYTES = 1;
constexpr std::size_t CHUNK_CACHE_SLOTS = 1;
constexpr float CHUNK_CACHE_PREEMPTION = 1.0f;  // a written chunk need not be kept for reading

// Bytes of rows after which the disk is asked to start on them.
constexpr std::size_t WRITEBACK_BYTES = std::size_t{16} << 20;

constexpr const char* TIME_UNITS = "days since 0001-01-01 00:00:00";
constexpr const char* CALENDAR = "proleptic_gregorian";
// The auxiliary coordinates of every data variable.
constexpr const char* COORDINATES = "lat lon";

// What tells the layers apart, beyond a field's long name: tsoil has the
// scalar coordinate depth; the others no single depth.
struct FieldNote {
    const char* Key;
    bool AtGrassDepth;
    const char* Comment;
};
constexpr FieldNote FIELD_NOTES[] = {
    {"tsoil", true, "soil under grass in the open, at 0.2 m depth: an input of the run (observed or simulated weather)"},
    {"t_ms", false, "mineral soil under the forest: the soil temperature under grass at 0.2 m plus the monthly "
                    "offset of the site's forest type; no single depth"},
    {"t_ff", false, "forest floor (litter and humus on top of the mineral soil), from the air and the mineral-soil "
                    "temperature; no single depth"},
    {"w_ms_vol", false, "mean over the upper 1 m of mineral soil"},
    {"w_ms_mass", false, "mean over the upper 1 m of mineral soil"},
};
const FieldNote* NoteOf(const char* key) {
    for (const FieldNote& note : FIELD_NOTES)
        if (std::string_view(note.Key) == key) return &note;
    return nullptr;
}


// Days from 0001-01-01 to the first day of `month` (1..12) of `year`, in the
// proleptic Gregorian calendar; month 13 is January of the next year.
double DaysSinceEpoch(int year, int month) {
    namespace chr = std::chrono;
    const chr::year_month start = chr::year{year} / chr::January + chr::months{month - 1};
    const chr::sys_days day = start / chr::day{1};
    const chr::sys_days epoch = chr::year{1} / chr::January / chr::day{1};
    return static_cast<double>((day - epoch).count());
}

int DaysOfMonth(int year, int month) {
    namespace chr = std::chrono;
    return static_cast<int>(static_cast<unsigned>(
        (chr::year{year} / chr::month{static_cast<unsigned>(month)} / chr::last).day()));
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace

// One of the two files: its target, its variables and the block of sites
// gathered for it.
struct CfOutput {
    std::string FileName;
    FileReplacement Replacement;
    // Declared after Replacement, so that an unfinished file is closed
    // before Replacement removes it, also when the definitions fail half-way.
    NcFile File;
    bool Annual = false;
    std::size_t Steps = 0;  // months or years of its time axis
    int TimeVar = -1, TimeBounds = -1, SeedVar = -1;
    NcSiteVariables Sites;
    int ScenarioVar = -1, RealizationVar = -1, DepthVar = -1;
    int DeltaTVar = -1, PrecipVar = -1, VariabilityVar = -1, TrendTVar = -1, TrendPrecVar = -1;
    std::array<int, RESULT_FIELDS.size()> FieldVar{};
    std::array<int, SITE_FIELDS.size()> ParamVar{};
    // The block: field f, task k, block site b, step t at ((f * tasks + k) * BlockSites + b) * Steps + t,
    // so that each site's rows go in as they are; FlushBlock turns each
    // (field, task) slice to time first, sites second, as the file lays it
    // out, in Slice. Scattering each value of a site to its place in a
    // time-first block, a cache line apart, was most of the writer's time.
    std::vector<double> Block;
    std::vector<double> Slice;

    CfOutput(const std::string& fileName, bool annual) : FileName(fileName), Replacement(fileName), Annual(annual) {}
    int Ncid() const { return File.Get(); }

    void Check(int status) const {
        if (status == NC_NOERR) return;
        throw KelmarError("Cannot write the file " + Quoted(FileName) + " (" + nc_strerror(status) +
                          "); it was left as it was.");
    }
    void PutText(int var, const char* name, const std::string& value) const {
        Check(nc_put_att_text(Ncid(), var, name, value.size(), value.c_str()));
    }
    void PutDouble(int var, const char* name, double value) const {
        Check(nc_put_att_double(Ncid(), var, name, NC_DOUBLE, 1, &value));
    }
};

struct CfNetcdfWriter::State {
    bool Broken = false;  // a library call failed half-way through a block
    int SiteCount = 0;
    int ScenarioCount = 0, RealizationCount = 0;  // 0: no such dimension
    int NextTask = 0;  // of the site being written: scenario * realizations + realization
    std::int32_t FirstYear = 0;
    std::size_t TimeCount = 0;  // months of the time axis
    std::size_t YearCount = 0;  // years
    int Written = 0;
    std::size_t BlockSites = 1;
    std::size_t BlockStart = 0;  // the site of the block's first
    std::vector<TScenario> Definitions;
    std::vector<std::string> ScenarioNames;

    // The site coordinates and parameters, written in one call each when
    // the files are finished: one call of the library per site and string
    // costs about as much as all the site's rows.
    std::vector<std::string> Ids;
    std::unordered_set<std::string> IdSet;
    std::vector<double> Lats, Lons;
    std::vector<long long> Seeds;  // site by site, realization by realization
    std::vector<std::vector<double>> Params;  // per field of SITE_FIELDS, per site
    // The rows of the task being written: field f's months at f * TimeCount,
    // its years at f * YearCount.
    std::vector<double> Monthly, Annual;
    // The number (from 1) of the last call of WriteTask that filled each
    // month and year, so a month given twice is found without clearing.
    std::vector<int> MonthOwner, YearOwner;
    int Attempt = 0;
    // The monthly file once more, only to hand what the library has written
    // to the disk while the sites go on (the rename waits for all of it), and
    // the bytes written since the last time.
    FileDescriptor WritebackFd;  // empty: no hints
    std::size_t UnsyncedBytes = 0;

    CfOutput MonthlyOut, AnnualOut;

    State(const std::string& monthlyFile, const std::string& annualFile)
        : MonthlyOut(monthlyFile, false), AnnualOut(annualFile, true) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // WriteTask and Finish go on only with files that are open and whole.
    void RequireWritable() const {
        if (!MonthlyOut.File.IsOpen())
            throw KelmarError("The file " + Quoted(MonthlyOut.FileName) + " is closed; nothing more can be written to it.");
        if (Broken) Refuse("a block of sites could not be written to it before");
    }

    [[noreturn]] void Refuse(const std::string& reason) const {
        throw KelmarError("Cannot write the file " + Quoted(MonthlyOut.FileName) + ": " + reason +
                          "; it was left as it was.");
    }

    // Tasks of a site: 1 without scenarios and realizations.
    int Tasks() const { return std::max(ScenarioCount, 1) * std::max(RealizationCount, 1); }
    void Define(CfOutput& out, const CfFileDescription& description);
    void DefineSiteVariables(CfOutput& out, int siteDim, int realizationDim);
    void DefineScenarioVariables(CfOutput& out, int scenarioDim);
    void DefineField(CfOutput& out, int f, const std::vector<int>& dims, const CfFileDescription& description);
    void WriteTimeAxis(const CfOutput& out) const;
    void AddToBlock(CfOutput& out, const std::vector<double>& rows, int task) const;
    void FlushBlock(CfOutput& out) const;
    void WriteSiteVariables(const CfOutput& out) const;
};

CfNetcdfWriter::CfNetcdfWriter(const std::string& monthlyFile, const std::string& annualFile,
                               const CfFileDescription& description) {
    const std::string& fileName = monthlyFile;
    // Checked before the temporary files exist, so a refusal leaves nothing.
    const auto refuse = [&](const std::string& reason) {
        throw KelmarError("Cannot write the file " + Quoted(fileName) + ": " + reason + "; it was left as it was.");
    };
    if (description.SiteCount < 1) refuse("a file of sites needs at least one site");
    if (description.Realizations < 0) refuse("a file needs at least one realization");
    for (const std::string& name : description.Scenarios)
        if (name.empty()) refuse("a scenario has no name");
    if (description.FirstYear < FIRST_CALENDAR_YEAR || description.LastYear > LAST_CALENDAR_YEAR ||
        description.FirstYear > description.LastYear)
        refuse("the years " + std::to_string(description.FirstYear) + ".." + std::to_string(description.LastYear) +
               " are not a span of years within " + std::to_string(FIRST_CALENDAR_YEAR) + ".." +
               std::to_string(LAST_CALENDAR_YEAR));

    if (description.Deflate < 0 || description.Deflate > 9)
        refuse("the deflate level " + std::to_string(description.Deflate) + " is not one of 0..9");
    if (!description.ScenarioDefinitions.empty() && description.ScenarioDefinitions.size() != description.Scenarios.size())
        refuse("it has " + std::to_string(description.ScenarioDefinitions.size()) + " scenario definitions for " +
               std::to_string(description.Scenarios.size()) + " scenarios");
    if (monthlyFile == annualFile) refuse("the monthly and the annual values need files of their own");

    Impl = std::make_unique<State>(monthlyFile, annualFile);
    State& s = *Impl;
    s.SiteCount = description.SiteCount;
    s.ScenarioCount = static_cast<int>(description.Scenarios.size());
    s.ScenarioNames = description.Scenarios;
    s.Definitions = description.ScenarioDefinitions;
    s.RealizationCount = description.Realizations;
    s.FirstYear = description.FirstYear;
    s.YearCount = static_cast<std::size_t>(description.LastYear - description.FirstYear + 1);
    s.TimeCount = 12 * s.YearCount;
    // A block of sites of every task holds about as much as BlockSites sites of one.
    s.BlockSites = static_cast<std::size_t>(std::clamp(std::max(description.BlockSites, 1) / s.Tasks(), 1, s.SiteCount));
    s.Monthly.assign(FIELD_COUNT * s.TimeCount, FILL_VALUE);
    s.Annual.assign(FIELD_COUNT * s.YearCount, FILL_VALUE);
    s.MonthOwner.assign(s.TimeCount, 0);
    s.YearOwner.assign(s.YearCount, 0);
    s.Params.assign(SITE_FIELDS.size(), {});

    for (CfOutput* out : {&s.MonthlyOut, &s.AnnualOut}) {
        out->Steps = out->Annual ? s.YearCount : s.TimeCount;
        out->Block.assign(FIELD_COUNT * static_cast<std::size_t>(s.Tasks()) * out->Steps * s.BlockSites, FILL_VALUE);
        out->Slice.resize(out->Steps * s.BlockSites);
        // netCDF-4 for the string ids and the 64-bit seeds; the temporary file
        // exists (created exclusively), so it is clobbered, not created.
        out->Check(out->File.Create(out->Replacement.TemporaryPath(), NC_CLOBBER | NC_NETCDF4));
        s.Define(*out, description);
    }
    s.WritebackFd = FileDescriptor(::open(s.MonthlyOut.Replacement.TemporaryPath().c_str(), O_RDONLY | O_CLOEXEC));
}

CfNetcdfWriter::~CfNetcdfWriter() = default;

void CfNetcdfWriter::State::Define(CfOutput& out, const CfFileDescription& description) {
    const int ncid = out.Ncid();
    int timeDim, siteDim, boundsDim, scenarioDim = -1, realizationDim = -1;
    // Time first and the record dimension, then the task's, then the sites.
    out.Check(nc_def_dim(ncid, "time", NC_UNLIMITED, &timeDim));
    if (ScenarioCount > 0) out.Check(nc_def_dim(ncid, "scenario", static_cast<std::size_t>(ScenarioCount), &scenarioDim));
    if (RealizationCount > 0)
        out.Check(nc_def_dim(ncid, "realization", static_cast<std::size_t>(RealizationCount), &realizationDim));
    out.Check(nc_def_dim(ncid, "site_id", static_cast<std::size_t>(SiteCount), &siteDim));
    out.Check(nc_def_dim(ncid, "nv", 2, &boundsDim));

    out.PutText(NC_GLOBAL, "Conventions", "CF-1.8");
    out.PutText(NC_GLOBAL, "featureType", "timeSeries");
    out.PutText(NC_GLOBAL, "title", description.Title + (out.Annual ? ", annual values" : ", monthly values"));
    out.PutText(NC_GLOBAL, "source", description.Source);
    out.PutText(NC_GLOBAL, "history",
                UtcTimestamp() + " created by " + description.ProgramName + " " + description.ProgramVersion);
    out.PutText(NC_GLOBAL, "program_version", description.ProgramVersion);
    if (description.BaseSeed) {
        const long long seed = *description.BaseSeed;
        out.Check(nc_put_att_longlong(ncid, NC_GLOBAL, "base_seed", NC_INT64, 1, &seed));
    }
    if (!description.Rng.empty()) out.PutText(NC_GLOBAL, "rng", description.Rng);
    if (RealizationCount > 0) out.Check(nc_put_att_int(ncid, NC_GLOBAL, "replicates", NC_INT, 1, &RealizationCount));

    out.Check(nc_def_var(ncid, "time", NC_DOUBLE, 1, &timeDim, &out.TimeVar));
    out.PutText(out.TimeVar, "standard_name", "time");
    out.PutText(out.TimeVar, "long_name", out.Annual ? "middle of the year" : "middle of the month");
    out.PutText(out.TimeVar, "units", TIME_UNITS);
    out.PutText(out.TimeVar, "calendar", CALENDAR);
    out.PutText(out.TimeVar, "axis", "T");
    out.PutText(out.TimeVar, "bounds", "time_bnds");
    const int boundsDims[2] = {timeDim, boundsDim};
    out.Check(nc_def_var(ncid, "time_bnds", NC_DOUBLE, 2, boundsDims, &out.TimeBounds));
    // The axis goes in with one call: chunks of the whole axis.
    const std::size_t axisChunk[2] = {out.Steps, 2};
    out.Check(nc_def_var_chunking(ncid, out.TimeVar, NC_CHUNKED, axisChunk));
    out.Check(nc_def_var_chunking(ncid, out.TimeBounds, NC_CHUNKED, axisChunk));

    DefineSiteVariables(out, siteDim, realizationDim);
    if (ScenarioCount > 0) {
        out.Check(nc_def_var(ncid, "scenario", NC_STRING, 1, &scenarioDim, &out.ScenarioVar));
        out.PutText(out.ScenarioVar, "long_name", "climate scenario");
        if (!Definitions.empty()) DefineScenarioVariables(out, scenarioDim);
    }
    if (RealizationCount > 0) {
        out.Check(nc_def_var(ncid, "realization", NC_INT, 1, &realizationDim, &out.RealizationVar));
        out.PutText(out.RealizationVar, "standard_name", "realization");
        out.PutText(out.RealizationVar, "long_name", "replicate of the weather generator");
        out.PutText(out.RealizationVar, "units", "1");
    }
    out.Check(nc_def_var(ncid, "depth", NC_DOUBLE, 0, nullptr, &out.DepthVar));
    out.PutText(out.DepthVar, "standard_name", "depth");
    out.PutText(out.DepthVar, "long_name", "depth of the soil temperature under grass");
    out.PutText(out.DepthVar, "units", "m");
    out.PutText(out.DepthVar, "positive", "down");
    out.PutText(out.DepthVar, "axis", "Z");

    std::vector<int> dims{timeDim};
    if (ScenarioCount > 0) dims.push_back(scenarioDim);
    if (RealizationCount > 0) dims.push_back(realizationDim);
    dims.push_back(siteDim);
    for (int f = 0; f < FIELD_COUNT; ++f) DefineField(out, f, dims, description);
    out.Check(nc_enddef(ncid));
    WriteTimeAxis(out);
    out.Check(nc_put_var_double(ncid, out.DepthVar, &GRASS_SOIL_DEPTH));
}

void CfNetcdfWriter::State::DefineSiteVariables(CfOutput& out, int siteDim, int realizationDim) {
    const int ncid = out.Ncid();
    out.Sites = DefineSiteCoordinates(ncid, siteDim, [&](int status) { out.Check(status); });

    // Each realization of a site has a seed of its own.
    const int seedDims[2] = {realizationDim, siteDim};
    const bool perRealization = realizationDim >= 0;
    out.Check(nc_def_var(ncid, "seed", NC_INT64, perRealization ? 2 : 1, perRealization ? seedDims : &siteDim,
                         &out.SeedVar));
    out.PutText(out.SeedVar, "long_name", "state of the random source at the start of the run");
    out.PutText(out.SeedVar, "units", "1");
    out.PutText(out.SeedVar, "comment", "-1 where no run was made (an observed record has realization 0 alone)");
    // Without it CDO takes the string site ids for the variable's grid,
    // warns on every command and leaves the variable out.
    out.PutText(out.SeedVar, "coordinates", COORDINATES);
    out.Check(nc_def_var_fill(ncid, out.SeedVar, NC_NOFILL, nullptr));

    // The site parameters the runs were made with, from the table of the site file.
    for (std::size_t k = 0; k < SITE_FIELDS.size(); ++k) {
        const SiteField& field = SITE_FIELDS[k];
        int& var = out.ParamVar[k];
        const bool real = field.Kind == FieldKind::Real;
        out.Check(nc_def_var(ncid, field.Key, real ? NC_DOUBLE : NC_SHORT, 1, &siteDim, &var));
        out.PutText(var, "long_name", "site parameter " + std::string(field.Key));
        out.PutText(var, "coordinates", COORDINATES);
        if (real) {
            // Volume per cent in the site file; "%" for CF readers.
            out.PutText(var, "units", std::string_view(field.Unit) == "vol_pct" ? "%" : field.Unit);
            out.PutDouble(var, "_FillValue", FILL_VALUE);
        } else {
            out.Check(nc_put_att_short(ncid, var, "_FillValue", NC_SHORT, 1, &FLAG_FILL_VALUE));
        }
    }
}

void CfNetcdfWriter::State::DefineScenarioVariables(CfOutput& out, int scenarioDim) {
    const int ncid = out.Ncid();
    int monthDim;
    out.Check(nc_def_dim(ncid, "month", 12, &monthDim));
    const int dims[2] = {scenarioDim, monthDim};
    const auto define = [&](int& var, const char* name, bool monthly, const char* units, const char* longName) {
        out.Check(nc_def_var(ncid, name, NC_DOUBLE, monthly ? 2 : 1, dims, &var));
        out.PutText(var, "units", units);
        out.PutText(var, "long_name", longName);
    };
    define(out.DeltaTVar, "delta_t", true, "degC", "change of the air and soil temperature of each month (January first)");
    define(out.PrecipVar, "precip_factor", true, "1", "factor of the precipitation of each month (January first)");
    define(out.VariabilityVar, "variability", false, "1", "factor of the year-to-year variability of simulated weather");
    define(out.TrendTVar, "trend_t", false, "degC", "temperature change over each 100 years of the run");
    define(out.TrendPrecVar, "trend_precip", false, "%", "precipitation change over each 100 years of the run");
}

void CfNetcdfWriter::State::DefineField(CfOutput& out, int f, const std::vector<int>& dims,
                                        const CfFileDescription& description) {
    const ResultField& field = RESULT_FIELDS[f];
    const int ncid = out.Ncid();
    int& var = out.FieldVar[f];
    const bool single = description.Precision == CfPrecision::Single;
    out.Check(nc_def_var(ncid, field.Key, single ? NC_FLOAT : NC_DOUBLE, static_cast<int>(dims.size()), dims.data(), &var));
    // A chunk holds a stretch of time of a block of sites (and one task): a
    // block is written as whole chunks, and neither a reader of one time
    // step nor one of one site's series reads much more than it needs.
    std::vector<std::size_t> chunk(dims.size(), 1);
    chunk.front() = std::min(out.Steps, out.Annual ? YEARS_PER_CHUNK : MONTHS_PER_CHUNK);
    chunk.back() = BlockSites;
    out.Check(nc_def_var_chunking(ncid, var, NC_CHUNKED, chunk.data()));
    if (description.Deflate > 0) out.Check(nc_def_var_deflate(ncid, var, 1, 1, description.Deflate));
    // Each chunk is written once, whole, from a buffer already holding the
    // fill value where a month has no data, so the library need not fill
    // the chunks first.
    out.Check(nc_def_var_fill(ncid, var, NC_NOFILL, nullptr));
    // A chunk cache smaller than one chunk: blocks go to the file as they are
    // written instead of gathering in the cache until the file is closed.
    // A size of 0 would mean the library's default.
    out.Check(nc_set_var_chunk_cache(ncid, var, CHUNK_CACHE_BYTES, CHUNK_CACHE_SLOTS, CHUNK_CACHE_PREEMPTION));
    if (single)
        out.Check(nc_put_att_float(ncid, var, "_FillValue", NC_FLOAT, 1, &FLOAT_FILL_VALUE));
    else
        out.PutDouble(var, "_FillValue", FILL_VALUE);
    const bool sum = field.Annual == AnnualForm::Sum;
    out.PutText(var, "units", field.CfUnits);
    out.PutText(var, "long_name", out.Annual ? (sum ? "annual total of " : "annual mean of ") + std::string(field.LongName)
                                             : std::string(field.LongName));
    if (field.StandardName[0] != '\0') out.PutText(var, "standard_name", field.StandardName);
    out.PutText(var, "cell_methods",
                sum ? "time: sum" : out.Annual ? "time: mean (comment: months weighted by their days)" : "time: mean");
    const FieldNote* note = NoteOf(field.Key);
    out.PutText(var, "coordinates", std::string(COORDINATES) + (note && note->AtGrassDepth ? " depth" : ""));
    if (note) out.PutText(var, "comment", note->Comment);
}

void CfNetcdfWriter::State::WriteTimeAxis(const CfOutput& out) const {
    std::vector<double> middle(out.Steps), bounds(2 * out.Steps);
    for (std::size_t t = 0; t < out.Steps; ++t) {
        const int year = FirstYear + static_cast<int>(out.Annual ? t : t / 12);
        const int month = out.Annual ? 1 : static_cast<int>(t % 12) + 1;
        bounds[2 * t] = DaysSinceEpoch(year, month);
        bounds[2 * t + 1] = DaysSinceEpoch(year, out.Annual ? 13 : month + 1);
        middle[t] = (bounds[2 * t] + bounds[2 * t + 1]) / 2;  // exact: whole or half days
    }
    const std::size_t start[2] = {0, 0}, count[2] = {out.Steps, 2};
    out.Check(nc_put_vara_double(out.Ncid(), out.TimeVar, start, count, middle.data()));
    out.Check(nc_put_vara_double(out.Ncid(), out.TimeBounds, start, count, bounds.data()));
}

void CfNetcdfWriter::WriteSite(const CfSite& site, const TResultsTable& results, int yearCount) {
    WriteTask(site, 0, 0, results, yearCount);
}
void CfNetcdfWriter::WriteTask(const CfSite& site, int scenario, int realization, const TResultsTable& results,
                               int yearCount) {
    State& s = *Impl;
    s.RequireWritable();
    const int realizations = std::max(s.RealizationCount, 1);
    if (scenario < 0 || realization < 0 || realization >= realizations ||
        scenario * realizations + realization != s.NextTask)
        s.Refuse("the task (scenario " + std::to_string(scenario) + ", realization " + std::to_string(realization) +
                 ") of site " + std::to_string(s.Written + 1) + " comes out of order");
    const bool firstTask = s.NextTask == 0;
    if (s.Written >= s.SiteCount)
        s.Refuse("it was made for " + std::to_string(s.SiteCount) + " sites and all of them were written");
    const int number = s.Written + 1;  // counted from 1 in messages
    const int attempt = ++s.Attempt;
    const auto refuse = [&](const std::string& reason) {
        s.Refuse("site " + std::to_string(number) + " " + Quoted(site.Id) + " " + reason);
    };

    if (site.Id.empty()) s.Refuse("site " + std::to_string(number) + " has no id");
    // A NUL would cut the id in the file, and no id needs a control character.
    if (std::any_of(site.Id.begin(), site.Id.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; }))
        s.Refuse("site " + std::to_string(number) + " has an id with a control character");
    if (firstTask && s.IdSet.count(site.Id) != 0) refuse("has the id of a site before it");
    if (site.Lat && !(std::isfinite(*site.Lat) && *site.Lat >= -90 && *site.Lat <= 90))
        refuse("has the latitude " + NumberText(*site.Lat) + ", outside -90..90 degrees");
    if (site.Lon && !(std::isfinite(*site.Lon) && *site.Lon >= -180 && *site.Lon <= 360))
        refuse("has the longitude " + NumberText(*site.Lon) + ", outside -180..360 degrees");
    if (yearCount < 0 || yearCount > MAX_YEARS)
        refuse("has " + std::to_string(yearCount) + " years of results, not 0.." + std::to_string(MAX_YEARS));

    // Fill the rows; every check is done before the library is called.
    // `where` makes the place of a record in a message, only when one is needed.
    const auto place = [&](double* row, std::size_t stride, std::size_t index, const TResultRecord& record,
                           const auto& where) {
        for (int f = 0; f < FIELD_COUNT; ++f) {
            const double value = record.*RESULT_FIELDS[f].Value;
            if (!std::isfinite(value))
                refuse("has " + where() + " a " + RESULT_FIELDS[f].Key + " value that is not finite (" +
                       NumberText(value) + ")");
            // Readers take the fill value for a missing value and, by the
            // netCDF conventions, anything above it for one out of range;
            // no result comes near that size in either direction.
            if (std::fabs(value) >= FILL_VALUE)
                refuse("has " + where() + " a " + RESULT_FIELDS[f].Key + " value of " + NumberText(value) +
                       ", which the file would show as missing");
            row[f * stride + index] = value;
        }
    };
    const std::int32_t lastYear = s.FirstYear + static_cast<std::int32_t>(s.YearCount) - 1;
    std::size_t monthsPlaced = 0, yearsPlaced = 0;
    for (int y = 1; y <= yearCount; ++y) {
        for (int slot = 1; slot <= 12; ++slot) {
            const TResultRecord& record = results.At(y, slot);
            const auto where = [&] {
                return "in year " + std::to_string(record.Year) + " month " + std::to_string(record.Month) +
                       " (year index " + std::to_string(y) + ")";
            };
            if (record.Year < s.FirstYear || record.Year > lastYear || record.Month < 1 || record.Month > 12)
                refuse("has a record " + where() + " outside the months of the file, January " +
                       std::to_string(s.FirstYear) + " to December " + std::to_string(lastYear));
            const std::size_t t = static_cast<std::size_t>(record.Year - s.FirstYear) * 12 +
                                  static_cast<std::size_t>(record.Month - 1);
            if (s.MonthOwner[t] == attempt) refuse("has two records " + where());
            s.MonthOwner[t] = attempt;
            ++monthsPlaced;
            place(s.Monthly.data(), s.TimeCount, t, record, where);
        }
        // The annual record carries no year of its own: it is that of its January.
        const std::int32_t year = results.At(y, 1).Year;
        const std::size_t index = static_cast<std::size_t>(year - s.FirstYear);
        const auto where = [&] { return "in the annual record of year " + std::to_string(year); };
        if (s.YearOwner[index] == attempt) refuse("has two annual records of year " + std::to_string(year));
        s.YearOwner[index] = attempt;
        ++yearsPlaced;
        place(s.Annual.data(), s.YearCount, index, results.At(y, 0), where);
        // Means over the year weight each month by its days in that
        // calendar year; sums stay the record's.
        double days = 0;
        std::array<double, FIELD_COUNT> weighted{};
        for (int slot = 1; slot <= 12; ++slot) {
            const TResultRecord& record = results.At(y, slot);
            const int length = DaysOfMonth(record.Year, record.Month);
            days += length;
            for (int f = 0; f < FIELD_COUNT; ++f) weighted[f] += length * (record.*RESULT_FIELDS[f].Value);
        }
        for (int f = 0; f < FIELD_COUNT; ++f)
            if (RESULT_FIELDS[f].Annual == AnnualForm::Mean) s.Annual[f * s.YearCount + index] = weighted[f] / days;
    }

    // The months and years without a record get the fill value; the rows
    // still hold the previous site's values there. A site of the whole
    // span, the usual case of a batch, has none.
    const auto fillTheRest = [&](std::vector<double>& rows, const std::vector<int>& owner, std::size_t placed) {
        const std::size_t length = owner.size();
        if (placed == length) return;
        for (std::size_t i = 0; i < length; ++i)
            if (owner[i] != attempt)
                for (int f = 0; f < FIELD_COUNT; ++f) rows[f * length + i] = FILL_VALUE;
    };
    fillTheRest(s.Monthly, s.MonthOwner, monthsPlaced);
    fillTheRest(s.Annual, s.YearOwner, yearsPlaced);

    const int task = scenario * realizations + realization;
    s.AddToBlock(s.MonthlyOut, s.Monthly, task);
    s.AddToBlock(s.AnnualOut, s.Annual, task);
    if (firstTask) {
        s.IdSet.insert(site.Id);
        s.Ids.push_back(site.Id);
        s.Lats.push_back(site.Lat.value_or(FILL_VALUE));
        s.Lons.push_back(site.Lon.value_or(FILL_VALUE));
    }
    if (scenario == 0) s.Seeds.push_back(site.Seed ? static_cast<long long>(*site.Seed) : NO_SEED);
    if (firstTask)
        for (std::size_t k = 0; k < SITE_FIELDS.size(); ++k) {
            const SiteField& field = SITE_FIELDS[k];
            double value = field.Kind == FieldKind::Real ? FILL_VALUE : FLAG_FILL_VALUE;
            if (site.Params)
                value = field.Kind == FieldKind::Real ? (*site.Params).*field.Real : (*site.Params).*field.Flag;
            s.Params[k].push_back(value);
        }
    if (++s.NextTask < s.Tasks()) return;
    s.NextTask = 0;
    ++s.Written;
    if (static_cast<std::size_t>(s.Written) - s.BlockStart == s.BlockSites || s.Written == s.SiteCount) {
        s.Broken = true;  // until the whole block is in
        s.FlushBlock(s.MonthlyOut);
        s.FlushBlock(s.AnnualOut);
        s.Broken = false;
        s.UnsyncedBytes += (s.TimeCount + s.YearCount) * FIELD_COUNT * sizeof(double) * s.BlockSites * s.Tasks();
        if (s.WritebackFd && s.UnsyncedBytes >= WRITEBACK_BYTES) {
            ::sync_file_range(s.WritebackFd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);  // a hint: its failure changes nothing
            s.UnsyncedBytes = 0;
        }
        s.BlockStart = static_cast<std::size_t>(s.Written);
    }
}

void CfNetcdfWriter::State::AddToBlock(CfOutput& out, const std::vector<double>& rows, int task) const {
    const std::size_t b = static_cast<std::size_t>(Written) - BlockStart;
    const std::size_t tasks = static_cast<std::size_t>(Tasks());
    for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f)
        std::copy_n(&rows[f * out.Steps], out.Steps,
                    &out.Block[((f * tasks + static_cast<std::size_t>(task)) * BlockSites + b) * out.Steps]);
}

void CfNetcdfWriter::State::FlushBlock(CfOutput& out) const {
    const std::size_t sites = static_cast<std::size_t>(Written) - BlockStart;
    const std::size_t tasks = static_cast<std::size_t>(Tasks());
    const int realizations = std::max(RealizationCount, 1);
    for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f)
        for (std::size_t k = 0; k < tasks; ++k) {
            const double* rows = &out.Block[(f * tasks + k) * BlockSites * out.Steps];
            // Time first, the block's sites (fewer in a last block) second,
            // a tile of steps at a time so that the reads and the writes of a
            // tile stay in the cache.
            constexpr std::size_t TILE_STEPS = 32;
            double* slice = out.Slice.data();
            for (std::size_t t0 = 0; t0 < out.Steps; t0 += TILE_STEPS) {
                const std::size_t t1 = std::min(out.Steps, t0 + TILE_STEPS);
                for (std::size_t b = 0; b < sites; ++b) {
                    const double* row = rows + b * out.Steps;
                    for (std::size_t t = t0; t < t1; ++t) slice[t * sites + b] = row[t];
                }
            }
            // time, the task's scenario and realization where the file has them, then the sites.
            std::size_t start[4] = {0, 0, 0, 0}, count[4] = {out.Steps, 1, 1, 1};
            std::size_t rank = 1;
            if (ScenarioCount > 0) start[rank++] = k / static_cast<std::size_t>(realizations);
            if (RealizationCount > 0) start[rank++] = k % static_cast<std::size_t>(realizations);
            start[rank] = BlockStart;
            count[rank] = sites;
            out.Check(nc_put_vara_double(out.Ncid(), out.FieldVar[f], start, count, slice));
        }
}

int CfNetcdfWriter::SitesWritten() const { return Impl->Written; }

void CfNetcdfWriter::State::WriteSiteVariables(const CfOutput& out) const {
    const int ncid = out.Ncid();
    WriteSiteCoordinates(ncid, out.Sites, Ids, Lats, Lons, [&](int status) { out.Check(status); });
    // Gathered site by site; the file holds them realization by realization.
    const std::size_t realizations = static_cast<std::size_t>(std::max(RealizationCount, 1));
    const std::size_t sites = Ids.size();
    std::vector<long long> seeds(Seeds.size());
    for (std::size_t site = 0; site < sites; ++site)
        for (std::size_t r = 0; r < realizations; ++r) seeds[r * sites + site] = Seeds[site * realizations + r];
    out.Check(nc_put_var_longlong(ncid, out.SeedVar, seeds.data()));
    for (std::size_t k = 0; k < SITE_FIELDS.size(); ++k) {
        if (SITE_FIELDS[k].Kind == FieldKind::Real) {
            out.Check(nc_put_var_double(ncid, out.ParamVar[k], Params[k].data()));
        } else {
            const std::vector<short> flags(Params[k].begin(), Params[k].end());
            out.Check(nc_put_var_short(ncid, out.ParamVar[k], flags.data()));
        }
    }
    if (ScenarioCount > 0) {
        std::vector<const char*> names;
        for (const std::string& name : ScenarioNames) names.push_back(name.c_str());
        out.Check(nc_put_var_string(ncid, out.ScenarioVar, names.data()));
    }
    if (!Definitions.empty()) {
        std::vector<double> deltaT, precip, variability, trendT, trendPrec;
        for (const TScenario& scenario : Definitions) {
            deltaT.insert(deltaT.end(), scenario.DeltaT.begin() + 1, scenario.DeltaT.begin() + 13);
            precip.insert(precip.end(), scenario.PrecFactor.begin() + 1, scenario.PrecFactor.begin() + 13);
            variability.push_back(scenario.Variability);
            trendT.push_back(scenario.TrendT);
            trendPrec.push_back(scenario.TrendPrec);
        }
        out.Check(nc_put_var_double(ncid, out.DeltaTVar, deltaT.data()));
        out.Check(nc_put_var_double(ncid, out.PrecipVar, precip.data()));
        out.Check(nc_put_var_double(ncid, out.VariabilityVar, variability.data()));
        out.Check(nc_put_var_double(ncid, out.TrendTVar, trendT.data()));
        out.Check(nc_put_var_double(ncid, out.TrendPrecVar, trendPrec.data()));
    }
    if (RealizationCount > 0) {
        std::vector<int> numbers(static_cast<std::size_t>(RealizationCount));
        for (int r = 0; r < RealizationCount; ++r) numbers[static_cast<std::size_t>(r)] = r;
        out.Check(nc_put_var_int(ncid, out.RealizationVar, numbers.data()));
    }
}

void CfNetcdfWriter::Finish() {
    State& s = *Impl;
    s.RequireWritable();
    if (s.Written != s.SiteCount)
        s.Refuse("only " + std::to_string(s.Written) + " of its " + std::to_string(s.SiteCount) +
                 " sites were written");
    for (CfOutput* out : {&s.MonthlyOut, &s.AnnualOut}) {
        s.WriteSiteVariables(*out);
        out->Check(out->File.Close());
    }
    // Both files are whole before either takes its target's name.
    s.MonthlyOut.Replacement.Commit();
    s.AnnualOut.Replacement.Commit();
}

}  // namespace kelmar
