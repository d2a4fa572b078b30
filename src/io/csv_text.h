// Comma-separated text as RFC 4180 has it: fields separated by commas, a
// field in double quotes may hold commas, line ends and doubled quotes, and a
// record ends at LF or CR LF. The batch's site lists and tidy weather tables
// are read with it and its outputs quoted with it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelmar {

class CsvReader {
public:
    // The reader refers to `bytes` (UTF-8; a leading byte-order mark is
    // skipped), which must outlive it. `fileName` names the file in messages.
    CsvReader(std::string_view bytes, std::string_view fileName);
    // A piece of a longer text that begins on line `firstLine` with a
    // record (no byte-order mark is looked for).
    CsvReader(std::string_view piece, std::string_view fileName, int firstLine);

    // Reads the next record into `fields`; false at the end of the text.
    // Lines that are entirely empty are skipped. A quote that is never
    // closed, a quote inside an unquoted field or text after a closing quote
    // raises KelmarError naming the file and the line.
    bool Next(std::vector<std::string>& fields);

    // The line on which the record Next gave last begins, from 1.
    int LineNumber() const { return RecordLine; }
    // The byte, counted from the start of the text given, at which that record begins.
    std::size_t RecordOffset() const { return RecordStart; }
    // The line after the last record read (and the empty lines after it,
    // once Next has given false).
    int NextLineNumber() const { return NextLine; }
    const std::string& FileName() const { return Name; }

private:
    std::string_view Rest;
    const char* Start = nullptr;  // the first byte of the text given
    std::size_t RecordStart = 0;
    std::string Name;
    int NextLine = 1;
    int RecordLine = 0;
};

// Appends `field` to `out`, in double quotes (its quotes doubled) when it
// holds a comma, a quote, a line end or leading or trailing spaces.
void AppendCsvField(std::string& out, std::string_view field);

}  // namespace kelmar
