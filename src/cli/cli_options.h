// The command line of kelmar-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelmar::cli {

enum class Command { Help, Simulate, Estimate, Batch, Merge, Check, Extract, Map, Version };

struct CliOptions {
    Command command = Command::Help;
    std::string site;      // --site: site parameter file
    std::string climate;   // --climate: climatology file
    std::string weather;   // --weather: observed weather file
    std::string results;   // --results: results file to write
    std::string table;     // --table: full-precision table to write
    std::string output;    // --output: estimated climatology file to write
    std::optional<std::uint32_t> seed;  // --seed: state of the random source
    std::optional<int> years;           // --years: years to write to the results file
    std::string siteId;    // --site-id: the site of a tidy weather table (.csv) with several
    // The climate scenario of simulate: a file, or a change given on the line.
    std::string scenario;                 // --scenario FILE
    std::optional<double> deltaT;         // --delta-t: degC added to the air temperature
    std::optional<double> precipFactor;   // --precip-factor: ratio multiplying precipitation
    // Ensembles of simulated weather (simulate); the folder is --out.
    std::optional<int> replicates;        // --replicates R
    bool summary = false;                 // --summary: summaries instead of every replicate
    std::string rng = "lcg32";            // --rng lcg32|pcg64
    std::optional<std::uint64_t> wideSeed;  // --seed with --rng pcg64 (64 bits)

    // batch and merge
    std::string sites;     // --sites: the site list
    std::string out;       // --out (batch, check) or the folder given to merge
    std::optional<int> jobs;            // --jobs: threads; default every core
    bool resume = false;   // --resume
    bool quiet = false;    // --quiet: no progress lines
    std::string format = "csv";         // --format: csv, netcdf or both
    std::string shard;     // --shard K/N; empty: from the launcher's environment
    std::string netcdfPrecision = "double";  // --netcdf-precision: single or double
    std::optional<int> netcdfDeflate;        // --netcdf-deflate 0..9; default 0

    // The CSV tables of a batch or an ensemble
    std::optional<int> csvDigits;  // --csv-digits N: significant digits; default the shortest round-trip text
    bool keepParts = false;        // --keep-parts: a finished batch or merge keeps parts/

    std::string helpText;  // what --help (or --completion-words) prints

    // Simulated weather's years (simulate, batch): default 1 and 500.
    std::optional<int> startYear;  // --start-year Y: calendar year of the first simulated year
    std::optional<int> runYears;   // --run-years N: years of simulated weather, 1..500

    // extract: site records from gridded monthly climate; --sites, and --out the tidy weather table;
    // simulate --grid: one position's record
    std::vector<std::string> grids;      // --grid FILE, one or more
    std::string cells;                   // --cells FILE: the cell each site took
    std::string method = "nearest";      // --method nearest|bilinear
    std::optional<double> maxDistance;   // --max-distance KM
    std::vector<std::string> gridVars;   // --var KEY=NAME
    std::vector<std::string> gridUnits;  // --units KEY=UNIT
    // simulate --grid: the position whose record is taken, degrees north (-90..90) and east (-180..180)
    std::optional<double> lat;           // --lat
    std::optional<double> lon;           // --lon

    // Climatologies estimated from observed records (estimate, batch, simulate)
    bool estimateClimate = false;  // --estimate-climate: simulated weather from the record's estimate
    std::string reference;         // --reference Y1-Y2: the years estimated from; empty: the whole record
    bool saveClimate = false;      // --save-climate: batch writes climatologies.csv
    // map: a batch's folder drawn as a map of its sites into --out; --sites
    // gives the positions of a batch without results.nc
    std::string mapDir;                  // the batch's folder
    std::string mapVar;                  // --var NAME: the results variable
    std::vector<int> mapMonths;          // --months 7[,8,...]; empty: every month
    std::optional<int> mapFirstYear, mapLastYear;  // --years Y1-Y2; default the run's
    std::string mapScenario;             // --scenario NAME: the scenario shown
    std::string mapDiff;                 // --diff NAME: the scenario subtracted
    std::string mapStat = "mean";        // --stat mean|percentile|spread
    std::optional<double> percentile;    // --percentile P, 0..100 (default 50)
    std::optional<int> realization;      // --realization R
    std::optional<int> width, height;    // --width, --height: pixels (default 1000 x 800)
};

// The program's version, as the project declares it.
extern const char* const VERSION;

// A command line that cannot be understood; the text says why, in one
// line. `command` is the command it was given to (empty: none).
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& fault, std::string command = "")
        : std::runtime_error(fault), Command(std::move(command)) {}
    const std::string& command() const { return Command; }

private:
    std::string Command;
};

// What the program prints for `error`: the fault and where the help is,
// "kelmar-cli: FAULT; see 'kelmar-cli COMMAND --help'".
std::string UsageErrorLine(const UsageError& error);

// The name of `command` on the command line ("simulate").
std::string CommandName(Command command);

// Parses the arguments after the program name. A help is wrapped to
// `helpWidth` columns (cli/help_format.h).
CliOptions ParseCommandLine(const std::vector<std::string>& args, int helpWidth = 80);

// `kelmar-cli --help`: the commands with their purpose, the global options.
std::string GlobalHelp(int width);

// `kelmar-cli --completion-words`, left out of the help: the words of the
// command line as the parser declares them, from which the build makes the
// bash completion (cmake/MakeCompletion.cmake), so that it cannot drift
// from the program. One line per command, its name first ("kelmar-cli" for
// the words right after the program's name), then its words: `--flag`,
// `--option=KIND` and `=KIND` for a positional argument, where KIND is FILE,
// DIR, the names the option takes joined by "|", or another value name
// (N, X, ...) for a value that no list holds.
extern const char* const COMPLETION_WORDS_OPTION;
std::string CompletionWords();

}  // namespace kelmar::cli
