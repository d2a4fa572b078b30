#include "cli/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "app/random_streams.h"
#include "io/number_text.h"
#include "model/errors.h"

namespace kelmar::cli {

// An argument as a message shows it: UTF-8 as given, its control bytes as
// \xHH, so that a message never carries a terminal's escape sequence or a
// line break the person did not see typing it.
std::string ShownArgument(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
            continue;
        }
        constexpr const char* HEX = "0123456789ABCDEF";
        shown += "\\x";
        shown += HEX[byte >> 4];
        shown += HEX[byte & 0xF];
    }
    return shown;
}

namespace {

// The largest --replicates: far beyond any ensemble that fits a disk, low
// enough that replicates times 500 years stays within 64 bits of draws.
constexpr long long MOST_REPLICATES = 100000000;
constexpr long long MOST_JOBS = std::numeric_limits<std::uint16_t>::max();

// The whole number `text` from `min` to `max`; raises UsageError naming
// `phrase` otherwise.
std::uint64_t ReadWhole(const std::string& phrase, const std::string& text, std::uint64_t min, std::uint64_t max) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < min || value > max)
        throw UsageError(phrase + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not '" + ShownArgument(text) + "'");
    return value;
}

// The largest magnitude of a double, as said in messages.
constexpr const char* LARGEST_NUMBER_TEXT = "about 1.8e308";

// Whether `text` is written as a number but is too large for a double
// (1e309): the number it names exists, the machine cannot hold it.
bool IsBeyondDoubles(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(' '), end = text.find_last_not_of(' ');
    if (begin == std::string::npos) return false;
    const char* first = text.data() + begin + (text[begin] == '+' ? 1 : 0);
    const char* last = text.data() + end + 1;
    double value = 0;
    const auto result = std::from_chars(first, last, value);
    return result.ec == std::errc::result_out_of_range && result.ptr == last;
}

// A validator that hands each value to `read`, which raises UsageError
// with the program's message for a value it refuses.
CLI::Validator Reading(std::function<void(const std::string&)> read) {
    return CLI::Validator(
        [read = std::move(read)](std::string& text) {
            read(text);
            return std::string();
        },
        "");
}

}  // namespace

CommandLine::CommandLine(const std::string& name, CliOptions& target) : app("", name), options(target), command(name) {
    app.set_help_flag();  // --help is answered before parsing (Parse)
    app.allow_extras();   // named below as unknown or unexpected
    app.add_flag("--help", HelpFlag, "show this text");
}

CLI::Option* CommandLine::Value(const std::string& name, std::string& target, const std::string& description,
                                const std::string& kind) {
    CLI::Option* option = app.add_option(name, target, description)
                              ->expected(0, 1)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                              ->type_name(kind);
    Values.push_back(option);
    return option;
}

CLI::Option* CommandLine::Flag(const std::string& name, bool& target, const std::string& description) {
    return app.add_flag(name, target, description);
}

CLI::Option* CommandLine::Whole(const std::string& name, std::optional<int>& target, long long min, long long max,
                                const std::string& description, const std::string& phrase) {
    CLI::Option* option = Value(name, Texts.emplace_back(), description, "N");
    option->check(Reading([&target, name, min, max, phrase](const std::string& value) {
        const std::uint64_t whole = ReadWhole(phrase.empty() ? name : phrase, value, static_cast<std::uint64_t>(min),
                                              static_cast<std::uint64_t>(max));
        target = static_cast<int>(std::min<std::uint64_t>(whole, std::numeric_limits<int>::max()));
    }));
    return option;
}

CLI::Option* CommandLine::Real(const std::string& name, std::optional<double>& target, const std::string& description,
                               const std::string& kind) {
    return Value(name, Texts.emplace_back(), description, kind)->check(Reading([&target, name](const std::string& text) {
        try {
            target = ParseReal(text);
        } catch (const KelmarError&) {
            if (IsBeyondDoubles(text))
                throw UsageError(name + " " + ShownArgument(text) + " is beyond the largest number a run can take (" +
                                 LARGEST_NUMBER_TEXT + "); give a number within it");
            throw UsageError(name + " needs a number, not '" + ShownArgument(text) + "'");
        }
    }));
}

void CommandLine::Seed(const std::string& description, bool widensWithRng) {
    Value("--seed", SeedText, description, "N");
    // The seed's width depends on --rng, so it is read once the line is whole.
    Check([this, widensWithRng] {
        if (SeedText.empty()) return;
        const RandomKind kind = widensWithRng ? *streams::KindNamed(options.rng) : RandomKind::Lcg32;
        // The seed is the generator's whole state: 32 bits of lcg32, 64 of pcg64.
        const std::uint64_t limit = kind == RandomKind::Pcg64 ? std::numeric_limits<std::uint64_t>::max()
                                                              : std::numeric_limits<std::uint32_t>::max();
        const std::uint64_t seed = ReadWhole("--seed", SeedText, 0, limit);
        if (kind == RandomKind::Pcg64)
            options.wideSeed = seed;
        else
            options.seed = static_cast<std::uint32_t>(seed);
    });
}

void CommandLine::Jobs(const std::string& description) { Whole("--jobs", options.jobs, 1, MOST_JOBS, description); }

void CommandLine::Replicates(const std::string& description) {
    Whole("--replicates", options.replicates, 1, MOST_REPLICATES, description, "");
    app.get_option("--replicates")->type_name("R");
}

void CommandLine::Rng(const std::string& description) {
    const std::vector<std::string> names = {streams::ShortName(RandomKind::Lcg32), streams::ShortName(RandomKind::Pcg64)};
    choices["--rng"] = names;
    Value("--rng", options.rng, description, "NAME")->check(Reading([names](const std::string& name) {
        if (!streams::KindNamed(name))
            throw UsageError("--rng needs " + names[0] + " or " + names[1] + ", not '" + ShownArgument(name) + "'");
    }));
}

void CommandLine::Foreign(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        app.add_option(name)->expected(0, 1)->group("");
        ForeignNames.push_back(name);
    }
}

bool CommandLine::Given(const std::string& name) const { return app.get_option(name)->count() > 0; }

void CommandLine::Parse(const std::vector<std::string>& args) {
    // The arguments, last first, as CLI11 takes them.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    // What CLI11 could not place: an option no command knows is unknown.
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        const std::string& first = extras.front();
        if (first.rfind('-', 0) == 0) throw UsageError("unknown option '" + ShownArgument(first.substr(0, first.find('='))) + "'");
        throw UsageError("unexpected argument '" + ShownArgument(first) + "'");
    }
    for (const CLI::Option* option : Values) {
        if (option->count() == 0) continue;
        const std::vector<std::string>& results = option->results();
        if (results.empty() || results.back().empty()) throw UsageError(option->get_name() + " needs a value");
    }
    for (const std::string& name : ForeignNames)
        if (Given(name)) throw UsageError(name + " does not belong to '" + command + "'");
    for (const auto& check : Checks) check();
}

}  // namespace kelmar::cli
