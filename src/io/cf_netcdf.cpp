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
#include <unordered_set>
#include <utility>
#include <vector>

#include "io/file_output.h"
#include "io/posix_file.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar {

namespace {

constexpr int FIELD_COUNT = static_cast<int>(RESULT_FIELDS.size());

// The calendar years a file may span: those the weather file accepts.
constexpr std::int32_t FIRST_CALENDAR_YEAR = 1;
constexpr std::int32_t LAST_CALENDAR_YEAR = 9999;

// Marks a value that is not there. The library's own default for doubles
// (9.969209968386869e+36), which CF readers know and no result comes near.
constexpr double FILL_VALUE = NC_FILL_DOUBLE;
// Marks a site without a seed: no state of the 32-bit random source is
// negative, while every value of uint32, NC_FILL_UINT included, is a state.
constexpr long long SEED_FILL_VALUE = -1;

// The chunk cache of each data variable: 1 byte, so that no chunk fits.
constexpr std::size_t CHUNK_CACHE_BYTES = 1;
constexpr std::size_t CHUNK_CACHE_SLOTS = 1;
constexpr float CHUNK_CACHE_PREEMPTION = 1.0f;  // a written chunk need not be kept for reading

// Bytes of rows after which the disk is asked to start on them.
constexpr std::size_t WRITEBACK_BYTES = std::size_t{16} << 20;

constexpr const char* TIME_UNITS = "days since 0001-01-01 00:00:00";
constexpr const char* CALENDAR = "proleptic_gregorian";
// The auxiliary coordinates of every data variable.
constexpr const char* COORDINATES = "site_id lat lon";

// Days from 0001-01-01 to the first day of `month` (1..12) of `year`, in the
// proleptic Gregorian calendar; month 13 is January of the next year.
double DaysSinceEpoch(int year, int month) {
    namespace chr = std::chrono;
    const chr::year_month start = chr::year{year} / chr::January + chr::months{month - 1};
    const chr::sys_days day = start / chr::day{1};
    const chr::sys_days epoch = chr::year{1} / chr::January / chr::day{1};
    return static_cast<double>((day - epoch).count());
}

// "2024-05-01T12:00:00Z", the moment of the call in UTC.
std::string UtcTimestamp() {
    namespace chr = std::chrono;
    const auto now = chr::floor<chr::seconds>(chr::system_clock::now());
    const auto today = chr::floor<chr::days>(now);
    const chr::year_month_day date{today};
    const chr::hh_mm_ss time{now - today};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// A netCDF file open for writing, closed when it goes, also when an error
// unwinds past it. The close is tried once only: after a failed one (a full
// disk) the HDF5 library beneath has half torn the file down, and both
// another close and an abort crash the process (SIGSEGV).
class NcFile {
public:
    NcFile() = default;
    ~NcFile() { Close(); }
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;

    // Creates `path` with the library's `mode`; gives its status.
    int Create(const std::string& path, int mode) {
        Close();
        KeepHdf5FromClosingAtExit();
        int id = -1;
        const int status = nc_create(path.c_str(), mode, &id);
        if (status == NC_NOERR) Id = id;
        return status;
    }
    int Get() const { return Id; }
    bool IsOpen() const { return Id >= 0; }

    // Writes what the library holds and closes; gives its status. The file
    // is let go of either way.
    int Close() { return Id >= 0 ? nc_close(std::exchange(Id, -1)) : NC_NOERR; }

private:
    // The HDF5 library closes the files it still holds when the process
    // ends, after the netCDF library has let go of them. A file whose close
    // failed is still among them, and closing it there crashed the process
    // after its message (exit status 139 in place of 1). Every file of this
    // writer is closed, or its close has failed, before the end, so nothing
    // is lost by turning that off; it can be turned off only before the
    // HDF5 library starts, which the first file created does.
    static void KeepHdf5FromClosingAtExit() {
        static const bool once = (H5dont_atexit(), true);
        (void)once;
    }

    int Id = -1;
};

}  // namespace

struct CfNetcdfWriter::State {
    std::string FileName;
    FileReplacement Replacement;
    bool Broken = false;  // a library call failed half-way through a site
    int SiteCount = 0;
    int ScenarioCount = 0, RealizationCount = 0;  // 0: no such dimension
    int NextTask = 0;  // of the site being written: scenario * realizations + realization
    std::int32_t FirstYear = 0;
    std::size_t TimeCount = 0;  // months of the time axis
    std::size_t YearCount = 0;  // years of the year axis
    int Written = 0;

