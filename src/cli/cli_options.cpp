#include "cli/cli_options.h"

#include <algorithm>

#include "cli/command_builders.h"
#include "cli/command_line.h"
#include "cli/help_format.h"

namespace kelmar::cli {

const char* const VERSION = KELMAR_VERSION;
const char* const COMPLETION_WORDS_OPTION = "--completion-words";

namespace {

const CommandEntry* CommandNamed(const std::string& name) {
    for (const CommandEntry& entry : Commands())
        if (name == entry.name) return &entry;
    return nullptr;
}

// Whether `args` ask for help. Answered before the values are checked, so
// that a line with a fault still gets its help.
bool AsksForHelp(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--help") != args.end();
}

}  // namespace

std::string CommandName(Command command) {
    for (const CommandEntry& entry : Commands())
        if (entry.command == command) return entry.name;
    return "";
}

std::string UsageErrorLine(const UsageError& error) {
    const std::string help = error.command().empty() ? "kelmar-cli --help" : "kelmar-cli " + error.command() + " --help";
    return "kelmar-cli: " + std::string(error.what()) + "; see '" + help + "'";
}

std::string GlobalHelp(int width) {
    std::string text = UsageLines({"COMMAND [OPTIONS]", "COMMAND --help", "--help | --version"}, width) + '\n';
    for (const std::string& line :
         WrapText("Simulates, month by month, the temperature and moisture of forest soils as the window does, for "
                  "scripts and batches.",
                  width))
        text += line + '\n';
    std::vector<std::pair<std::string, std::string>> commands;
    for (const CommandEntry& entry : Commands()) commands.emplace_back(entry.name, entry.purpose);
    text += "\nCommands:\n" + TermList(commands, width);
    text += "\nOptions:\n" +
            TermList({{"--help", "show this text"}, {"--version", "show the version of kelmar-cli"}}, width) + '\n';
    for (const std::string& line :
         WrapText("'kelmar-cli COMMAND --help' shows the options of a command. Errors go to standard error with the "
                  "text the window would show. Exit status: 0 on success, 1 when a file or a run fails, 2 for a "
                  "command line that cannot be understood.",
                  width))
        text += line + '\n';
    return text;
}

std::string CompletionWords() {
    std::string words = "kelmar-cli";
    for (const CommandEntry& entry : Commands()) words += ' ' + std::string(entry.name);
    words += " --help --version\n";
    for (const CommandEntry& entry : Commands()) {
        CliOptions options;
        CommandLine line(entry.name, options);
        entry.build(line);
        words += entry.name;
        for (const CLI::Option* option : line.app.get_options()) {
            if (option->get_group().empty()) continue;  // refused here, not offered
            const std::string name = option->get_name();
            std::string kind = option->get_type_name();
            if (const auto choices = line.choices.find(name); choices != line.choices.end()) {
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

CliOptions ParseCommandLine(const std::vector<std::string>& args, int helpWidth) {
    CliOptions options;
    if (args.empty()) throw UsageError("no command given");
    const std::string& name = args.front();
    if (name == "--help" || name == "-h" || name == "help") {
        options.helpText = GlobalHelp(helpWidth);
        return options;
    }
    if (name == "--version") {
        options.command = Command::Version;
        return options;
    }
    if (name == COMPLETION_WORDS_OPTION) {
        options.helpText = CompletionWords();
        return options;
    }
    const CommandEntry* entry = CommandNamed(name);
    if (!entry) throw UsageError("unknown command '" + ShownArgument(name) + "'");

    CommandLine line(name, options);
    entry->build(line);
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (AsksForHelp(rest)) {
        line.app.formatter(std::make_shared<HelpFormatter>(helpWidth, entry->usage));
        options.helpText = line.app.help("kelmar-cli " + name);
        return options;
    }
    try {
        line.Parse(rest);
    } catch (const UsageError& e) {
        throw UsageError(e.what(), name);
    }
    options.command = entry->command;
    return options;
}

}  // namespace kelmar::cli
