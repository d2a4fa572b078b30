// The help of kelmar-cli and of each command, wrapped to the width of the
// terminal it is read in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace kelmar::cli {

// Columns a help is wrapped to where no terminal says otherwise (a pipe, a
// file, help2man, the README's generated blocks).
inline constexpr int DEFAULT_HELP_WIDTH = 80;

// The width of the help: COLUMNS when it holds a whole number (`columns`,
// null when unset), else the terminal's (`terminal`, nothing when standard
// output is no terminal), else DEFAULT_HELP_WIDTH; never below 40, where
// the descriptions would have no room.
int HelpWidth(const char* columns, std::optional<int> terminal);

// `text` broken at blanks into lines of at most `width` characters (a word
// longer than that stands alone); "\n" in the text starts a new line.
std::vector<std::string> WrapText(const std::string& text, int width);

// Lays out a command's help: its usage forms, its description, then its
// arguments and options with their descriptions wrapped beside them.
class HelpFormatter : public CLI::Formatter {
public:
    HelpFormatter(int width, std::vector<std::string> usage) : Width(width), Usage(std::move(usage)) {}
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;

private:
    int Width;
    std::vector<std::string> Usage;  // the forms after the program's name
};

// "Usage:" with `forms` (each after "kelmar-cli "), the later ones as "  or:".
std::string UsageLines(const std::vector<std::string>& forms, int width);

// Entries "  TERM  description" with the descriptions wrapped in a column
// that starts after the longest term.
std::string TermList(const std::vector<std::pair<std::string, std::string>>& entries, int width);

}  // namespace kelmar::cli