    int SiteIdVar = -1, LatVar = -1, LonVar = -1, SeedVar = -1, ScenarioVar = -1, RealizationVar = -1;
    std::vector<std::string> ScenarioNames;
    int TimeVar = -1, TimeBounds = -1, YearVar = -1, YearBounds = -1;
    std::array<int, RESULT_FIELDS.size()> MonthlyVar{}, AnnualVar{};

    // The site coordinates, written in one call each when the file is
    // finished: one call of the library per site and string costs about as
    // much as all the site's rows.
    std::vector<std::string> Ids;
    std::unordered_set<std::string> IdSet;
    std::vector<double> Lats, Lons;
    std::vector<long long> Seeds;
    // The rows of the site being written: field f's months at f * TimeCount,
    // its years at f * YearCount.
    std::vector<double> Monthly, Annual;
    // The number (from 1) of the last call of WriteSite that filled each
    // month and year, so a month given twice is found without clearing.
    std::vector<int> MonthOwner, YearOwner;
    int Attempt = 0;
    // The file once more, only to hand what the library has written to the
    // disk while the sites go on (the rename waits for all of it), and the
    // bytes of rows written since the last time.
    FileDescriptor WritebackFd;  // empty: no hints
    std::size_t UnsyncedBytes = 0;

    // Declared after Replacement, so that an unfinished file is closed
    // before Replacement removes it, also when the definitions fail
    // half-way in the constructor.
    NcFile File;

