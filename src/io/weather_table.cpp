#include "io/weather_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "io/csv_text.h"
#include "io/number_text.h"
#include "io/read_errors.h"
#include "model/errors.h"

namespace kelmar {

namespace {

enum Column { SITE_ID, YEAR, MONTH, TAIR, PREC, TSOIL, COLUMN_COUNT };
constexpr std::array<const char*, COLUMN_COUNT> COLUMN_NAMES = {"site_id", "year", "month", "tair", "prec", "tsoil"};

// The years a weather file may give, as for a .wed file.
constexpr std::int32_t FIRST_YEAR = 1;
constexpr std::int32_t LAST_YEAR = 9999;

double ValueOrMissing(const std::string& text) {
    std::string_view trimmed = text;
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    if (trimmed.empty() || trimmed == "NA") return MISSING_VALUE;
    return ParseReal(trimmed);
}

std::array<int, COLUMN_COUNT> ReadHeader(const std::vector<std::string>& names) {
    std::array<int, COLUMN_COUNT> position;
    position.fill(-1);
    for (int k = 0; k < static_cast<int>(names.size()); ++k) {
        const auto known = std::find(COLUMN_NAMES.begin(), COLUMN_NAMES.end(), names[k]);
        if (known == COLUMN_NAMES.end())
            throw KelmarError("The column \"" + names[k] +
                              "\" is not one of site_id, year, month, tair, prec, tsoil.");
        const auto c = known - COLUMN_NAMES.begin();
        if (position[c] >= 0) throw KelmarError("The column \"" + names[k] + "\" is named twice.");
        position[c] = k;
    }
    for (int c = 0; c < COLUMN_COUNT; ++c)
        if (c != TSOIL && position[c] < 0)
            throw KelmarError(std::string("The header names no column \"") + COLUMN_NAMES[c] + "\".");
    return position;
}

// A month given twice for one site would be stored once and counted twice.
// Sorting a copy of each site's dates finds repeats without a set of all
// rows, which for a file of many stations would cost more than the rows.
void RefuseRepeatedMonths(const WeatherTable& table) {
    int firstRepeat = 0;
    std::string repeatedSite;
    std::vector<std::array<std::int32_t, 3>> dates;
    for (const auto& [id, rows] : table.Rows) {
        dates.clear();
        for (const WeatherTableRow& row : rows) dates.push_back({row.Year, row.Month, row.Line});
        std::sort(dates.begin(), dates.end());
        for (std::size_t k = 1; k < dates.size(); ++k)
            if (dates[k][0] == dates[k - 1][0] && dates[k][1] == dates[k - 1][1] &&
                (firstRepeat == 0 || dates[k][2] < firstRepeat)) {
                firstRepeat = dates[k][2];
                repeatedSite = id;
            }
    }
    if (firstRepeat == 0) return;
    throw KelmarError(WithLocationLine("The site \"" + repeatedSite + "\" has a second row for the same year and month.",
                                       FileLineLocation(table.FileName, firstRepeat)));
}

}  // namespace

bool IsWeatherTableName(std::string_view fileName) {
    if (fileName.size() < WEATHER_TABLE_EXTENSION.size()) return false;
    const std::string_view tail = fileName.substr(fileName.size() - WEATHER_TABLE_EXTENSION.size());
    return std::equal(tail.begin(), tail.end(), WEATHER_TABLE_EXTENSION.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

const std::vector<WeatherTableRow>* WeatherTable::Find(const std::string& siteId) const {
    const auto found = Rows.find(siteId);
    return found == Rows.end() ? nullptr : &found->second;
}

void WeatherTable::Store(TModel& model, const std::string& siteId) const {
    const std::vector<WeatherTableRow>* rows = nullptr;
    if (siteId.empty()) {
        if (SiteIds.size() != 1)
            throw KelmarError("The weather file \"" + FileName + "\" holds " + std::to_string(SiteIds.size()) +
                              " sites; name the site whose record to read.");
        rows = Find(SiteIds.front());
    } else {
        rows = Find(siteId);
        if (!rows) throw KelmarError("The weather file \"" + FileName + "\" has no rows for the site \"" + siteId + "\".");
    }
    std::int32_t first = LAST_YEAR;
    for (const WeatherTableRow& row : *rows) first = std::min(first, row.Year);

    model.Weather.FillMissing();
    TRunSettings& settings = model.Settings;
    settings.YearBeg = first;
    std::int64_t monthsStored = 0;
    for (const WeatherTableRow& row : *rows) {
        const std::int64_t yearIndex = std::int64_t{row.Year} - first + 1;
        if (yearIndex > MAX_YEARS) continue;
        model.Weather.Tair[yearIndex][row.Month] = row.Tair;
        model.Weather.Prec[yearIndex][row.Month] = row.Prec;
        model.Weather.Tsoil[yearIndex][row.Month] = row.Tsoil;
        ++monthsStored;
    }
    settings.YearEnd = static_cast<std::int32_t>(first + monthsStored / 12 - 1);
}

std::shared_ptr<const WeatherTable> ReadWeatherTableBytes(std::string_view bytes, const std::string& fileName) {
    RefuseUtf16File(bytes, fileName);
    auto table = std::make_shared<WeatherTable>();
    table->FileName = fileName;
    CsvReader reader(bytes, fileName);
    std::vector<std::string> fields;
    if (!reader.Next(fields)) throw KelmarError("The weather file \"" + fileName + "\" is empty; it needs a header row.");
    const auto position = AtFileLine(fileName, reader.LineNumber(), [&] { return ReadHeader(fields); });
    const std::size_t width = fields.size();

    while (reader.Next(fields)) {
        AtFileLine(fileName, reader.LineNumber(), [&] {
            if (fields.size() != width)
                throw KelmarError("The row has " + std::to_string(fields.size()) + " fields; the header names " +
                                  std::to_string(width) + ".");
            const std::string& id = fields[position[SITE_ID]];
            if (id.empty()) throw KelmarError("The row has no site_id.");
            WeatherTableRow row;
            row.Line = reader.LineNumber();
            row.Year = ParseInteger(fields[position[YEAR]], IntegerForm::Decimal);
            row.Month = ParseInteger(fields[position[MONTH]], IntegerForm::Decimal);
            if (row.Year < FIRST_YEAR || row.Year > LAST_YEAR)
                throw KelmarError("The year " + std::to_string(row.Year) + " lies outside the years 1 to 9999 a weather file may give.");
            if (row.Month < 1 || row.Month > 12)
                throw KelmarError("The month " + std::to_string(row.Month) + " lies outside 1 to 12.");
            row.Tair = ValueOrMissing(fields[position[TAIR]]);
            row.Prec = ValueOrMissing(fields[position[PREC]]);
            if (position[TSOIL] >= 0) row.Tsoil = ValueOrMissing(fields[position[TSOIL]]);
            auto [entry, added] = table->Rows.try_emplace(id);
            if (added) table->SiteIds.push_back(id);
            entry->second.push_back(row);
        });
    }
    RefuseRepeatedMonths(*table);
    return table;
}

}  // namespace kelmar
