#include "cli/cli_options.h"

#include <charconv>
#include <limits>

namespace kelmar::cli {

const char* const USAGE =
    "Usage:\n"
    "  kelmar-cli simulate --site SITE.sit --climate CLIM.cld [--seed N] [--years N]\n"
    "                      [--results OUT.csv] [--table FULL.csv]\n"
    "  kelmar-cli simulate --site SITE.sit --weather WEATHER.wed [--climate CLIM.cld]\n"
    "                      [--seed N] [--years N] [--results OUT.csv] [--table FULL.csv]\n"
    "  kelmar-cli estimate --weather WEATHER.wed --output CLIM.cld\n"
    "  kelmar-cli --help\n"
    "\n"
    "simulate   Reads the site and either simulates 500 years of weather from the\n"
    "           climatology (without --weather) or runs the observed weather record\n"
    "           (with --weather), exactly as the window's \"Open files\" does.\n"
    "estimate   Estimates a climatology from an observed weather record and writes\n"
    "           it as a climatology file, exactly as \"Generate file\" then \"Save file\".\n"
    "\n"
    "Options:\n"
    "  --site FILE      site parameter file; \".sit\" is appended to a name without a full stop\n"
    "  --climate FILE   climatology file (its extension becomes \".cld\"). Required for\n"
    "                   simulated weather; with --weather it is read only when the record\n"
    "                   has missing soil temperatures, which the generator then fills\n"
    "  --weather FILE   observed monthly weather file (its extension becomes \".wed\")\n"
    "  --seed N         state of the random source (0..4294967295) before anything else,\n"
    "                   so that a run can be reproduced; without it the state comes from\n"
    "                   the clock and every run differs\n"
    "  --years N        years written to the results file (default: all years of the run)\n"
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

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
    CliOptions options;
    if (args.empty()) throw UsageError("no command given");
    std::size_t next = 0;
    const std::string& command = args[next++];
    if (command == "--help" || command == "-h" || command == "help") return options;
    if (command == "simulate")
        options.command = Command::Simulate;
    else if (command == "estimate")
        options.command = Command::Estimate;
    else
        throw UsageError("unknown command '" + command + "'");

    while (next < args.size()) {
        std::string option = args[next++];
        std::string value;
        bool hasValue = false;
        if (const auto equals = option.find('='); option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        if (option == "--help") {
            options.command = Command::Help;
            return options;
        }
        if (!hasValue) {
            if (next >= args.size()) throw UsageError(option + " needs a value");
            value = args[next++];
        }
        if (option == "--site") options.site = value;
        else if (option == "--climate") options.climate = value;
        else if (option == "--weather") options.weather = value;
        else if (option == "--results") options.results = value;
        else if (option == "--table") options.table = value;
        else if (option == "--output") options.output = value;
        else if (option == "--seed") options.seed = ParseNumber<std::uint32_t>(option, value);
        else if (option == "--years") {
            const auto years = ParseNumber<std::uint32_t>(option, value);
            options.years = static_cast<int>(std::min<std::uint32_t>(years, std::numeric_limits<int>::max()));
        } else {
            throw UsageError("unknown option '" + option + "'");
        }
        if (value.empty()) throw UsageError(option + " needs a value");
    }

    const bool simulate = options.command == Command::Simulate;
    const auto forbid = [&](bool given, const char* option) {
        if (given) throw UsageError(std::string(option) + " does not belong to '" + command + "'");
    };
    if (simulate) {
        if (options.site.empty()) throw UsageError("simulate needs --site");
        if (options.weather.empty() && options.climate.empty())
            throw UsageError("simulate needs --climate, or --weather for weather from file");
        forbid(!options.output.empty(), "--output");
    } else {
        if (options.weather.empty()) throw UsageError("estimate needs --weather");
        if (options.output.empty()) throw UsageError("estimate needs --output");
        for (const auto& [given, name] :
             {std::pair{!options.site.empty(), "--site"}, {!options.climate.empty(), "--climate"},
              {!options.results.empty(), "--results"}, {!options.table.empty(), "--table"},
              {options.seed.has_value(), "--seed"}, {options.years.has_value(), "--years"}})
            forbid(given, name);
    }
    return options;
}

}  // namespace kelmar::cli
