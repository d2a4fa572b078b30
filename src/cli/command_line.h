// One command's line as CLI11 reads it, and the options several commands
// share, each declared and checked here once.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

namespace kelmar::cli {

// An argument as a message shows it: UTF-8 as given, its control bytes as
// \xHH (command_line.cpp).
std::string ShownArgument(const std::string& text);

// The command is an application of its own, given the arguments after its
// name: under a parent application, CLI11 would take a value that equals a
// command's name (`check --out check`) for that command and leave the
// option without its value.
class CommandLine {
public:
    // `options` receives the values when Parse has read a line.
    CommandLine(const std::string& command, CliOptions& options);
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    CLI::App app;
    CliOptions& options;
    const std::string command;
    // The names an option takes (its choices), for the completion.
    std::map<std::string, std::vector<std::string>> choices;

    // An option with a value of kind `kind` (FILE, DIR, N, ...); the last
    // given counts. Every value is declared to take zero or one word, so
    // that a missing value gets the program's own message.
    CLI::Option* Value(const std::string& name, std::string& target, const std::string& description,
                       const std::string& kind = "FILE");
    CLI::Option* Flag(const std::string& name, bool& target, const std::string& description);
    // A whole number from `min` to `max`, read into `target`; `phrase`
    // names it in the message ("--years of check").
    CLI::Option* Whole(const std::string& name, std::optional<int>& target, long long min, long long max,
                       const std::string& description, const std::string& phrase = "");

    // A number as the data files write one, read into `target`.
    CLI::Option* Real(const std::string& name, std::optional<double>& target, const std::string& description,
                      const std::string& kind);

    // The options shared by several commands.
    void Seed(const std::string& description, bool widensWithRng);  // --seed: 32 bits, 64 with --rng pcg64
    void Jobs(const std::string& description);                      // --jobs 1..65535
    void Rng(const std::string& description);                       // --rng lcg32|pcg64
    void Replicates(const std::string& description);                // --replicates 1..100000000

    // Options of another command, refused as not belonging to this one
    // rather than as unknown; left out of the help and the completion.
    void Foreign(const std::vector<std::string>& names);
    // A check of the whole line, run in the order given once it is read.
    void Check(std::function<void()> check) { Checks.push_back(std::move(check)); }
    // Whether the option `name` was given.
    bool Given(const std::string& name) const;

    // Reads `args`, the arguments after the command's name; raises
    // UsageError for a line the command cannot take.
    void Parse(const std::vector<std::string>& args);

private:
    bool HelpFlag = false;  // answered before parsing; declared for the help and the completion
    std::string SeedText;
    std::deque<std::string> Texts;  // the texts of whole numbers, read by their validators
    std::vector<CLI::Option*> Values;
    std::vector<std::string> ForeignNames;
    std::vector<std::function<void()>> Checks;
};

}  // namespace kelmar::cli
