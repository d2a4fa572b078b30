#include "io/csv_text.h"

#include "io/read_errors.h"
#include "model/errors.h"

namespace kelmar {

namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

[[noreturn]] void Refuse(const std::string& what, std::string_view fileName, int line) {
    throw KelmarError(WithLocationLine(what, FileLineLocation(fileName, line)));
}

}  // namespace

CsvReader::CsvReader(std::string_view bytes, std::string_view fileName)
    : Rest(bytes), Start(bytes.data()), Name(fileName) {
    if (Rest.starts_with(UTF8_BOM)) Rest.remove_prefix(UTF8_BOM.size());
}

CsvReader::CsvReader(std::string_view piece, std::string_view fileName, int firstLine)
    : Rest(piece), Start(piece.data()), Name(fileName), NextLine(firstLine) {}

bool CsvReader::Next(std::vector<std::string>& fields) {
    // Skip empty lines.
    while (!Rest.empty() && (Rest.front() == '\n' || Rest.starts_with("\r\n"))) {
        Rest.remove_prefix(Rest.front() == '\n' ? 1 : 2);
        ++NextLine;
    }
    fields.clear();
    if (Rest.empty()) return false;
    RecordLine = NextLine;
    RecordStart = static_cast<std::size_t>(Rest.data() - Start);
    std::string field;
    std::size_t i = 0;
    const std::size_t n = Rest.size();
    while (true) {
        field.clear();
        if (i < n && Rest[i] == '"') {
            const int openedOn = NextLine;
            ++i;
            while (true) {
                if (i >= n) Refuse("A quoted field is not closed by a quote.", Name, openedOn);
                const char c = Rest[i++];
                if (c == '"') {
                    if (i < n && Rest[i] == '"') {
                        field.push_back('"');
                        ++i;
                        continue;
                    }
                    break;
                }
                if (c == '\n') ++NextLine;
                field.push_back(c);
            }
            if (i < n && Rest[i] != ',' && Rest[i] != '\n' && !Rest.substr(i).starts_with("\r\n"))
                Refuse("Text follows the closing quote of a field; a quote inside a quoted field is written twice.",
                       Name, NextLine);
        } else {
            while (i < n && Rest[i] != ',' && Rest[i] != '\n' && !Rest.substr(i).starts_with("\r\n")) {
                if (Rest[i] == '"')
                    Refuse("A quote stands inside a field that does not begin with one; put the field in quotes "
                           "and write the quote twice.",
                           Name, NextLine);
                field.push_back(Rest[i++]);
            }
        }
        fields.push_back(field);
        if (i < n && Rest[i] == ',') {
            ++i;
            continue;
        }
        // End of the record: a line end or the end of the text.
        if (i < n) {
            i += Rest[i] == '\n' ? 1 : 2;
            ++NextLine;
        }
        Rest.remove_prefix(i);
        return true;
    }
}

void AppendCsvField(std::string& out, std::string_view field) {
    const bool quote = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quote) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (const char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

}  // namespace kelmar
