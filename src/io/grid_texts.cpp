#include "io/grid_texts.h"

#include "io/value_text.h"

namespace kelmar {

namespace {

constexpr const char* MONTH_ABBREVIATIONS[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr const char* SITE_LABELS[SITE_GRID_ROWS] = {
    "Lat, deg.",       "M_ff, kg/m\u00b2",  "D_ff, g/cm\u00b3", "W_WP_ff, vol.%", "W_FC_ff, vol.%",
    "W_SAT_ff, vol.%", "D_ms, g/cm\u00b3", "W_WP_ms, vol.%",   "W_FC_ms, vol.%", "W_SAT_ms, vol.%",
    "Wv0_ms, vol.%",   "Corr",             "saturat",          "permafr",        "fortype"};

const MonthArray* ClimateVariable(const TClimatology& c, int column) {
    const MonthArray* variables[CLIMATE_GRID_SIZE] = {nullptr, &c.av_Ta, &c.std_Ta, &c.av_P,
                                                      &c.Cv_P, &c.av_Ts, &c.std_Ts, &c.Baa,
                                                      &c.Bap,  &c.Sa,    &c.Bss,    &c.Bsa,
                                                      &c.Ss};
    return variables[column];
}

}  // namespace

const char* MonthAbbreviation(int month) {
    return month >= 1 && month <= 12 ? MONTH_ABBREVIATIONS[month] : "";
}

std::array<std::string, SITE_GRID_ROWS> SiteValueTexts(const TSiteParams& s) {
    return {FormatValue(s.Lat),       FormatValue(s.M_ff),      FormatValue(s.D_ff),
            FormatValue(s.W_WP_ff),   FormatValue(s.W_FC_ff),   FormatValue(s.W_Sat_ff),
            FormatValue(s.D_ms),      FormatValue(s.W_WP_ms),   FormatValue(s.W_FC_ms),
            FormatValue(s.W_Sat_ms),  FormatValue(s.Wv0_ms),    FormatValue(s.Corr),
            std::to_string(s.Saturat), std::to_string(s.Permafr), std::to_string(s.Fortype)};
}

TextGrid SiteGridTexts(const TSiteParams& site) {
    TextGrid grid(2, SITE_GRID_ROWS);
    const auto values = SiteValueTexts(site);
    for (int r = 0; r < SITE_GRID_ROWS; ++r) {
        grid.SetCell(0, r, SITE_LABELS[r]);
        grid.SetCell(1, r, values[r]);
    }
    return grid;
}

const std::array<const char*, CLIMATE_GRID_SIZE>& ClimatologyHeaders() {
    static const std::array<const char*, CLIMATE_GRID_SIZE> headers = {
        "",           "av_Ta, \u00b0C", "std_Ta, \u00b0C", "av_P, mm", "Cv_P",
        "av_Ts, \u00b0C", "std_Ts, \u00b0C", "Baa",    "Bap",      "Sa, \u00b0C",
        "Bss",        "Bsa",          "Ss, \u00b0C"};
    return headers;
}

TextGrid ClimatologyGridTexts(const TClimatology& climate) {
    TextGrid grid(CLIMATE_GRID_SIZE, CLIMATE_GRID_SIZE);
    for (int c = 0; c < CLIMATE_GRID_SIZE; ++c) grid.SetCell(c, 0, ClimatologyHeaders()[c]);
    for (int m = 1; m <= 12; ++m) {
        grid.SetCell(0, m, MONTH_ABBREVIATIONS[m]);
        for (int c = 1; c < CLIMATE_GRID_SIZE; ++c)
            grid.SetCell(c, m, FormatValue((*ClimateVariable(climate, c))[m]));
    }
    return grid;
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

}  // namespace kelmar
