#include "cli/help_format.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace kelmar::cli {

namespace {

constexpr int NARROWEST = 40;    // columns
constexpr int WIDEST_TERM = 26;  // columns of "  --option VALUE  "; longer terms stand on a line of their own

// Characters of UTF-8 text: bytes that do not continue a character.
std::size_t Characters(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

int HelpWidth(const char* columns, std::optional<int> terminal) {
    int width = 0;
    if (columns) {
        const char* end = columns + std::char_traits<char>::length(columns);
        const auto result = std::from_chars(columns, end, width);
        if (result.ec != std::errc() || result.ptr != end || *columns == '\0') width = 0;
    }
    if (width <= 0) width = terminal.value_or(DEFAULT_HELP_WIDTH);
    if (width <= 0) width = DEFAULT_HELP_WIDTH;
    return std::max(width, NARROWEST);
}

std::vector<std::string> WrapText(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::istringstream paragraphs(text);
    std::string paragraph;
    while (std::getline(paragraphs, paragraph)) {
        std::istringstream words(paragraph);
        std::string word, line;
        while (words >> word) {
            if (!line.empty() && Characters(line) + 1 + Characters(word) > static_cast<std::size_t>(width)) {
                lines.push_back(line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        lines.push_back(line);
    }
    return lines;
}

std::string UsageLines(const std::vector<std::string>& forms, int width) {
    const std::string program = "kelmar-cli ";
    const std::size_t indent = 7 + program.size();  // "Usage: kelmar-cli "
    std::string text;
    for (std::size_t i = 0; i < forms.size(); ++i) {
        // Words, a bracketed group ("[--seed N]") counting as one.
        std::vector<std::string> words(1);
        int depth = 0;
        for (const char c : forms[i]) {
            if (c == ' ' && depth == 0) {
                words.emplace_back();
                continue;
            }
            depth += (c == '[') - (c == ']');
            words.back() += c;
        }
        std::string line = (i == 0 ? "Usage: " : "  or:  ") + program;
        std::size_t used = indent;
        bool first = true;
        // A group too long for a line of its own is broken at its blanks.
        std::vector<std::string> pieces;
        for (const std::string& word : words) {
            if (indent + Characters(word) <= static_cast<std::size_t>(width)) {
                pieces.push_back(word);
                continue;
            }
            std::istringstream parts(word);
            for (std::string part; parts >> part;) pieces.push_back(part);
        }
        for (const std::string& word : pieces) {
            if (!first && used + 1 + Characters(word) > static_cast<std::size_t>(width)) {
                text += line + '\n';
                line = std::string(indent, ' ');
                used = indent;
                first = true;
            }
            line += (first ? "" : " ") + word;
            used += (first ? 0 : 1) + Characters(word);
            first = false;
        }
        text += line + '\n';
    }
    return text;
}

std::string TermList(const std::vector<std::pair<std::string, std::string>>& entries, int width) {
    std::size_t longest = 0;
    for (const auto& [term, description] : entries) longest = std::max(longest, Characters(term));
    std::size_t column = std::min<std::size_t>(2 + longest + 2, WIDEST_TERM);
    // Too narrow a column for the descriptions: each goes below its term.
    const bool below = width - static_cast<int>(column) < NARROWEST - 10;
    if (below) column = 6;
    const int room = width - static_cast<int>(column);
    std::string text;
    for (const auto& [term, description] : entries) {
        std::string line = "  " + term;
        std::vector<std::string> lines = WrapText(description, room);
        if (lines.empty()) lines.emplace_back();
        if (below || Characters(line) + 2 > column) {
            text += line + '\n';  // too long a term: its description starts below it
            line.clear();
        }
        for (const std::string& part : lines) {
            if (!part.empty()) line += std::string(column - Characters(line), ' ') + part;
            text += line + '\n';
            line.clear();
        }
    }
    return text;
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const {
    std::string text = UsageLines(Usage, Width);
    if (!app->get_description().empty()) {
        text += '\n';
        for (const std::string& line : WrapText(app->get_description(), Width)) text += line + '\n';
    }
    std::vector<std::pair<std::string, std::string>> positionals, options;
    for (const CLI::Option* option : app->get_options()) {
        if (option->get_group().empty()) continue;  // hidden
        const std::string kind = option->get_type_name();
        if (!option->nonpositional())
            positionals.emplace_back(option->get_name(), option->get_description());
        else
            options.emplace_back(option->get_name() + (option->get_expected_max() == 0 || kind.empty() ? "" : " " + kind),
                                 option->get_description());
    }
    if (!positionals.empty()) text += "\nArguments:\n" + TermList(positionals, Width);
    if (!options.empty()) text += "\nOptions:\n" + TermList(options, Width);
    if (!app->get_footer().empty()) {
        text += '\n';
        for (const std::string& line : WrapText(app->get_footer(), Width)) text += line + '\n';
    }
    return text;
}

}  // namespace kelmar::cli
