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

    // Reads the next record into `fields`; false at the end of the text.
    // Lines that are entirely empty are skipped. A quote that is never
    // closed, a quote inside an unquoted field or text after a closing quote
    // raises KelmarError naming the file and the line.
    bool Next(std::vector<std::string>& fields);

    // The line on which the record Next gave last begins, from 1.
    int LineNumber() const { return RecordLine; }
    const std::string& FileName() const { return Name; }

private:
    std::string_view Rest;
    std::string Name;
    int NextLine = 1;
    int RecordLine = 0;
};

// Appends `field` to `out`, in double quotes (its quotes doubled) when it
// holds a comma, a quote, a line end or leading or trailing spaces.
void AppendCsvField(std::string& out, std::string_view field);

}  // namespace kelmar