    explicit State(const std::string& fileName) : FileName(fileName), Replacement(fileName) {}
    int Ncid() const { return File.Get(); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // WriteSite and Finish go on only with a file that is open and whole.
    void RequireWritable() const {
        if (!File.IsOpen()) throw KelmarError("The file " + Quoted(FileName) + " is closed; nothing more can be written to it.");
        if (Broken) Refuse("a site could not be written to it before");
    }

    // A failure of the library: the target has not been touched.
    void Check(int status) const {
        if (status == NC_NOERR) return;
        throw KelmarError("Cannot write the file " + Quoted(FileName) + " (" + nc_strerror(status) +
                          "); it was left as it was.");
    }

    [[noreturn]] void Refuse(const std::string& reason) const {
        throw KelmarError("Cannot write the file " + Quoted(FileName) + ": " + reason +
                          "; it was left as it was.");
    }

    void PutText(int var, const char* name, const std::string& value) const {
        Check(nc_put_att_text(Ncid(), var, name, value.size(), value.c_str()));
    }

    void DefineFile(const CfFileDescription& description);
    // `realizationDim` -1: none.
    void DefineCoordinates(int siteDim, int realizationDim, int timeDim, int yearDim, int boundsDim);
    void DefineField(int& var, const std::string& name, const ResultField& field, const std::string& longName,
                     const std::vector<int>& dims, std::size_t timeChunk);
    // Tasks of a site: 1 without scenarios and realizations.
    int Tasks() const { return std::max(ScenarioCount, 1) * std::max(RealizationCount, 1); }
    void WriteTimeAxes();
};

CfNetcdfWriter::CfNetcdfWriter(const std::string& fileName, const CfFileDescription& description) {
    // Checked before the temporary file exists, so a refusal leaves nothing.
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

    Impl = std::make_unique<State>(fileName);
    State& s = *Impl;
    s.SiteCount = description.SiteCount;
    s.ScenarioCount = static_cast<int>(description.Scenarios.size());
    s.ScenarioNames = description.Scenarios;
    s.RealizationCount = description.Realizations;
    s.FirstYear = description.FirstYear;
    s.YearCount = static_cast<std::size_t>(description.LastYear - description.FirstYear + 1);
    s.TimeCount = 12 * s.YearCount;
    s.Monthly.assign(FIELD_COUNT * s.TimeCount, FILL_VALUE);
    s.Annual.assign(FIELD_COUNT * s.YearCount, FILL_VALUE);
    s.MonthOwner.assign(s.TimeCount, 0);
    s.YearOwner.assign(s.YearCount, 0);

    // netCDF-4 for the string ids and the 64-bit seeds; the temporary file
    // exists (created exclusively), so it is clobbered, not created.
    s.Check(s.File.Create(s.Replacement.TemporaryPath(), NC_CLOBBER | NC_NETCDF4));
    s.WritebackFd = FileDescriptor(::open(s.Replacement.TemporaryPath().c_str(), O_RDONLY | O_CLOEXEC));
    s.DefineFile(description);
}

CfNetcdfWriter::~CfNetcdfWriter() = default;

void CfNetcdfWriter::State::DefineFile(const CfFileDescription& description) {
    int siteDim, timeDim, yearDim, boundsDim, scenarioDim = -1, realizationDim = -1;
    Check(nc_def_dim(Ncid(), "site", static_cast<std::size_t>(SiteCount), &siteDim));
    if (ScenarioCount > 0) Check(nc_def_dim(Ncid(), "scenario", static_cast<std::size_t>(ScenarioCount), &scenarioDim));
    if (RealizationCount > 0)
        Check(nc_def_dim(Ncid(), "realization", static_cast<std::size_t>(RealizationCount), &realizationDim));
    Check(nc_def_dim(Ncid(), "time", TimeCount, &timeDim));
    Check(nc_def_dim(Ncid(), "year", YearCount, &yearDim));
    Check(nc_def_dim(Ncid(), "nv", 2, &boundsDim));

    PutText(NC_GLOBAL, "Conventions", "CF-1.8");
    PutText(NC_GLOBAL, "featureType", "timeSeries");
    PutText(NC_GLOBAL, "title", description.Title);
    PutText(NC_GLOBAL, "source", description.Source);
    PutText(NC_GLOBAL, "history",
            UtcTimestamp() + " created by " + description.ProgramName + " " + description.ProgramVersion);
    PutText(NC_GLOBAL, "program_version", description.ProgramVersion);
    if (description.BaseSeed) {
        const long long seed = *description.BaseSeed;
        Check(nc_put_att_longlong(Ncid(), NC_GLOBAL, "base_seed", NC_INT64, 1, &seed));
    }

    DefineCoordinates(siteDim, realizationDim, timeDim, yearDim, boundsDim);
    if (ScenarioCount > 0) {
        Check(nc_def_var(Ncid(), "scenario", NC_STRING, 1, &scenarioDim, &ScenarioVar));
        PutText(ScenarioVar, "long_name", "climate scenario");
    }
    if (RealizationCount > 0) {
        Check(nc_def_var(Ncid(), "realization", NC_INT, 1, &realizationDim, &RealizationVar));
        PutText(RealizationVar, "standard_name", "realization");
        PutText(RealizationVar, "long_name", "replicate of the weather generator");
        PutText(RealizationVar, "units", "1");
    }
    // The dimensions of the data variables: site, the task's, then time.
    std::vector<int> taskDims{siteDim};
    if (ScenarioCount > 0) taskDims.push_back(scenarioDim);
    if (RealizationCount > 0) taskDims.push_back(realizationDim);
    for (int f = 0; f < FIELD_COUNT; ++f) {
        const ResultField& field = RESULT_FIELDS[f];
        const std::string annualName = std::string(field.Key) + "_annual";
        const std::string annualLongName = std::string(field.Annual == AnnualForm::Sum ? "annual total of " : "annual mean of ") + field.LongName;
        std::vector<int> monthly = taskDims, annual = taskDims;
        monthly.push_back(timeDim);
        annual.push_back(yearDim);
        DefineField(MonthlyVar[f], field.Key, field, field.LongName, monthly, TimeCount);
        DefineField(AnnualVar[f], annualName, field, annualLongName, annual, YearCount);
    }
    Check(nc_enddef(Ncid()));
    WriteTimeAxes();
}

void CfNetcdfWriter::State::DefineCoordinates(int siteDim, int realizationDim, int timeDim, int yearDim, int boundsDim) {
    Check(nc_def_var(Ncid(), "site_id", NC_STRING, 1, &siteDim, &SiteIdVar));
    PutText(SiteIdVar, "cf_role", "timeseries_id");
    PutText(SiteIdVar, "long_name", "site identifier");

    const auto position = [&](int& var, const char* name, const char* standardName, const char* units) {
        Check(nc_def_var(Ncid(), name, NC_DOUBLE, 1, &siteDim, &var));
        PutText(var, "standard_name", standardName);
        PutText(var, "long_name", standardName);
        PutText(var, "units", units);
        Check(nc_put_att_double(Ncid(), var, "_FillValue", NC_DOUBLE, 1, &FILL_VALUE));
    };
    position(LatVar, "lat", "latitude", "degrees_north");
    position(LonVar, "lon", "longitude", "degrees_east");

    // Each realization of a site has a seed of its own.
    const int seedDims[2] = {siteDim, realizationDim};
    Check(nc_def_var(Ncid(), "seed", NC_INT64, realizationDim < 0 ? 1 : 2, seedDims, &SeedVar));
    PutText(SeedVar, "long_name", "state of the random source at the start of the run");
    PutText(SeedVar, "units", "1");
    Check(nc_put_att_longlong(Ncid(), SeedVar, "_FillValue", NC_INT64, 1, &SEED_FILL_VALUE));

    const auto axis = [&](const char* name, const char* longName, int dim, int& var, int& bounds) {
        const std::string boundsName = std::string(name) + "_bnds";
        Check(nc_def_var(Ncid(), name, NC_DOUBLE, 1, &dim, &var));
        PutText(var, "standard_name", "time");
        PutText(var, "long_name", longName);
        PutText(var, "units", TIME_UNITS);
        PutText(var, "calendar", CALENDAR);
        PutText(var, "axis", "T");
        PutText(var, "bounds", boundsName);
        const int boundsDims[2] = {dim, boundsDim};
        Check(nc_def_var(Ncid(), boundsName.c_str(), NC_DOUBLE, 2, boundsDims, &bounds));
    };
    axis("time", "middle of the month", timeDim, TimeVar, TimeBounds);
    axis("year", "middle of the year", yearDim, YearVar, YearBounds);
}

void CfNetcdfWriter::State::WriteTimeAxes() {
    std::vector<double> middle(TimeCount), bounds(2 * TimeCount);
    for (std::size_t t = 0; t < TimeCount; ++t) {
        const int year = FirstYear + static_cast<int>(t / 12);
        const int month = static_cast<int>(t % 12) + 1;
        bounds[2 * t] = DaysSinceEpoch(year, month);
        bounds[2 * t + 1] = DaysSinceEpoch(year, month + 1);
        middle[t] = (bounds[2 * t] + bounds[2 * t + 1]) / 2;  // exact: whole or half days
    }
    Check(nc_put_var_double(Ncid(), TimeVar, middle.data()));
    Check(nc_put_var_double(Ncid(), TimeBounds, bounds.data()));

    middle.resize(YearCount);
    bounds.resize(2 * YearCount);
    for (std::size_t y = 0; y < YearCount; ++y) {
        const int year = FirstYear + static_cast<int>(y);
        bounds[2 * y] = DaysSinceEpoch(year, 1);
        bounds[2 * y + 1] = DaysSinceEpoch(year + 1, 1);
        middle[y] = (bounds[2 * y] + bounds[2 * y + 1]) / 2;
    }
    Check(nc_put_var_double(Ncid(), YearVar, middle.data()));
    Check(nc_put_var_double(Ncid(), YearBounds, bounds.data()));
}

void CfNetcdfWriter::State::DefineField(int& var, const std::string& name, const ResultField& field,
                                        const std::string& longName, const std::vector<int>& dims,
                                        std::size_t timeChunk) {
    Check(nc_def_var(Ncid(), name.c_str(), NC_DOUBLE, static_cast<int>(dims.size()), dims.data(), &var));
    // One chunk per site (and task) and variable: a site's row is one write,
    // and a reader of one site's series reads one chunk. Not compressed: the
    // values are doubles of full precision, which compress poorly and slowly.
    std::vector<std::size_t> chunk(dims.size(), 1);
    chunk.back() = timeChunk;
    Check(nc_def_var_chunking(Ncid(), var, NC_CHUNKED, chunk.data()));
    // Each row is written once, whole, from a buffer already holding the
    // fill value where a month has no data, so the library need not fill
    // the chunks first.
    Check(nc_def_var_fill(Ncid(), var, NC_NOFILL, nullptr));
    // A chunk cache smaller than one chunk: rows go to the file as they are
    // written instead of gathering in the cache (by default up to 16 MiB per
    // variable, hundreds of megabytes for a large batch) until the file is
    // closed. A size of 0 would mean the library's default.
    Check(nc_set_var_chunk_cache(Ncid(), var, CHUNK_CACHE_BYTES, CHUNK_CACHE_SLOTS, CHUNK_CACHE_PREEMPTION));
    Check(nc_put_att_double(Ncid(), var, "_FillValue", NC_DOUBLE, 1, &FILL_VALUE));
    PutText(var, "units", field.CfUnits);
    PutText(var, "long_name", longName);
    if (field.StandardName[0] != '\0') PutText(var, "standard_name", field.StandardName);
    PutText(var, "cell_methods", field.Annual == AnnualForm::Sum ? "time: sum" : "time: mean");
    PutText(var, "coordinates", COORDINATES);
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

    // Written whole: one call per variable and site.
    s.Broken = true;  // until every row of the site is in
    // site, then the task's scenario and realization where the file has them, then time.
    std::size_t start[4] = {static_cast<std::size_t>(s.Written), 0, 0, 0};
    std::size_t months[4] = {1, 1, 1, 1}, years[4] = {1, 1, 1, 1};
    std::size_t rank = 1;
    if (s.ScenarioCount > 0) start[rank++] = static_cast<std::size_t>(scenario);
    if (s.RealizationCount > 0) start[rank++] = static_cast<std::size_t>(realization);
    months[rank] = s.TimeCount;
    years[rank] = s.YearCount;
    for (int f = 0; f < FIELD_COUNT; ++f) {
        s.Check(nc_put_vara_double(s.Ncid(), s.MonthlyVar[f], start, months, &s.Monthly[f * s.TimeCount]));
        s.Check(nc_put_vara_double(s.Ncid(), s.AnnualVar[f], start, years, &s.Annual[f * s.YearCount]));
    }
    s.Broken = false;
    s.UnsyncedBytes += (s.TimeCount + s.YearCount) * FIELD_COUNT * sizeof(double);
    if (s.WritebackFd && s.UnsyncedBytes >= WRITEBACK_BYTES) {
        ::sync_file_range(s.WritebackFd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);  // a hint: its failure changes nothing
        s.UnsyncedBytes = 0;
    }
    if (firstTask) {
        s.IdSet.insert(site.Id);
        s.Ids.push_back(site.Id);
        s.Lats.push_back(site.Lat.value_or(FILL_VALUE));
        s.Lons.push_back(site.Lon.value_or(FILL_VALUE));
    }
    if (scenario == 0) s.Seeds.push_back(site.Seed ? static_cast<long long>(*site.Seed) : SEED_FILL_VALUE);
    if (++s.NextTask == s.Tasks()) {
        s.NextTask = 0;
        ++s.Written;
    }
}

int CfNetcdfWriter::SitesWritten() const { return Impl->Written; }

void CfNetcdfWriter::Finish() {
    State& s = *Impl;
    s.RequireWritable();
    if (s.Written != s.SiteCount)
        s.Refuse("only " + std::to_string(s.Written) + " of its " + std::to_string(s.SiteCount) +
                 " sites were written");
    std::vector<const char*> ids;
    ids.reserve(s.Ids.size());
    for (const std::string& id : s.Ids) ids.push_back(id.c_str());
    s.Check(nc_put_var_string(s.Ncid(), s.SiteIdVar, ids.data()));
    s.Check(nc_put_var_double(s.Ncid(), s.LatVar, s.Lats.data()));
    s.Check(nc_put_var_double(s.Ncid(), s.LonVar, s.Lons.data()));
    s.Check(nc_put_var_longlong(s.Ncid(), s.SeedVar, s.Seeds.data()));
    if (s.ScenarioCount > 0) {
        std::vector<const char*> names;
        for (const std::string& name : s.ScenarioNames) names.push_back(name.c_str());
        s.Check(nc_put_var_string(s.Ncid(), s.ScenarioVar, names.data()));
    }
    if (s.RealizationCount > 0) {
        std::vector<int> numbers(static_cast<std::size_t>(s.RealizationCount));
        for (int r = 0; r < s.RealizationCount; ++r) numbers[static_cast<std::size_t>(r)] = r;
        s.Check(nc_put_var_int(s.Ncid(), s.RealizationVar, numbers.data()));
    }
    s.Check(s.File.Close());
    s.Replacement.Commit();
}

}  // namespace kelmar
