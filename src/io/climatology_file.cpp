#include "io/climatology_file.h"

#include <cmath>
#include <string>

#include "io/code_page.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/line_reader.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "model/errors.h"

namespace kelmar {

namespace {

constexpr int VARIABLE_COUNT = 12;

// The comment of the four regression coefficients ends with an ellipsis, the
// Windows-1251 byte 0x85.
constexpr const char* REGRESSION_COMMENT = "# regression coefficient\x85";

// One variable: its key, its monthly array and its comment line, in file and
// grid-column order.
struct ClimateRow {
    const char* Key;
    MonthArray TClimatology::*Values;
    const char* Comment;
};

constexpr ClimateRow CLIMATE_ROWS[VARIABLE_COUNT] = {
    {"av_Ta", &TClimatology::av_Ta, "# Average air temperature, deg.C"},
    {"std_Ta", &TClimatology::std_Ta, "# Standard deviation of air temperature, deg.C"},
    {"av_P", &TClimatology::av_P, "# Average precipitation"},
    {"Cv_P", &TClimatology::Cv_P, "# Coefficient of variation of monthly precipitation"},
    {"av_Ts", &TClimatology::av_Ts, "# Average soil temperature at 0.2 m depth under grass, deg.C"},
    {"std_Ts", &TClimatology::std_Ts, "#Standard deviation of soil temperature at 0.2 m depth under grass, deg.C"},
    {"Baa", &TClimatology::Baa, REGRESSION_COMMENT},
    {"Bap", &TClimatology::Bap, REGRESSION_COMMENT},
    {"Sa", &TClimatology::Sa, "# residual deviation of air temperature, deg.C"},
    {"Bss", &TClimatology::Bss, REGRESSION_COMMENT},
    {"Bsa", &TClimatology::Bsa, REGRESSION_COMMENT},
    {"Ss", &TClimatology::Ss, "# residual deviation of soil temperature, deg.C"},
};

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

// sigma_P and mu_P of month m, as DeriveLognormalPrecipitation tells.
void DeriveMonth(TClimatology& climate, int m) {
    const double variance = climate.Cv_P[m] * climate.Cv_P[m] + 1;
    const double sigma = std::sqrt(std::log(variance));
    if (!std::isfinite(sigma)) throw KelmarError(OVERFLOW_MESSAGE);
    climate.sigma_P[m] = sigma;
    if (climate.av_P[m] == 0) throw KelmarError(DIVISION_BY_ZERO_MESSAGE);
    if (climate.av_P[m] < 0) throw KelmarError(INVALID_OPERATION_MESSAGE);
    const double mu = std::log(climate.av_P[m] / std::sqrt(variance));
    if (!std::isfinite(mu)) throw KelmarError(OVERFLOW_MESSAGE);
    climate.mu_P[m] = mu;
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
    for (const ClimateRow& row : CLIMATE_ROWS)
        if (key == row.Key) target = &(climate.*row.Values);
    TakeValueText(rest);  // drops the key
    for (int month = 1; month <= 12; ++month) {
        const double value = ParseReal(TakeValueText(rest));
        if (target != nullptr) (*target)[month] = value;
    }
}

void DeriveLognormalPrecipitation(TClimatology& climate) {
    for (int m = 1; m <= 12; ++m) DeriveMonth(climate, m);
}

void ReadClimatologyBytes(TModel& model, std::string_view bytes, std::string_view fileName) {
    RefuseUtf16File(bytes, fileName);
    LineReader reader(bytes);
    reader.ReadLine();
    reader.ReadLine();
    while (!reader.AtEnd()) {
        const std::string line = reader.ReadLine();
        AtFileLine(fileName, reader.LineNumber(), [&] { ParseClimatologyLine(model.Climate, line); });
        reader.ReadLine();  // the comment line
    }
    for (int m = 1; m <= 12; ++m)
        WithErrorLocation([&] { return DerivationLocation(fileName, m); }, [&] { DeriveMonth(model.Climate, m); });
}

bool ReadClimatologyFile(TModel& model, const std::string& fileName, Notifier& notifier) {
    const std::string formedName = ReplaceExtension(fileName, CLIMATOLOGY_EXTENSION);
    const std::optional<std::string> bytes =
        ReadDataFile(formedName, CLIMATOLOGY_NOT_FOUND_MESSAGE, CLIMATOLOGY_FILE_LIMIT, notifier);
    if (!bytes) return false;
    ReadClimatologyBytes(model, *bytes, formedName);
    return true;
}

void WriteClimatologyFile(const std::string& fileName, const TextGrid& climateGrid) {
    std::string bytes = std::string(HEADER_LINE) + std::string(LINE_END) + SECOND_HEADER_LINE;
    for (int i = 1; i <= VARIABLE_COUNT; ++i) {
        const ClimateRow& row = CLIMATE_ROWS[i - 1];
        bytes.append(LINE_END).append(row.Key);
        for (int m = 1; m <= 12; ++m) bytes.append(",").append(Utf8ToCp1251(climateGrid.CellOrEmpty(i, m)));
        bytes.append(LINE_END).append(row.Comment);
    }
    WriteFileAtomically(fileName, bytes);
}

}  // namespace kelmar
