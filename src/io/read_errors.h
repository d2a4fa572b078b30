// What a file reader tells the user when it stops: the offending file text
// shown so that every byte is visible, the place it came from, and the
// refusal of a file in an encoding the readers do not read.
//
// A message keeps one layout: its first line says what is wrong (for a
// conversion, the system's own text), the second line says where, as
//     in "soil.sit", line 7
// and any further lines give advice. The window shows the message in a box,
// kelmar-cli prints it on stderr; both show every line.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "io/line_reader.h"

#include "model/errors.h"

namespace kelmar {

// File text (Windows-1251) as UTF-8 for a message. Control bytes other than
// the tab are shown as \xHH (a NUL as \x00, which unlike \0 cannot run into
// a digit after it), so that a message is never cut at a NUL and shows what
// the file holds.
std::string ShownFileText(std::string_view bytes);

// Text with two or more NUL bytes, each next to an ASCII character, as a
// piece of a UTF-16 file read byte by byte gives.
bool LooksLikeUtf16Text(std::string_view text);

// The advice added to a conversion error whose text looks like UTF-16.
inline constexpr const char* UTF16_TEXT_ADVICE =
    "The text has NUL bytes between its characters, as UTF-16 text has: save the file as Windows-1251 text.";

// Raises KelmarError when `bytes` look like UTF-16 text (a byte-order mark,
// or ASCII characters each followed or preceded by a NUL byte). The data
// files are single-byte Windows-1251 text; read byte by byte, a UTF-16 file
// would only give a conversion error on the text of its first data line.
void RefuseUtf16File(std::string_view bytes, std::string_view fileName);

// The place of an error in a data file: `in "soil.sit", line 7`; without a
// file name `in line 7`.
std::string FileLineLocation(std::string_view fileName, int lineNumber);

// `message` with `location` inserted as its second line.
std::string WithLocationLine(const std::string& message, const std::string& location);

// Gives what `action` gives; a KelmarError it raises is raised again with
// the text of `describeLocation()` as the second line of its message.
template <typename Describe, typename Action>
decltype(auto) WithErrorLocation(Describe&& describeLocation, Action&& action) {
    try {
        return std::forward<Action>(action)();
    } catch (const KelmarError& e) {
        throw KelmarError(WithLocationLine(e.what(), describeLocation()));
    }
}

// WithErrorLocation for an action on line `lineNumber` of the file `fileName`.
template <typename Action>
decltype(auto) AtFileLine(std::string_view fileName, int lineNumber, Action&& action) {
    return WithErrorLocation([&] { return FileLineLocation(fileName, lineNumber); }, std::forward<Action>(action));
}

// Reads a data file of "key,values" lines, each followed by its comment line,
// after two header lines (the site and the climatology file): gives each
// data line to `parse`, and an error `parse` raises names the file and the
// line. A file that looks like UTF-16 is refused first.
template <typename Parse>
void ForEachDataLine(std::string_view bytes, std::string_view fileName, Parse&& parse) {
    RefuseUtf16File(bytes, fileName);
    LineReader reader(bytes);
    reader.ReadLine();
    reader.ReadLine();
    while (!reader.AtEnd()) {
        const std::string line = reader.ReadLine();
        AtFileLine(fileName, reader.LineNumber(), [&] { parse(line); });
        reader.ReadLine();  // the comment line
    }
}

}  // namespace kelmar
