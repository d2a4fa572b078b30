// What the window's grids show, as text: the site grid, the climatology grid
// and the rows of the results and input-weather grids. The window fills its
// grids from these, and the command-line tool hands them to the file writers
// exactly as the window would.
#pragma once

#include <array>
#include <string>

#include "io/text_grid.h"
#include "model/model_state.h"

namespace kelmar {

inline constexpr int SITE_GRID_ROWS = 15;     // one row per site parameter, file order
inline constexpr int CLIMATE_GRID_SIZE = 13;  // header row/column plus 12 months x 12 variables
inline constexpr int RESULTS_GRID_COLUMNS = 8;
inline constexpr int WEATHER_GRID_COLUMNS = 6;  // the sixth (month number) is hidden

// "Jan" .. "Dec" for months 1..12.
const char* MonthAbbreviation(int month);

// Site grid: labels in column 0, values in column 1 (reals with two
// decimals, the three flags as plain integers), rows 0..14 in file order.
TextGrid SiteGridTexts(const TSiteParams& site);
// The value texts alone, rows 0..14.
std::array<std::string, SITE_GRID_ROWS> SiteValueTexts(const TSiteParams& site);

// Climatology grid: headers in row 0, month abbreviations in column 0, cell
// (variable 1..12, month 1..12) with two decimals.
TextGrid ClimatologyGridTexts(const TClimatology& climate);
// The header texts of columns 0..12 of the climatology grid (column 0 empty).
const std::array<const char*, CLIMATE_GRID_SIZE>& ClimatologyHeaders();

// Headers of row 0 of the results grid (8) and the input-weather grid (5 + an empty hidden one).
const std::array<const char*, RESULTS_GRID_COLUMNS>& ResultsHeaders();
const std::array<const char*, WEATHER_GRID_COLUMNS>& InputWeatherHeaders();

// One results-grid row for a month record: year (calendar year with weather
// from file, else the year index), month abbreviation, T_ff, T_ms, W_ff_vol,
// W_ms_vol, W_ff_mass, W_ms_mass.
std::array<std::string, RESULTS_GRID_COLUMNS> ResultsRowTexts(const TResultRecord& record, int yearIndex,
                                                              bool weatherFromFile);

// One input-weather-grid row for a month record: year, month abbreviation,
// Tair, Tsoil, Prec, month number.
std::array<std::string, WEATHER_GRID_COLUMNS> InputWeatherRowTexts(const TResultRecord& record);

// The whole input-weather grid as the window holds it after a run: header row
// plus one row per month of year indices 1..years, row (i - 1) * 12 + m.
TextGrid InputWeatherGridTexts(const TResultsTable& results, int years);

}  // namespace kelmar
