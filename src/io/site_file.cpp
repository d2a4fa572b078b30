#include "io/site_file.h"

#include <cstdint>

#include "io/code_page.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/line_reader.h"
#include "io/number_text.h"
#include "io/read_errors.h"

namespace kelmar {

namespace {

// A written site file has 32 lines of at most 100 bytes, about 3 KB; the
// limit leaves room for long typed values and stray text many times over.
constexpr DataFileLimit SITE_FILE_LIMIT = {"site file", 1 * MIB};

constexpr const char* HEADER_LINE = "VAR VALUE";
constexpr const char* SECOND_HEADER_LINE = "#";

std::string_view TrimSpacesAndTabs(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

void ApplySiteDefaults(TSiteParams& site) {
    site.D_ff = 0.05;
    site.W_WP_ff = 2.5;
    site.W_FC_ff = 10;
    site.W_Sat_ff = 97;
    site.Fortype = ftSpruce;
}

void ParseSiteLine(TSiteParams& site, std::string_view line) {
    const std::size_t comma = line.find(',');
    const std::string_view key = comma == std::string_view::npos ? std::string_view() : line.substr(0, comma);
    const std::string_view value =
        TrimSpacesAndTabs(comma == std::string_view::npos ? line : line.substr(comma + 1));
    const double number = ParseReal(value);
    for (const SiteField& field : SITE_FIELDS) {
        if (key != field.Key) continue;
        if (field.Kind == FieldKind::Real)
            site.*field.Real = number;
        else  // the flag keeps the low eight bits of the integer
            site.*field.Flag = static_cast<std::uint8_t>(ParseInteger(value, IntegerForm::Decimal));
        return;
    }
}

void ReadSiteBytes(TModel& model, std::string_view bytes, std::string_view fileName) {
    ForEachDataLine(bytes, fileName, [&](const std::string& line) { ParseSiteLine(model.Site, line); });
}

bool ReadSiteFile(TModel& model, const std::string& fileName, Notifier& notifier) {
    ApplySiteDefaults(model.Site);
    const std::string formedName = SiteFileName(fileName);
    const std::optional<std::string> bytes = ReadDataFile(formedName, SITE_NOT_FOUND_MESSAGE, SITE_FILE_LIMIT, notifier);
    if (!bytes) return false;
    ReadSiteBytes(model, *bytes, formedName);
    return true;
}

void WriteSiteFile(const std::string& fileName, const SiteTexts& values) {
    std::string bytes = std::string(HEADER_LINE) + std::string(LINE_END) + SECOND_HEADER_LINE;
    for (int r = 0; r < SITE_FIELD_COUNT; ++r) {
        const SiteField& field = SITE_FIELDS[r];
        bytes.append(LINE_END).append(field.Key).append(",").append(Utf8ToCp1251(values[r]));
        bytes.append(LINE_END).append(field.Comment);
    }
    WriteFileAtomically(fileName, bytes);
}

}  // namespace kelmar
