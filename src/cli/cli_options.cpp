#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <tuple>

#include "app/random_streams.h"
#include "io/number_text.h"
#include "model/errors.h"

#include "basics/basics.h"

namespace kelmar::cli {

const char* const USAGE =
    "Usage:\n"
    "  kelmar-cli simulate --site SITE.sit --climate CLIM.cld [--seed N] [--years N]\n"
    "                      [--results OUT.csv] [--table FULL.csv]\n"
    "  kelmar-cli simulate --site SITE.sit --weather WEATHER.wed [--climate CLIM.cld]\n"
    "                      [--seed N] [--years N] [--results OUT.csv] [--table FULL.csv]\n"
    "                      (either form also [--scenario FILE | --delta-t X --precip-factor F])\n"
    "  kelmar-cli simulate --site SITE.sit --climate CLIM.cld --replicates R --out DIR\n"
    "                      [--summary] [--rng lcg32|pcg64] [--seed N] [--jobs N] [--scenario ...]\n"
    "  kelmar-cli estimate --weather WEATHER.wed --output CLIM.cld\n"
    "  kelmar-cli batch --sites SITES.csv --out DIR [--jobs N] [--seed N] [--resume] [--quiet]\n"
    "                   [--format csv|netcdf|both] [--shard K/N]\n"
    "                   [--scenarios LIST.csv] [--replicates R [--summary]] [--rng lcg32|pcg64]\n"
    "  kelmar-cli merge DIR\n"
    "  kelmar-cli check --weather WEATHER.wed [--climate CLIM.cld] [--years N] [--out DIR]\n"
    "                   [--seed N]\n"
    "  kelmar-cli --help | --version | COMMAND --help\n"
    "\n"
    "simulate   Reads the site and either simulates 500 years of weather from the\n"
    "           climatology (without --weather) or runs the observed weather record\n"
    "           (with --weather), exactly as the window's \"Open files\" does.\n"
    "estimate   Estimates a climatology from an observed weather record and writes\n"
    "           it as a climatology file, exactly as \"Generate file\" then \"Save file\".\n"
    "batch      Runs every site of a site list on all cores into monthly.csv, annual.csv\n"
    "           and errors.csv in DIR (see \"kelmar-cli batch --help\").\n"
    "merge      Joins the parts of a batch run in shards on a cluster into those outputs.\n"
    "check      Checks the weather generator against an observed record (see\n"
    "           \"kelmar-cli check --help\").\n"
    "\n"
    "Options:\n"
    "  --site FILE      site parameter file; \".sit\" is appended to a name without a full stop\n"
    "  --climate FILE   climatology file (its extension becomes \".cld\"). Required for\n"
    "                   simulated weather; with --weather it is read only when the record\n"
    "                   has missing soil temperatures, which the generator then fills\n"
    "  --weather FILE   observed monthly weather file (its extension becomes \".wed\"), or a\n"
    "                   tidy table FILE.csv (site_id,year,month,tair,prec,tsoil)\n"
    "  --site-id ID     the site to read from a tidy table that holds several\n"
    "  --seed N         state of the random source (0..4294967295) before anything else,\n"
    "                   so that a run can be reproduced; without it the state comes from\n"
    "                   the clock and every run differs\n"
    "  --years N        years written to the results file (default: all years of the run)\n"
    "  --scenario FILE  run under a climate scenario: lines \"key = value\" with delta_t (degC\n"
    "                   added), precip_factor (ratio), variability (ratio), trend_t (degC per\n"
    "                   100 years), trend_precip (% per 100 years); one value or twelve\n"
    "  --delta-t X      the same with a temperature change of X degC in every month\n"
    "  --precip-factor F  the same with precipitation times F in every month\n"
    "  --replicates R   an ensemble of R runs of simulated weather, replicate r on the stream\n"
    "                   216,024 r uniforms after the seed (replicate 0 is the single run);\n"
    "                   writes DIR/monthly.csv and annual.csv (site_id,scenario,replicate,...)\n"
    "                   and DIR/ensemble.txt (generator, seed, replicates, scenario)\n"
    "  --out DIR        the folder of an ensemble\n"
    "  --summary        instead of every replicate, DIR/summary_monthly.csv (per month of the\n"
    "                   year over all years and replicates) and summary_annual.csv (per year\n"
    "                   over the replicates): n, mean, sd, 5/25/50/75/95th percentiles\n"
    "  --rng NAME       lcg32 (default: every seed keeps its results) or pcg64 (64-bit seed,\n"
    "                   period 2^128, for ensembles beyond 19,881 replicates)\n"
    "  --jobs N         threads of an ensemble (default: every core)\n"
    "  --results FILE   write the results file: monthly forest-floor and mineral-soil\n"
    "                   temperature and moisture, fixed-width comma-separated\n"
    "  --table FILE     write every monthly and annual record at full precision\n"
    "  --output FILE    where \"estimate\" writes the climatology file\n"
    "                   For --results, --table and --output, a FILE of \"-\" is standard\n"
    "                   output (\"./-\" names a file called \"-\") and the line reporting the\n"
    "                   run then goes to standard error; a device or FIFO is written as it\n"
    "                   is; a file is replaced only once the new one is complete. No output\n"
    "                   may be a file the command reads or another output\n"
    "  --help           show this text\n"
    "\n"
    "Errors go to standard error with the text the window would show. Exit status: 0 on\n"
    "success, 1 when a file or a run fails, 2 for a command line that cannot be understood.\n";

namespace {

template <typename T>
T ParseNumber(const std::string& option, const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        throw UsageError(option + " needs a whole number from 0 to " +
                         std::to_string(std::numeric_limits<T>::max()) + ", not '" + text + "'");
    return value;
}

}  // namespace

const char* const VERSION = KELMAR_VERSION;

namespace {

// The options of simulate and estimate: each takes a value, the last given
// counts, and one that does not belong to the command is named as such
// after parsing (both commands know them all).
struct ValueOption {
    const char* name;
    std::string* text;
};

// Every option is declared to take zero or one value, so that a missing
// value reaches the checks below and gets the program's own message.
CLI::Option* AddValue(CLI::App& command, const std::string& name, const std::string& description) {
    return command.add_option(name, description)->expected(0, 1)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// The value given to `option`, or nothing when it was not given; raises
// UsageError for an option given without a value.
std::optional<std::string> ValueOf(const CLI::Option* option) {
    if (option->count() == 0) return std::nullopt;
    const std::vector<std::string>& results = option->results();
    if (results.empty() || results.back().empty()) throw UsageError(option->get_name() + " needs a value");
    return results.back();
}

// What CLI11 could not place: an option no command knows is unknown.
void RefuseExtras(const CLI::App& command) {
    const std::vector<std::string> extras = command.remaining();
    if (extras.empty()) return;
    std::string first = extras.front();
    if (first.rfind("-", 0) == 0) {
        first = first.substr(0, first.find('='));
        throw UsageError("unknown option '" + first + "'");
    }
    throw UsageError("unexpected argument '" + first + "'");
}

const std::vector<std::string> COMMANDS = {"simulate", "estimate", "batch", "merge", "check"};
// The generators' names, as app/random_streams.h gives them.
const std::vector<std::string> RNG_NAMES = {streams::ShortName(RandomKind::Lcg32), streams::ShortName(RandomKind::Pcg64)};
const std::vector<std::string> FORMATS = {"csv", "netcdf", "both"};

bool OneOf(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The command line of one command as it is declared to CLI11: the options
// the parser knows, the texts they fill, and the values of the options that
// take one of a few names. The parser and the completion words
// (CompletionWords) both read it, so the completion cannot miss an option.
//
// The command is an application of its own, given the arguments after its
// name: under a parent application, CLI11 would take a value that equals
// the command's name (`check --out check`) for the command again and leave
// the option without its value.
struct CommandDeclaration {
    CLI::App app;
    CLI::App* sub = &app;
    bool help = false;
    std::string seedText, yearsText, jobsText, deltaText, factorText, replicatesText;
    std::vector<std::pair<CLI::Option*, std::string*>> values;
    std::map<std::string, std::vector<std::string>> choices;  // option -> the names it takes
    // Options the command knows only to name them as not belonging to it:
    // simulate and estimate declare the same options.
    std::vector<std::string> foreign;

    // `options` receives the values when `app` has parsed a line.
    CommandDeclaration(const std::string& command, CliOptions& options) : app("", command) {
        sub->set_help_flag();  // --help is answered by ParseCommandLine, per command
        sub->allow_extras();
        sub->add_flag("--help", help, "show this text");

        const auto value = [&](const char* name, std::string* target, const char* description,
                               const char* valueName = "FILE") {
            values.emplace_back(AddValue(*sub, name, description)->type_name(valueName), target);
        };
        if (command == "simulate" || command == "estimate") {
            value("--site", &options.site, "site parameter file");
            value("--climate", &options.climate, "climatology file");
            value("--weather", &options.weather, "observed weather file (.wed, or a tidy .csv)");
            value("--site-id", &options.siteId, "the site of a tidy weather table with several", "ID");
            value("--results", &options.results, "results file to write");
            value("--table", &options.table, "full-precision table to write");
            value("--output", &options.output, "where estimate writes the climatology file");
            value("--seed", &seedText, "state of the random source", "N");
            value("--years", &yearsText, "years written to the results file", "N");
            value("--scenario", &options.scenario, "climate scenario file");
            value("--delta-t", &deltaText, "degC added to the air temperature", "X");
            value("--precip-factor", &factorText, "ratio multiplying precipitation", "F");
            value("--replicates", &replicatesText, "replicates of an ensemble", "R");
            value("--out", &options.out, "the folder of an ensemble", "DIR");
            value("--rng", &options.rng, "lcg32 or pcg64", "NAME");
            value("--jobs", &jobsText, "threads of an ensemble", "N");
            sub->add_flag("--summary", options.summary, "summaries instead of every replicate");
            for (const CLI::Option* option : sub->get_options()) {
                const std::string& name = option->get_name();
                const bool estimates = name == "--weather" || name == "--output" || name == "--help";
                if (command == "simulate" ? name == "--output" : !estimates) foreign.push_back(name);
            }
        } else if (command == "batch") {
            sub->description("Runs every site of a site list on all cores into tidy outputs in a folder.");
            value("--sites", &options.sites, "the site list (CSV: site_id, site_file or site parameters, "
                                             "climate_file and/or weather_file, optional seed, lat, lon)");
            value("--out", &options.out, "the folder of the outputs, parts and manifest", "DIR");
            value("--jobs", &jobsText, "threads (default: every core)", "N");
            value("--seed", &seedText, "base state of the random source (default: from the clock, recorded)", "N");
            value("--format", &options.format,
                  "csv (monthly.csv, annual.csv, errors.csv), netcdf (results.nc, errors.csv) or both (default csv)", "FORMAT");
            value("--shard", &options.shard, "run share K of N and leave the merge (default: from the launcher)", "K/N");
            value("--scenarios", &options.scenario,
                  "run each site under each scenario of this CSV list (scenario, then delta_t, precip_factor (or "
                  "<key>_1 .. <key>_12), variability, trend_t, trend_precip); the tables gain scenario and replicate "
                  "columns");
            value("--replicates", &replicatesText,
                  "realizations of each simulated-weather site (observed weather has one, replicate 0)", "R");
            value("--rng", &options.rng, "lcg32 (default) or pcg64", "NAME");
            sub->add_flag("--summary", options.summary,
                          "per site and scenario, summary_monthly.csv and summary_annual.csv across the replicates "
                          "instead of monthly.csv and annual.csv (as simulate --summary)");
            sub->add_flag("--resume", options.resume, "skip the chunks a killed run finished");
            sub->add_flag("--quiet", options.quiet, "no progress lines");
        } else if (command == "check") {
            sub->description(
                "Checks the weather generator against an observed record: estimates the climatology from the record "
                "(or reads --climate), simulates --years years and compares observed with simulated month by month "
                "for air temperature, precipitation and soil temperature: means (Welch's t test), standard deviations "
                "(F test; for precipitation, which is skewed, Brown-Forsythe) and distributions (two-sample "
                "Kolmogorov-Smirnov). Writes check.csv (and check.png and "
                "check.svg where the window's libraries are built) into --out and prints one verdict per variable: "
                "where a test fails at 5 % after Holm's adjustment over the variable's 36 tests (12 months x 3 "
                "tests). Missing observed values are left out and counted.");
            value("--weather", &options.weather, "the observed record (.wed, or a tidy .csv)");
            value("--site-id", &options.siteId, "the site of a tidy weather table with several", "ID");
            value("--climate", &options.climate, "a climatology to check instead of the one estimated from the record");
            value("--years", &yearsText, "years to simulate, 2 to 500 (default 500)", "N");
            value("--out", &options.out, "the folder of check.csv, check.png and check.svg (default: the current one)",
                  "DIR");
            value("--seed", &seedText, "state of the random source (default: from the clock, printed)", "N");
        } else {
            sub->description("Joins the parts of a batch run in shards into its outputs.");
            sub->add_option("DIR", options.out, "the folder of the batch")
                ->type_name("")
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        }
        if (command == "simulate" || command == "estimate" || command == "batch") choices["--rng"] = RNG_NAMES;
        if (command == "batch") choices["--format"] = FORMATS;
    }
    CommandDeclaration(const CommandDeclaration&) = delete;
    CommandDeclaration& operator=(const CommandDeclaration&) = delete;
};

}  // namespace

const char* const COMPLETION_WORDS_OPTION = "--completion-words";

std::string CompletionWords() {
    std::string words = "kelmar-cli";
    for (const std::string& command : COMMANDS) words += ' ' + command;
    words += " --help --version\n";
    for (const std::string& command : COMMANDS) {
        CliOptions options;
        const CommandDeclaration declaration(command, options);
        words += command;
        for (const CLI::Option* option : declaration.sub->get_options()) {
            const std::string name = option->get_name();
            if (OneOf(declaration.foreign, name)) continue;
            const auto choices = declaration.choices.find(name);
            std::string kind = option->get_type_name();
            if (choices != declaration.choices.end()) {
                kind.clear();
                for (const std::string& choice : choices->second) kind += (kind.empty() ? "" : "|") + choice;
            }
            if (!option->nonpositional())
                words += " =" + name;  // a positional argument: its name is its kind (DIR)
            else if (option->get_expected_max() == 0)
                words += ' ' + name;  // a flag
            else
                words += ' ' + name + '=' + kind;
        }
        words += '\n';
    }
    return words;
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
    CliOptions options;
    if (args.empty()) throw UsageError("no command given");
    const std::string& command = args.front();
    if (command == "--help" || command == "-h" || command == "help") return options;
    if (command == "--version") {
        options.command = Command::Version;
        return options;
    }
    if (command == COMPLETION_WORDS_OPTION) {
        options.helpText = CompletionWords();
        return options;
    }
    if (std::find(COMMANDS.begin(), COMMANDS.end(), command) == COMMANDS.end())
        throw UsageError("unknown command '" + command + "'");

    CommandDeclaration declaration(command, options);
    CLI::App* sub = declaration.sub;
    const bool& help = declaration.help;
    std::string &seedText = declaration.seedText, &yearsText = declaration.yearsText,
                &jobsText = declaration.jobsText, &deltaText = declaration.deltaText,
                &factorText = declaration.factorText, &replicatesText = declaration.replicatesText;
    const auto& values = declaration.values;

    // The arguments after the command's name, last first, as CLI11 takes them.
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        sub->parse(reversed);
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    if (help) {
        options.command = Command::Help;
        if (command == "batch" || command == "merge" || command == "check") options.helpText = sub->help("kelmar-cli");
        return options;
    }
    RefuseExtras(*sub);
    for (const auto& [option, target] : values)
        if (const auto text = ValueOf(option)) *target = *text;

    if (command == "batch" || command == "merge") {
        options.command = command == "batch" ? Command::Batch : Command::Merge;
        if (!seedText.empty()) options.seed = ParseNumber<std::uint32_t>("--seed", seedText);
        if (!jobsText.empty()) {
            const auto jobs = ParseNumber<std::uint16_t>("--jobs", jobsText);
            if (jobs == 0) throw UsageError("--jobs needs a whole number from 1 to 65535, not '0'");
            options.jobs = jobs;
        }
        if (!streams::KindNamed(options.rng))
            throw UsageError("--rng needs lcg32 or pcg64, not '" + options.rng + "'");
        if (!replicatesText.empty()) {
            const auto replicates = ParseNumber<std::uint32_t>("--replicates", replicatesText);
            if (replicates == 0 || replicates > 100000000)
                throw UsageError("--replicates needs a whole number from 1 to 100000000, not '" + replicatesText + "'");
            options.replicates = static_cast<int>(replicates);
        }
        if (command == "merge" && options.out.empty()) throw UsageError("merge needs the folder of the batch");
        if (command == "batch") {
            if (options.sites.empty()) throw UsageError("batch needs --sites");
            if (options.out.empty()) throw UsageError("batch needs --out");
            if (!OneOf(FORMATS, options.format))
                throw UsageError("--format needs csv, netcdf or both, not '" + options.format + "'");
        }
        return options;
    }
    if (command == "check") {
        options.command = Command::Check;
        if (!seedText.empty()) options.seed = ParseNumber<std::uint32_t>("--seed", seedText);
        if (options.weather.empty()) throw UsageError("check needs --weather");
        if (!yearsText.empty()) {
            const auto years = ParseNumber<std::uint16_t>("--years", yearsText);
            // Two simulated values of a month at least for a standard deviation;
            // the stores hold MAX_YEARS.
            if (years < 2 || years > MAX_YEARS)
                throw UsageError("--years of check needs a whole number from 2 to " + std::to_string(MAX_YEARS) +
                                 ", not '" + yearsText + "'");
            options.years = years;
        }
        if (options.out.empty()) options.out = ".";
        return options;
    }
    options.command = command == "simulate" ? Command::Simulate : Command::Estimate;
    if (!streams::KindNamed(options.rng))
        throw UsageError("--rng needs lcg32 or pcg64, not '" + options.rng + "'");
    if (!seedText.empty() && streams::KindNamed(options.rng) == RandomKind::Pcg64)
        options.wideSeed = ParseNumber<std::uint64_t>("--seed", seedText);
    else if (!seedText.empty())
        options.seed = ParseNumber<std::uint32_t>("--seed", seedText);
    if (!replicatesText.empty()) {
        const auto replicates = ParseNumber<std::uint32_t>("--replicates", replicatesText);
        if (replicates == 0 || replicates > 100000000)
            throw UsageError("--replicates needs a whole number from 1 to 100000000, not '" + replicatesText + "'");
        options.replicates = static_cast<int>(replicates);
    }
    if (!jobsText.empty()) {
        const auto jobs = ParseNumber<std::uint16_t>("--jobs", jobsText);
        if (jobs == 0) throw UsageError("--jobs needs a whole number from 1 to 65535, not '0'");
        options.jobs = jobs;
    }
    if (!yearsText.empty()) {
        const auto years = ParseNumber<std::uint32_t>("--years", yearsText);
        options.years = static_cast<int>(std::min<std::uint32_t>(years, std::numeric_limits<int>::max()));
    }

    for (const auto& [text, target, name] : {std::tuple{&deltaText, &options.deltaT, "--delta-t"},
                                             std::tuple{&factorText, &options.precipFactor, "--precip-factor"}}) {
        if (text->empty()) continue;
        try {
            *target = ParseReal(*text);
        } catch (const KelmarError&) {
            throw UsageError(std::string(name) + " needs a number, not '" + *text + "'");
        }
    }

    const bool simulate = options.command == Command::Simulate;
    // An option the command knows only to refuse it (CommandDeclaration::foreign).
    const auto refuseForeign = [&] {
        for (const std::string& name : declaration.foreign)
            if (sub->get_option(name)->count() > 0)
                throw UsageError(name + " does not belong to '" + command + "'");
    };
    if (simulate) {
        if (options.site.empty()) throw UsageError("simulate needs --site");
        if (options.weather.empty() && options.climate.empty())
            throw UsageError("simulate needs --climate, or --weather for weather from file");
        refuseForeign();
        if (options.replicates) {
            if (!options.weather.empty())
                throw UsageError("--replicates needs simulated weather (--climate without --weather)");
            if (options.out.empty()) throw UsageError("--replicates needs --out, the folder of the ensemble");
            if (!options.results.empty() || !options.table.empty())
                throw UsageError("--results and --table write one run; an ensemble's tables go to --out");
        } else {
            for (const auto& [given, name] : {std::pair{options.summary, "--summary"}, {!options.out.empty(), "--out"},
                                              {options.jobs.has_value(), "--jobs"}})
                if (given) throw UsageError(std::string(name) + " belongs to an ensemble: give --replicates R");
        }
        if (!options.scenario.empty() && (options.deltaT || options.precipFactor))
            throw UsageError("--scenario and --delta-t or --precip-factor exclude each other: put the change in "
                             "the scenario file");
    } else {
        if (options.weather.empty()) throw UsageError("estimate needs --weather");
        if (options.output.empty()) throw UsageError("estimate needs --output");
        refuseForeign();
    }
    return options;
}

}  // namespace kelmar::cli
