#include "io/weather_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "io/code_page.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/line_reader.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "io/weather_table.h"
#include "model/errors.h"

namespace kelmar {

namespace {

enum class Column { Other, Year, Month, Tair, Prec, Tsoil };

struct NamedColumn {
    const char* Name;
    Column Kind;
};

constexpr NamedColumn KNOWN_COLUMNS[] = {
    {"Year", Column::Year}, {"Month", Column::Month}, {"Tair", Column::Tair},
    {"Prec", Column::Prec}, {"Tsoil", Column::Tsoil},
};

constexpr const char* TITLE_LINE = "#";
constexpr const char* COLUMN_LINE = "Year,Month,Tair,Prec,Tsoil";

// Splits `text`, which ends with a comma, into at most `limit` fields: the
// first is the text before the first comma; each next one is the text before
// the next comma once the spaces after the previous comma are removed.
std::vector<std::string_view> SplitFields(std::string_view text, std::size_t limit) {
    std::vector<std::string_view> fields;
    do {
        const std::size_t comma = text.find(',');
        fields.push_back(comma == std::string_view::npos ? std::string_view() : text.substr(0, comma));
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    } while (!text.empty() && fields.size() < limit);
    return fields;
}

[[noreturn]] void RefuseColumnLine(std::string_view line, const std::string& reason) {
    throw KelmarError("The column line \"" + ShownFileText(line) + "\" of the weather file " + reason + ".");
}

std::vector<Column> ReadColumns(std::string_view line) {
    const std::string withComma = std::string(line) + ",";
    const std::vector<std::string_view> names = SplitFields(withComma, MAX_WEATHER_COLUMNS + 1);
    if (names.size() > MAX_WEATHER_COLUMNS) RefuseColumnLine(line, "names more than five columns");
    std::vector<Column> columns;
    for (std::string_view name : names) {
        const auto known = std::find_if(std::begin(KNOWN_COLUMNS), std::end(KNOWN_COLUMNS),
                                        [&](const NamedColumn& c) { return name == c.Name; });
        columns.push_back(known == std::end(KNOWN_COLUMNS) ? Column::Other : known->Kind);
    }
    for (const NamedColumn& required : KNOWN_COLUMNS)
        if (required.Kind != Column::Tsoil && std::find(columns.begin(), columns.end(), required.Kind) == columns.end())
            RefuseColumnLine(line, std::string("has no column \"") + required.Name + "\"");
    return columns;
}

struct MonthLine {
    std::int32_t Year = 0;
    std::int32_t Month = 0;
    double Tair = 0;                // degC
    double Prec = 0;                // mm
    double Tsoil = MISSING_VALUE;   // degC; missing without a Tsoil column or with an empty field
};

MonthLine ParseMonthLine(std::string_view line, const std::vector<Column>& columns) {
    const std::string withSeparator = std::string(line) + ", ";
    const std::vector<std::string_view> fields = SplitFields(withSeparator, columns.size());
    MonthLine month;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const std::string_view field = k < fields.size() ? fields[k] : std::string_view();
        switch (columns[k]) {
            case Column::Year: month.Year = ParseInteger(field, IntegerForm::DecimalOrHex); break;
            case Column::Month: month.Month = ParseInteger(field, IntegerForm::DecimalOrHex); break;
            case Column::Tair: month.Tair = ParseReal(field); break;
            case Column::Prec: month.Prec = ParseReal(field); break;
            case Column::Tsoil: month.Tsoil = field.empty() ? MISSING_VALUE : ParseReal(field); break;
            case Column::Other: break;
        }
    }
    return month;
}

// The calendar years a record may give: observed records are dated in the
// common era, and simulated weather, saved, is dated 1..500. Beyond them a
// year is a slip (a sign, a digit too many), and the first dated line would
// fix a window of years that no later line can fall into.
constexpr std::int32_t FIRST_YEAR = 1;
constexpr std::int32_t LAST_YEAR = 9999;

void RequirePlausibleYear(std::int32_t year) {
    if (year < FIRST_YEAR || year > LAST_YEAR)
        throw KelmarError("The year " + std::to_string(year) + " lies outside the years " + std::to_string(FIRST_YEAR) +
                          " to " + std::to_string(LAST_YEAR) + " a weather file may give.");
}

// A 500-year record has 6,000 month lines of at most 40 bytes
// ("2449,12,-12.30,123.40,-2.10" and CR LF), about 240 KB; the limit leaves
// room for extra columns and longer records (of which 500 years are stored)
// many times over.
constexpr DataFileLimit WEATHER_FILE_LIMIT = {"weather file", 16 * MIB};

// Years are 32-bit; sums that could leave that range are made in 64 bits and
// held at its ends.
std::int32_t ClampToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

void ReadWeatherBytes(TModel& model, std::string_view bytes, std::string_view fileName) {
    RefuseUtf16File(bytes, fileName);
    LineReader reader(bytes);
    reader.ReadLine();  // the title line
    const std::string columnLine = reader.ReadLine();
    const std::vector<Column> columns = AtFileLine(fileName, reader.LineNumber(), [&] { return ReadColumns(columnLine); });

    model.Weather.FillMissing();
    TRunSettings& settings = model.Settings;
    settings.YearBeg = 0;
    settings.YearEnd = 0;
    std::int64_t monthsStored = 0;
    while (!reader.AtEnd()) {
        const std::string text = reader.ReadLine();
        const MonthLine line = AtFileLine(fileName, reader.LineNumber(), [&] {
            const MonthLine parsed = ParseMonthLine(text, columns);
            RequirePlausibleYear(parsed.Year);
            return parsed;
        });
        if (settings.YearBeg == 0) {  // until the first dated line, every line sets the window
            settings.YearBeg = line.Year;
            settings.YearEnd = ClampToInt32(std::int64_t{line.Year} + MAX_YEARS - 1);
        }
        const std::int64_t yearIndex = std::int64_t{line.Year} - settings.YearBeg + 1;
        if (yearIndex < 1 || yearIndex > MAX_YEARS || line.Month < 1 || line.Month > 12) continue;
        model.Weather.Tair[yearIndex][line.Month] = line.Tair;
        model.Weather.Prec[yearIndex][line.Month] = line.Prec;
        model.Weather.Tsoil[yearIndex][line.Month] = line.Tsoil;
        ++monthsStored;
    }
    settings.YearEnd = ClampToInt32(std::int64_t{settings.YearBeg} + monthsStored / 12 - 1);
}

std::string WeatherFileName(const std::string& fileName) {
    return IsWeatherTableName(fileName) ? fileName : ReplaceExtension(fileName, WEATHER_EXTENSION);
}

bool ReadWeatherFile(TModel& model, const std::string& fileName, Notifier& notifier, const std::string& siteId) {
    const std::string formedName = WeatherFileName(fileName);
    const bool table = IsWeatherTableName(formedName);
    const std::optional<std::string> bytes = ReadDataFile(
        formedName, WEATHER_NOT_FOUND_MESSAGE, table ? WEATHER_TABLE_LIMIT : WEATHER_FILE_LIMIT, notifier);
    if (!bytes) return false;
    if (table)
        ReadWeatherTableBytes(*bytes, formedName)->Store(model, siteId);
    else
        ReadWeatherBytes(model, *bytes, formedName);
    return true;
}

bool ReadWeatherFile(TModel& model, const std::string& fileName, Notifier& notifier) {
    return ReadWeatherFile(model, fileName, notifier, {});
}

void WriteWeatherFile(const std::string& fileName, const std::vector<WeatherRowTexts>& rows) {
    std::string bytes = std::string(TITLE_LINE) + std::string(LINE_END) + COLUMN_LINE;
    for (const WeatherRowTexts& row : rows) {
        bytes.append(LINE_END).append(Utf8ToCp1251(row.Year));
        for (const std::string* text : {&row.Month, &row.Tair, &row.Prec, &row.Tsoil})
            bytes.append(",").append(Utf8ToCp1251(*text));
    }
    WriteFileAtomically(fileName, bytes);
}

}  // namespace kelmar
