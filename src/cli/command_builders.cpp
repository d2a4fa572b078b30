#include "cli/command_builders.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <memory>
#include <sstream>

#include "app/climate_estimate.h"
#include "basics/basics.h"
#include "model/errors.h"
#include "model/run_model.h"

namespace kelmar::cli {

namespace {

const char* const OUTPUT_NOTE =
    "For --results, --table and --output, a FILE of \"-\" is standard output (\"./-\" names a file called \"-\") "
    "and the line reporting the run then goes to standard error; a device or FIFO is written as it is; a file is "
    "replaced only once the new one is complete. No output may be a file the command reads or another output.";

// --start-year and --run-years of simulated weather, each checked on its
// own as it is read.
void SimulatedYears(CommandLine& line, const std::string& startHelp, const std::string& yearsHelp) {
    CliOptions& o = line.options;
    line.Whole("--start-year", o.startYear, 1, LAST_RUN_YEAR, startHelp)->type_name("Y");
    line.Whole("--run-years", o.runYears, 1, MAX_YEARS, yearsHelp);
}

// The two together, once the line is whole: a run's last year is at most LAST_RUN_YEAR.
void CheckSimulatedYears(const CliOptions& o) {
    if (!o.startYear) return;
    const int years = o.runYears.value_or(MAX_YEARS);
    const int last = LastSimulatedYearBeg(years);
    if (*o.startYear > last)
        throw UsageError("--start-year needs a whole number from 1 to " + std::to_string(last) + " with " +
                         std::to_string(years) + " run years (the last year at most " + std::to_string(LAST_RUN_YEAR) +
                         "), not '" + std::to_string(*o.startYear) + "'");
}

// --reference Y1-Y2, checked once the line is whole.
void ReferenceOption(CommandLine& line, const std::string& help) {
    line.Value("--reference", line.options.reference, help, "Y1-Y2");
}

void CheckReference(const CliOptions& o) {
    if (o.reference.empty()) return;
    try {
        ParseReferenceYears(o.reference);
    } catch (const KelmarError& e) {
        throw UsageError(e.what());
    }
}

void SimulateGridOptions(CommandLine& line);

void BuildSimulate(CommandLine& line) {
    CliOptions& o = line.options;
    line.app.description(
        "Reads the site and either simulates 500 years (or --run-years) of weather from the climatology (without "
        "--weather) or runs the observed weather record (with --weather), exactly as the window's \"Open files\" "
        "does; with --replicates, an ensemble of simulated weather. With --grid, the record is the one extract "
        "takes from gridded climate at --lat and --lon, run as --weather runs that record; the cell taken is told "
        "on standard error.");
    line.app.footer(OUTPUT_NOTE);
    line.Value("--site", o.site, "site parameter file; \".sit\" is appended to a name without a full stop");
    line.Value("--climate", o.climate,
               "climatology file (its extension becomes \".cld\"), or a tidy table FILE.csv (site_id,month,av_Ta_degC,"
               "...; the site by --site-id). Required for simulated weather; with --weather it is read only when the "
               "record has missing soil temperatures, which the generator then fills");
    line.Value("--weather", o.weather,
               "observed monthly weather file (its extension becomes \".wed\"), or a tidy table FILE.csv "
               "(site_id,year,month,tair,prec,tsoil)");
    line.Value("--site-id", o.siteId, "the site to read from a tidy table that holds several", "ID");
    SimulateGridOptions(line);
    line.Flag("--estimate-climate", o.estimateClimate,
              "simulated weather from the climatology estimate makes of --weather or --grid's record (the run of "
              "--climate on the file it writes) instead of the record itself; --climate then fills the soil fields "
              "of months without soil temperature");
    ReferenceOption(line, "with --estimate-climate, estimate from the calendar years Y1 to Y2 of the record (default: "
                          "the whole record)");
    line.Seed("state of the random source (0..4294967295, with --rng pcg64 0..18446744073709551615) before anything "
              "else, so that a run can be reproduced; without it the state comes from the clock and every run differs",
              true);
    line.Whole("--years", o.years, 0, 4294967295LL, "years written to the results file (default: all years of the run)");
    line.Value("--scenario", o.scenario,
               "run under a climate scenario: lines \"key = value\" with delta_t (degC added), precip_factor "
               "(ratio), variability (ratio), trend_t (degC per 100 years), trend_precip (% per 100 years); one value "
               "or twelve");
    line.Real("--delta-t", o.deltaT, "the same with a temperature change of X degC in every month", "X");
    line.Real("--precip-factor", o.precipFactor, "the same with precipitation times F in every month", "F");
    line.Replicates("an ensemble of R runs of simulated weather, replicate r on the stream 216,024 r uniforms after "
                    "the seed (replicate 0 is the single run); writes DIR/monthly.csv and annual.csv "
                    "(site_id,scenario,replicate,...) and DIR/ensemble.txt (generator, seed, replicates, scenario)");
    line.Value("--out", o.out, "the folder of an ensemble", "DIR");
    line.Flag("--summary", o.summary,
              "instead of every replicate, DIR/summary_monthly.csv (per month of the year over all years and "
              "replicates) and summary_annual.csv (per year over the replicates): n, mean, sd, 5/25/50/75/95th "
              "percentiles");
    line.Rng("lcg32 (default: every seed keeps its results) or pcg64 (64-bit seed, period 2^128, for ensembles "
             "beyond 19,881 replicates)");
    line.Jobs("threads of an ensemble (default: every core)");
    line.Whole("--csv-digits", o.csvDigits, 1, 17,
               "the numbers of an ensemble's tables with N significant digits (default: the shortest text that "
               "reads back to the same value)");
    line.Value("--results", o.results,
               "write the results file: monthly forest-floor and mineral-soil temperature and moisture, fixed-width "
               "comma-separated");
    line.Value("--table", o.table, "write every monthly and annual record at full precision");
    SimulatedYears(line,
                   "calendar year of the first simulated year (default 1): a run of N years covers Y to Y+N-1, "
                   "which must end by 9999. Simulated weather only; an observed record keeps its own years",
                   "years of simulated weather, 1 to 500 (default 500): the first N years of the 500-year run of "
                   "the same seed. Simulated weather only");
    line.Foreign({"--output"});
    line.Check([&line, &o] {
        const bool record = !o.weather.empty() || !o.grids.empty();  // observed weather, from a file or a grid
        if (o.estimateClimate && !record)
            throw UsageError("--estimate-climate needs --weather or --grid, the record to estimate the climatology from");
        if (line.Given("--reference") && !o.estimateClimate) throw UsageError("--reference needs --estimate-climate");
        CheckReference(o);
        if (record && !o.estimateClimate)
            for (const char* name : {"--start-year", "--run-years"})
                if (line.Given(name))
                    throw UsageError(std::string(name) + " belongs to simulated weather (--climate without "
                                     "--weather): an observed record runs its own years");
        if (o.site.empty()) throw UsageError("simulate needs --site");
        if (!record && o.climate.empty())
            throw UsageError("simulate needs --climate, or --weather or --grid for weather from file");
        if (o.replicates) {
            if (record && !o.estimateClimate)
                throw UsageError("--replicates needs simulated weather (--climate without --weather)");
            if (o.out.empty()) throw UsageError("--replicates needs --out, the folder of the ensemble");
            if (!o.results.empty() || !o.table.empty())
                throw UsageError("--results and --table write one run; an ensemble's tables go to --out");
        } else {
            for (const char* name : {"--summary", "--out", "--jobs", "--csv-digits"})
                if (line.Given(name)) throw UsageError(std::string(name) + " belongs to an ensemble: give --replicates R");
        }
        if (!o.scenario.empty() && (o.deltaT || o.precipFactor))
            throw UsageError("--scenario and --delta-t or --precip-factor exclude each other: put the change in the "
                             "scenario file");
        CheckSimulatedYears(o);
    });
}

void BuildEstimate(CommandLine& line) {
    CliOptions& o = line.options;
    line.app.description(
        "Estimates a climatology from an observed weather record and writes it as a climatology file, exactly as "
        "\"Generate file\" then \"Save file\".");
    line.app.footer(OUTPUT_NOTE);
    line.Value("--weather", o.weather,
               "observed monthly weather file (its extension becomes \".wed\"), or a tidy table FILE.csv "
               "(site_id,year,month,tair,prec,tsoil)");
    line.Value("--site-id", o.siteId, "the site to read from a tidy table that holds several", "ID");
    line.Value("--output", o.output, "where the climatology file is written");
    ReferenceOption(line, "estimate from the calendar years Y1 to Y2 of the record alone, as from a record holding "
                          "only them (default: the whole record); they must lie within the record's years");
    // simulate's options, named as not belonging here.
    line.Foreign({"--site", "--climate", "--results", "--table", "--seed", "--years", "--scenario",
                  "--delta-t", "--precip-factor", "--replicates", "--out", "--rng", "--jobs", "--summary",
                  "--start-year", "--run-years", "--csv-digits"});
    line.Check([&o] {
        if (o.weather.empty()) throw UsageError("estimate needs --weather");
        if (o.output.empty()) throw UsageError("estimate needs --output");
        CheckReference(o);
    });
}

const char* const FORMATS[] = {"csv", "netcdf", "both"};

// Options given once per file or variable (--grid, --var, --units): every
// occurrence is kept, in order.
void Repeated(CommandLine& line, const std::string& name, std::vector<std::string>& target,
              const std::string& description, const std::string& kind) {
    line.app.add_option(name, target, description)
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name(kind);
    line.Check([&line, &target, name] {
        if (line.Given(name) && (target.empty() || std::find(target.begin(), target.end(), "") != target.end()))
            throw UsageError(name + " needs a value");
    });
}

// KEY=VALUE with KEY one of tair, prec, tsoil, each key once.
void CheckKeyed(const std::string& name, const std::vector<std::string>& pairs, const std::string& valueName) {
    std::vector<std::string> seen;
    for (const std::string& pair : pairs) {
        const std::size_t equals = pair.find('=');
        const std::string key = pair.substr(0, equals);
        if (equals == std::string::npos || equals + 1 == pair.size() || (key != "tair" && key != "prec" && key != "tsoil"))
            throw UsageError(name + " needs KEY=" + valueName + " with KEY tair, prec or tsoil, not '" +
                             ShownArgument(pair) + "'");
        if (std::find(seen.begin(), seen.end(), key) != seen.end())
            throw UsageError(name + " gives " + key + " twice");
        seen.push_back(key);
    }
}

const char* const METHODS[] = {"nearest", "bilinear"};

// --grid, given once per file.
void GridFileOption(CommandLine& line, const std::string& description) {
    Repeated(line, "--grid", line.options.grids, description, "FILE");
}

// How the sites' records are taken from a grid (--method, --max-distance,
// --var, --units), checked as the line is read; they belong to --grid.
void GridReadingOptions(CommandLine& line) {
    CliOptions& o = line.options;
    line.choices["--method"] = {std::begin(METHODS), std::end(METHODS)};
    line.Value("--method", o.method,
               "nearest (default: the cell holding the site) or bilinear (the four cells around it, weighted by "
               "position; a month missing in some of them is the weighted mean of the others)",
               "NAME")
        ->check(CLI::Validator(
            [](std::string& method) {
                if (method != "nearest" && method != "bilinear")
                    throw UsageError("--method needs nearest or bilinear, not '" + ShownArgument(method) + "'");
                return std::string();
            },
            ""));
    line.Real("--max-distance", o.maxDistance,
              "how far (km, great circle) a cell with data may lie from a site whose own cell has none (default 100)",
              "KM");
    Repeated(line, "--var", o.gridVars, "the variable of KEY (tair, prec, tsoil) by its name, for a file without "
                                        "standard names (e.g. --var tair=t2m)",
             "KEY=NAME");
    Repeated(line, "--units", o.gridUnits,
             "the unit of KEY's variable, for a file whose unit is missing or ambiguous: K or degC; kg m-2 s-1, "
             "mm/day, m/day, mm/month or m/month (e.g. --units prec=m/day)",
             "KEY=UNIT");
    line.Check([&o, &line] {
        if (o.grids.empty())
            for (const char* name : {"--method", "--max-distance", "--var", "--units"})
                if (line.Given(name)) throw UsageError(std::string(name) + " needs --grid");
        if (o.maxDistance && !(*o.maxDistance >= 0 && *o.maxDistance <= 20040))
            throw UsageError("--max-distance needs kilometres from 0 to 20040 (half the Earth's circumference)");
        CheckKeyed("--var", o.gridVars, "NAME");
        CheckKeyed("--units", o.gridUnits, "UNIT");
    });
}

void BuildBatch(CommandLine& line) {
    CliOptions& o = line.options;
    line.app.description("Runs every site of a site list on all cores into tidy outputs in a folder.");
    line.Value("--sites", o.sites,
               "the site list (CSV: site_id, site_file or site parameters, climate_file and/or weather_file, "
               "optional seed, lat, lon)");
    line.Value("--out", o.out, "the folder of the outputs, parts and manifest", "DIR");
    line.Jobs("threads (default: every core)");
    line.Seed("base state of the random source (default: from the clock, recorded)", false);
    line.choices["--format"] = {std::begin(FORMATS), std::end(FORMATS)};
    line.Value("--format", o.format,
               "csv (monthly.csv, annual.csv, errors.csv), netcdf (results.nc, results_annual.nc, errors.csv) or both "
               "(default csv)",
               "FORMAT")
        ->check(CLI::Validator(
            [](std::string& format) {
                if (std::find(std::begin(FORMATS), std::end(FORMATS), format) == std::end(FORMATS))
                    throw UsageError("--format needs csv, netcdf or both, not '" + ShownArgument(format) + "'");
                return std::string();
            },
            ""));
    line.Value("--shard", o.shard, "run share K of N and leave the merge (default: from the launcher)", "K/N");
    line.Value("--scenarios", o.scenario,
               "run each site under each scenario of this CSV list (scenario, then delta_t, precip_factor (or "
               "<key>_1 .. <key>_12), variability, trend_t, trend_precip); the tables gain scenario and replicate "
               "columns");
    line.Replicates("realizations of each simulated-weather site (observed weather has one, replicate 0)");
    line.Rng("lcg32 (default) or pcg64");
    line.Flag("--summary", o.summary,
              "per site and scenario, summary_monthly.csv and summary_annual.csv across the replicates instead of "
              "monthly.csv and annual.csv (as simulate --summary)");
    SimulatedYears(line,
                   "calendar year of the first year of the simulated-weather sites (default 1), whose N years are "
                   "then Y to Y+N-1, ending by 9999; sites with a weather_file keep their record's years",
                   "years each simulated-weather site runs, 1 to 500 (default 500): the first N years of its "
                   "500-year run; sites with a weather_file run their whole record");
    line.Flag("--estimate-climate", o.estimateClimate,
              "sites with a weather_file run simulated weather (--start-year, --run-years, --replicates) from the "
              "climatology estimate makes of their record instead of the record itself; a month without soil "
              "temperature takes the soil fields of the site's climate_file");
    ReferenceOption(line, "with --estimate-climate, estimate from the calendar years Y1 to Y2 of each record (default: "
                          "each record's whole span); a record without them is its site's error");
    line.Flag("--save-climate", o.saveClimate,
              "with --estimate-climate, write climatologies.csv: site_id, month and the twelve climatology fields "
              "of every site that ran, as a climate_file reads them back (in every format); with --format netcdf "
              "or both also climatologies.nc, the same values on the dimensions month and site_id");
    GridFileOption(line, "gridded monthly climate (netCDF, as extract takes it; give one per variable): every site "
                         "that names no weather_file takes its record from the cell at its lat/lon, the cell taken "
                         "going to cells.csv; a site without a usable cell is its error");
    GridReadingOptions(line);
    line.Flag("--resume", o.resume, "skip the chunks a killed run finished");
    line.Whole("--csv-digits", o.csvDigits, 1, 17,
               "the numbers of the CSV tables with N significant digits (default: the shortest text that reads back "
               "to the same value)");
    line.Flag("--keep-parts", o.keepParts,
              "keep parts/ once the outputs are joined (default: removed then; the manifest stays)");
    line.Flag("--quiet", o.quiet, "no progress lines");
    line.choices["--netcdf-precision"] = {"double", "single"};
    line.Value("--netcdf-precision", o.netcdfPrecision,
               "double (default: the CSV's numbers) or single (float, half the size) for the netCDF files' values",
               "NAME")
        ->check(CLI::Validator(
            [](std::string& precision) {
                if (precision != "double" && precision != "single")
                    throw UsageError("--netcdf-precision needs single or double, not '" + ShownArgument(precision) + "'");
                return std::string();
            },
            ""));
    line.Whole("--netcdf-deflate", o.netcdfDeflate, 0, 9,
               "deflate level of the netCDF files' values, with shuffle: 0 (default: none) to 9");
    line.Check([&o, &line] {
        if (o.sites.empty()) throw UsageError("batch needs --sites");
        if (o.out.empty()) throw UsageError("batch needs --out");
        CheckSimulatedYears(o);
        for (const char* name : {"--netcdf-precision", "--netcdf-deflate"})
            if (line.Given(name) && o.format == "csv") throw UsageError(std::string(name) + " needs --format netcdf or both");
        if (o.csvDigits && o.format == "netcdf")
            throw UsageError("--csv-digits sets the numbers of the CSV tables; --format netcdf writes none");
        for (const char* name : {"--reference", "--save-climate"})
            if (line.Given(name) && !o.estimateClimate) throw UsageError(std::string(name) + " needs --estimate-climate");
        CheckReference(o);
    });
}

void BuildMerge(CommandLine& line) {
    line.app.description("Joins the parts of a batch run in shards into its outputs.");
    line.app.add_option("DIR", line.options.out, "the folder of the batch")
        ->type_name("")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    line.Flag("--keep-parts", line.options.keepParts,
              "keep parts/ once the outputs are joined (default: removed then; the manifest stays)");
    line.Check([&line] {
        if (line.options.out.empty()) throw UsageError("merge needs the folder of the batch");
    });
}

void BuildCheck(CommandLine& line) {
    CliOptions& o = line.options;
    line.app.description(
        "Checks the weather generator against an observed record: estimates the climatology from the record (or "
        "reads --climate), simulates --years years and compares observed with simulated month by month for air "
        "temperature, precipitation and soil temperature: means (Welch's t test), standard deviations (F test; for "
        "precipitation, which is skewed, Brown-Forsythe) and distributions (two-sample Kolmogorov-Smirnov). Writes "
        "check.csv (and check.png and check.svg where the window's libraries are built) into --out and prints one "
        "verdict per variable: where a test fails at 5 % after Holm's adjustment over the variable's 36 tests (12 "
        "months x 3 tests). Missing observed values are left out and counted.");
    line.Value("--weather", o.weather, "the observed record (.wed, or a tidy .csv)");
    line.Value("--site-id", o.siteId, "the site of a tidy weather table with several", "ID");
    line.Value("--climate", o.climate, "a climatology to check instead of the one estimated from the record");
    // Two simulated values of a month at least for a standard deviation; a run holds MAX_YEARS.
    line.Whole("--years", o.years, 2, MAX_YEARS, "years to simulate, 2 to 500 (default 500)", "--years of check");
    line.Value("--out", o.out, "the folder of check.csv, check.png and check.svg (default: the current one)", "DIR");
    line.Seed("state of the random source (default: from the clock, printed)", false);
    line.Check([&o] {
        if (o.weather.empty()) throw UsageError("check needs --weather");
        if (o.out.empty()) o.out = ".";
    });
}


// A degree of --lat or --lon within -limit..limit, checked once the line is whole.
void CheckDegrees(const char* name, const std::optional<double>& degrees, double limit) {
    if (degrees && !(*degrees >= -limit && *degrees <= limit)) {
        char text[32];  // the longest shortest form of a double has 24 characters
        char* end = std::to_chars(text, text + sizeof text, *degrees).ptr;
        throw UsageError(std::string(name) + " needs degrees from -" + std::to_string(int(limit)) + " to " +
                         std::to_string(int(limit)) + ", not '" + std::string(text, end) + "'");
    }
}

// simulate --grid: the record of one position taken from a grid as extract
// takes a site's, run as --weather would run it.
void SimulateGridOptions(CommandLine& line) {
    CliOptions& o = line.options;
    Repeated(line, "--grid", o.grids,
             "take the observed record from gridded monthly climate (CF netCDF, as extract reads it; one file per "
             "variable, or one holding several) at --lat and --lon, as extract takes a site's, instead of --weather",
             "FILE");
    line.Real("--lat", o.lat, "with --grid, the position's latitude, degrees north (-90 to 90)", "LAT");
    line.Real("--lon", o.lon, "with --grid, the position's longitude, degrees east (-180 to 180)", "LON");
    GridReadingOptions(line);
    line.Check([&line, &o] {
        if (o.grids.empty()) {
            for (const char* name : {"--lat", "--lon", "--method", "--max-distance", "--var", "--units"})
                if (line.Given(name))
                    throw UsageError(std::string(name) + " needs --grid, the gridded climate to take the record from");
            return;
        }
        if (!o.weather.empty())
            throw UsageError("--grid and --weather exclude each other: the record comes from the grid or the file");
        // Never from the site file: it may hold a latitude, but no longitude.
        if (!o.lat || !o.lon)
            throw UsageError("--grid needs --lat and --lon, the position whose record to take");
        CheckDegrees("--lat", o.lat, 90);
        CheckDegrees("--lon", o.lon, 180);
    });
}

// --months 7[,8,...]: each of 1..12 once.
std::vector<int> ParseMonths(const std::string& text) {
    std::vector<int> months;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        std::size_t used = 0;
        int month = 0;
        try {
            month = std::stoi(part, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used != part.size() || part.empty() || month < 1 || month > 12)
            throw UsageError("--months needs months 1 to 12 separated by commas (7 or 6,7,8), not '" +
                             ShownArgument(text) + "'");
        if (std::find(months.begin(), months.end(), month) != months.end())
            throw UsageError("--months gives month " + std::to_string(month) + " twice");
        months.push_back(month);
    }
    if (months.empty()) throw UsageError("--months needs months 1 to 12 separated by commas (7 or 6,7,8)");
    return months;
}

// --years Y1-Y2 of map: calendar years, Y1 <= Y2.
void ParseMapYears(const std::string& text, CliOptions& o) {
    const std::size_t dash = text.find('-', 1);
    int first = 0, last = 0;
    std::size_t usedFirst = 0, usedLast = 0;
    try {
        if (dash != std::string::npos) {
            first = std::stoi(text.substr(0, dash), &usedFirst);
            last = std::stoi(text.substr(dash + 1), &usedLast);
        }
    } catch (const std::exception&) {
        usedFirst = 0;
    }
    if (dash == std::string::npos || usedFirst != dash || usedLast != text.size() - dash - 1 || first < 1 ||
        last > 9999 || first > last)
        throw UsageError("--years needs calendar years Y1-Y2 with Y1 <= Y2 (e.g. 2071-2100), not '" +
                         ShownArgument(text) + "'");
    o.mapFirstYear = first;
    o.mapLastYear = last;
}

void BuildMap(CommandLine& line) {
    CliOptions& o = line.options;
    line.app.description(
        "Draws a map of a finished batch's sites, each coloured by one value: the mean of --var over --months and "
        "--years (from results.nc where the batch wrote netCDF, else from its tables with --sites), the difference "
        "between two scenarios (--diff), or a percentile or the spread (90th minus 10th percentile) of the "
        "realizations' means. Sites without a value in the period are drawn apart. Writes PNG, SVG or PDF by the "
        "extension of --out, drawn with the window's libraries.");
    line.app.add_option("DIR", o.mapDir, "the folder of the batch")
        ->type_name("")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    line.Value("--var", o.mapVar, "the results variable: tair, t_ff, tsoil, t_ms, prec, w_ms_vol, ...", "NAME");
    auto months = std::make_shared<std::string>(), years = std::make_shared<std::string>();
    line.Value("--months", *months, "the months averaged, 1 to 12 separated by commas (default: every month)", "M,...");
    line.Value("--years", *years, "the calendar years averaged (default: the run's)", "Y1-Y2");
    line.Value("--scenario", o.mapScenario, "the scenario shown (default: the batch's first)", "NAME");
    line.Value("--diff", o.mapDiff, "show the scenario minus this one", "NAME");
    line.choices["--stat"] = {"mean", "percentile", "spread"};
    line.Value("--stat", o.mapStat,
               "mean (default), percentile (--percentile of the realizations' means) or spread (their 90th minus 10th "
               "percentile)",
               "NAME")
        ->check(CLI::Validator(
            [](std::string& stat) {
                if (stat != "mean" && stat != "percentile" && stat != "spread")
                    throw UsageError("--stat needs mean, percentile or spread, not '" + ShownArgument(stat) + "'");
                return std::string();
            },
            ""));
    line.Real("--percentile", o.percentile, "with --stat percentile: 0 to 100 (default 50)", "P");
    line.Whole("--realization", o.realization, 0, 99999999, "show this realization alone (from 0; default: their mean)");
    line.Whole("--width", o.width, 100, 10000, "the picture's width in pixels (default 1000)");
    line.Whole("--height", o.height, 100, 10000, "the picture's height in pixels (default 800)");
    line.Value("--sites", o.sites, "the site list the batch ran, for the positions of a batch without results.nc");
    line.Value("--out", o.out, "the picture to write: .png, .svg or .pdf");
    line.Check([&o, &line, months, years] {
        if (o.mapDir.empty()) throw UsageError("map needs the folder of the batch");
        if (o.mapVar.empty()) throw UsageError("map needs --var");
        if (o.out.empty()) throw UsageError("map needs --out");
        const std::string ext = o.out.size() >= 4 ? o.out.substr(o.out.size() - 4) : std::string();
        if (ext != ".png" && ext != ".svg" && ext != ".pdf")
            throw UsageError("--out needs a file ending in .png, .svg or .pdf, not '" + ShownArgument(o.out) + "'");
        if (line.Given("--months")) o.mapMonths = ParseMonths(*months);
        if (line.Given("--years")) ParseMapYears(*years, o);
        if (o.percentile && (*o.percentile < 0 || *o.percentile > 100))
            throw UsageError("--percentile needs 0 to 100");
        if (o.percentile && o.mapStat != "percentile") throw UsageError("--percentile needs --stat percentile");
        if (o.realization && o.mapStat != "mean")
            throw UsageError("--realization shows one realization; --stat " + o.mapStat + " is taken across them");
        if (!o.mapDiff.empty() && o.mapStat != "mean") throw UsageError("--diff needs --stat mean");
    });
}

void BuildExtract(CommandLine& line) {
    CliOptions& o = line.options;
    line.app.description(
        "Takes the monthly record of each site of a list from gridded monthly climate (CF netCDF: air "
        "temperature, precipitation and, when a file has it, soil temperature) and writes them as one tidy "
        "weather table, which batch (weather_file) and simulate --weather read as it is. Each site takes the cell "
        "holding it; when that cell holds no data (sea), the nearest cell with data within --max-distance. Sites "
        "that fail are named on standard error and left out; the others are written.");
    GridFileOption(line, "a netCDF file of the grid (give one per variable, or one holding several); variables are "
                         "found by their standard_name (air_temperature; precipitation_flux, precipitation_amount or "
                         "lwe_thickness_of_precipitation_amount; soil_temperature)");
    line.Value("--sites", o.sites, "the sites: a CSV with site_id, lat and lon columns (a batch's site list serves)");
    line.Value("--out", o.out, "the tidy weather table to write (site_id,year,month,tair,prec,tsoil)");
    line.Value("--cells", o.cells,
               "also write the cell each site took: site_id,lat,lon,cell_lat,cell_lon,distance_km,method");
    GridReadingOptions(line);
    line.Foreign({"--site", "--climate", "--weather", "--site-id", "--results", "--table", "--output", "--seed",
                  "--jobs", "--format"});
    line.Check([&o] {
        if (o.grids.empty()) throw UsageError("extract needs --grid");
        if (o.sites.empty()) throw UsageError("extract needs --sites");
        if (o.out.empty()) throw UsageError("extract needs --out");
        for (const std::string* name : {&o.out, &o.cells})
            if (*name == "-") throw UsageError("extract writes --out and --cells as files, not to standard output ('-')");
    });
}

}  // namespace

const std::vector<CommandEntry>& Commands() {
    static const std::vector<CommandEntry> commands = {
        {"simulate", Command::Simulate, "runs a site under simulated weather from a climatology or under an observed "
                                        "weather record, alone or as an ensemble",
         {"simulate --site FILE --climate FILE [--seed N] [--start-year Y] [--run-years N] [--years N] "
          "[--results FILE] [--table FILE]",
          "simulate --site FILE --weather FILE [--climate FILE] [--seed N] [--years N] [--results FILE] "
          "[--table FILE]",
          "simulate --site FILE --climate FILE --replicates R --out DIR [--summary] [--rng NAME] [--seed N] "
          "[--start-year Y] [--run-years N] [--jobs N]",
          "simulate --site FILE --weather FILE --estimate-climate [--reference Y1-Y2] [--climate FILE] [--seed N] "
          "[--start-year Y] [--run-years N] [--replicates R --out DIR] ...",
          "simulate --site FILE --grid FILE [--grid FILE...] --lat LAT --lon LON [--method nearest|bilinear] "
          "[--max-distance KM] [--var KEY=NAME...] [--units KEY=UNIT...] [--estimate-climate [--reference Y1-Y2]] "
          "[--climate FILE] ...",
          "simulate ... [--scenario FILE | --delta-t X --precip-factor F]"},
         BuildSimulate},
        {"estimate", Command::Estimate, "estimates a climatology from an observed weather record",
         {"estimate --weather FILE [--site-id ID] [--reference Y1-Y2] --output FILE"}, BuildEstimate},
        {"batch", Command::Batch, "runs every site of a site list on all cores into tidy tables in a folder",
         {"batch --sites FILE --out DIR [OPTIONS]"}, BuildBatch},
        {"merge", Command::Merge, "joins the parts of a batch run in shards on a cluster into its outputs",
         {"merge DIR"}, BuildMerge},
        {"check", Command::Check, "checks the weather generator against an observed record",
         {"check --weather FILE [OPTIONS]"}, BuildCheck},
        {"extract", Command::Extract, "takes each site's monthly record from gridded climate (netCDF) into a tidy "
                                      "weather table",
         {"extract --grid FILE [--grid FILE...] --sites FILE --out FILE [--cells FILE] [--method nearest|bilinear] "
          "[--max-distance KM] [--var KEY=NAME...] [--units KEY=UNIT...]"},
         BuildExtract},
        {"map", Command::Map, "draws a map of a batch's sites coloured by a statistic of a results variable",
         {"map DIR --var NAME [--months M,...] [--years Y1-Y2] [--scenario NAME] [--diff NAME] "
          "[--stat mean|percentile|spread] [--percentile P] [--realization R] [--width W --height H] --out FILE"},
         BuildMap},
    };
    return commands;
}

}  // namespace kelmar::cli
