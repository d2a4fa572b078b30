#include "io/climatology_file.h"

#include <string>

#include "io/code_page.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/line_reader.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "model/errors.h"
#include "model/lognormal_precipitation.h"

namespace kelmar {

namespace {

// A written climatology file has 26 lines of at most 100 bytes (twelve values
// of a few digits), about 2.5 KB; the limit leaves room for long typed values
// many times over.
constexpr DataFileLimit CLIMATOLOGY_FILE_LIMIT = {"climatology file", 1 * MIB};

constexpr const char* HEADER_LINE = "VAR VALUE";
constexpr const char* SECOND_HEADER_LINE = "#";

void RemoveLeadingSpaces(std::string_view& text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
}

// The text before the next comma (empty when none is left), which is then
// removed together with the comma and the spaces after it.
std::string_view TakeValueText(std::string_view& rest) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) return {};
    const std::string_view value = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    RemoveLeadingSpaces(rest);
    return value;
}

// The derivation follows the whole read, so its failure names the month, not
// a line (av_P may even be missing from the file).
std::string DerivationLocation(std::string_view fileName, int month) {
    const std::string what = "av_P and Cv_P of month " + std::to_string(month);
    return fileName.empty() ? "in " + what : "in \"" + std::string(fileName) + "\", " + what;
}

}  // namespace

void ParseClimatologyLine(TClimatology& climate, std::string_view line) {
    const std::string withComma = std::string(line) + ",";  // the last value ends at a comma too
    std::string_view rest = withComma;
    const std::string_view key = rest.substr(0, rest.find(','));
    MonthArray* target = nullptr;
    for (const ClimateField& field : CLIMATE_FIELDS)
        if (key == field.Key) target = &(climate.*field.Values);
    TakeValueText(rest);  // drops the key
    for (int month = 1; month <= 12; ++month) {
        const double value = ParseReal(TakeValueText(rest));
        if (target != nullptr) (*target)[month] = value;
    }
}

void ReadClimatologyBytes(TModel& model, std::string_view bytes, std::string_view fileName) {
    ForEachDataLine(bytes, fileName, [&](const std::string& line) { ParseClimatologyLine(model.Climate, line); });
    for (int m = 1; m <= 12; ++m)
        WithErrorLocation([&] { return DerivationLocation(fileName, m); }, [&] { DeriveLognormalMonth(model.Climate, m); });
}

bool ReadClimatologyFile(TModel& model, const std::string& fileName, Notifier& notifier) {
    const std::string formedName = ReplaceExtension(fileName, CLIMATOLOGY_EXTENSION);
    const std::optional<std::string> bytes =
        ReadDataFile(formedName, CLIMATOLOGY_NOT_FOUND_MESSAGE, CLIMATOLOGY_FILE_LIMIT, notifier);
    if (!bytes) return false;
    ReadClimatologyBytes(model, *bytes, formedName);
    return true;
}

std::string ClimatologyFileBytes(const ClimatologyTexts& values) {
    std::string bytes = std::string(HEADER_LINE) + std::string(LINE_END) + SECOND_HEADER_LINE;
    for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v) {
        const ClimateField& field = CLIMATE_FIELDS[v];
        bytes.append(LINE_END).append(field.Key);
        for (const std::string& text : values[v]) bytes.append(",").append(Utf8ToCp1251(text));
        bytes.append(LINE_END).append(field.Comment);
    }
    return bytes;
}

void WriteClimatologyFile(const std::string& fileName, const ClimatologyTexts& values) {
    WriteFileAtomically(fileName, ClimatologyFileBytes(values));
}

}  // namespace kelmar
