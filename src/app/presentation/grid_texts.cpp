#include "app/presentation/grid_texts.h"

#include <algorithm>

#include "io/value_text.h"

namespace kelmar {

namespace {

constexpr const char* MONTH_ABBREVIATIONS[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Input-weather grid columns written for the file's Year, Month, Tair, Prec
// and Tsoil (the month number is the hidden column 5).
constexpr int YEAR_COLUMN = 0;
constexpr int MONTH_NUMBER_COLUMN = 5;
constexpr int TAIR_COLUMN = 2;
constexpr int PREC_COLUMN = 4;
constexpr int TSOIL_COLUMN = 3;

}  // namespace

const char* MonthAbbreviation(int month) {
    return month >= 1 && month <= 12 ? MONTH_ABBREVIATIONS[month] : "";
}

SiteTexts SiteValueTexts(const TSiteParams& site) {
    SiteTexts texts;
    for (int r = 0; r < SITE_FIELD_COUNT; ++r) {
        const SiteField& field = SITE_FIELDS[r];
        texts[r] = field.Kind == FieldKind::Real ? FormatValue(site.*field.Real) : std::to_string(site.*field.Flag);
    }
    return texts;
}

SiteTexts SiteTextsOfGrid(const TextGrid& siteGrid) {
    SiteTexts texts;
    for (int r = 0; r < SITE_FIELD_COUNT; ++r) texts[r] = siteGrid.CellOrEmpty(SITE_VALUE_COLUMN, r);
    return texts;
}

TextGrid SiteGridTexts(const TSiteParams& site) {
    TextGrid grid(2, SITE_GRID_ROWS);
    auto values = SiteValueTexts(site);
    for (int r = 0; r < SITE_GRID_ROWS; ++r) {
        grid.SetCell(0, r, SITE_FIELDS[r].Label);
        grid.SetCell(SITE_VALUE_COLUMN, r, std::move(values[r]));
    }
    return grid;
}

const std::array<const char*, CLIMATE_GRID_SIZE>& ClimatologyHeaders() {
    static const std::array<const char*, CLIMATE_GRID_SIZE> headers = [] {
        std::array<const char*, CLIMATE_GRID_SIZE> labels{""};
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c) labels[c] = CLIMATE_FIELDS[c - 1].Label;
        return labels;
    }();
    return headers;
}

TextGrid ClimatologyGridTexts(const TClimatology& climate) {
    TextGrid grid(CLIMATE_GRID_SIZE, CLIMATE_GRID_SIZE);
    for (int c = 0; c < CLIMATE_GRID_SIZE; ++c) grid.SetCell(c, 0, ClimatologyHeaders()[c]);
    for (int m = 1; m <= 12; ++m) {
        grid.SetCell(0, m, MONTH_ABBREVIATIONS[m]);
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c)
            grid.SetCell(c, m, FormatValue((climate.*CLIMATE_FIELDS[c - 1].Values)[m]));
    }
    return grid;
}

ClimatologyTexts ClimatologyTextsOfGrid(const TextGrid& climateGrid) {
    ClimatologyTexts texts;
    for (int v = 0; v < CLIMATE_FIELD_COUNT; ++v)
        for (int m = 1; m <= 12; ++m) texts[v][m - 1] = climateGrid.CellOrEmpty(v + 1, m);
    return texts;
}

ClimatologyTexts ClimatologyValueTexts(const TClimatology& climate) {
    return ClimatologyTextsOfGrid(ClimatologyGridTexts(climate));
}

const std::array<const char*, RESULTS_GRID_COLUMNS>& ResultsHeaders() {
    static const std::array<const char*, RESULTS_GRID_COLUMNS> headers = {
        "Year",        "Month",       "T_ff, \u00b0C", "T_ms, \u00b0C",
        "W_ff, %vol.", "W_ms, %vol.", "W_ff, %m.",     "W_ms, %m."};
    return headers;
}

const std::array<const char*, WEATHER_GRID_COLUMNS>& InputWeatherHeaders() {
    static const std::array<const char*, WEATHER_GRID_COLUMNS> headers = {
        "Year", "Month", "Tair, \u00b0C", "Tsoil, \u00b0C", "Prec, mm", ""};
    return headers;
}

std::array<std::string, RESULTS_GRID_COLUMNS> ResultsRowTexts(const TResultRecord& r, int yearIndex,
                                                              bool weatherFromFile) {
    return {std::to_string(weatherFromFile ? r.Year : yearIndex),
            MonthAbbreviation(r.Month),
            FormatValue(r.T_ff),
            FormatValue(r.T_ms),
            FormatValue(r.W_ff_vol),
            FormatValue(r.W_ms_vol),
            FormatValue(r.W_ff_mass),
            FormatValue(r.W_ms_mass)};
}

std::array<std::string, WEATHER_GRID_COLUMNS> InputWeatherRowTexts(const TResultRecord& r) {
    return {std::to_string(r.Year), MonthAbbreviation(r.Month), FormatValue(r.Tair),
            FormatValue(r.Tsoil),   FormatValue(r.Prec),        std::to_string(r.Month)};
}

TextGrid InputWeatherGridTexts(const TResultsTable& results, int years) {
    TextGrid grid(WEATHER_GRID_COLUMNS, 12 * years + 1);
    for (int c = 0; c < WEATHER_GRID_COLUMNS; ++c) grid.SetCell(c, 0, InputWeatherHeaders()[c]);
    for (int i = 1; i <= years; ++i)
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = results.At(i, m);
            if (r.Year == 0) continue;
            const auto row = InputWeatherRowTexts(r);
            for (int c = 0; c < WEATHER_GRID_COLUMNS; ++c) grid.SetCell(c, (i - 1) * 12 + m, row[c]);
        }
    return grid;
}

std::vector<WeatherRowTexts> WeatherRowTextsOfGrid(const TextGrid& grid, int years) {
    // The store and the grid never hold more than MAX_YEARS years.
    const int yearsWritten = std::clamp(years, 0, MAX_YEARS);
    std::vector<WeatherRowTexts> rows;
    rows.reserve(static_cast<std::size_t>(yearsWritten) * 12);
    for (int y = 1; y <= yearsWritten; ++y)
        for (int m = 1; m <= 12; ++m) {
            const int row = (y - 1) * 12 + m;
            rows.push_back({grid.CellOrEmpty(YEAR_COLUMN, row), grid.CellOrEmpty(MONTH_NUMBER_COLUMN, row),
                            grid.CellOrEmpty(TAIR_COLUMN, row), grid.CellOrEmpty(PREC_COLUMN, row),
                            grid.CellOrEmpty(TSOIL_COLUMN, row)});
        }
    return rows;
}

}  // namespace kelmar
