// What the window's grids show, as text: the site grid, the climatology grid
// and the rows of the results and input-weather grids. The window fills its
// grids from these; the file writers' inputs are made from the grids' texts
// (what the window shows, edited cells included) or, for the command-line
// tool, from the records exactly as the window would show them.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/presentation/text_grid.h"
#include "model/model_state.h"
#include "model/record_fields.h"
#include "model/record_texts.h"

namespace kelmar {

inline constexpr int SITE_GRID_ROWS = SITE_FIELD_COUNT;  // one row per site parameter, file order
inline constexpr int SITE_VALUE_COLUMN = 1;              // labels in column 0
// Header row/column plus 12 months x 12 variables.
inline constexpr int CLIMATE_GRID_SIZE = CLIMATE_FIELD_COUNT + 1;
static_assert(CLIMATE_FIELD_COUNT == 12, "the climatology grid is square: a column per variable, a row per month");
inline constexpr int RESULTS_GRID_COLUMNS = 8;
inline constexpr int WEATHER_GRID_COLUMNS = 6;  // the sixth (month number) is hidden

// "Jan" .. "Dec" for months 1..12.
const char* MonthAbbreviation(int month);

// Site grid: labels in column 0, values in column 1 (reals with two
// decimals, the flags as plain integers), rows 0..14 in file order.
TextGrid SiteGridTexts(const TSiteParams& site);
// The value texts alone, rows 0..14: what the site file of the record holds.
SiteTexts SiteValueTexts(const TSiteParams& site);
// The value column of a site grid as the site writer takes it.
SiteTexts SiteTextsOfGrid(const TextGrid& siteGrid);

// Climatology grid: headers in row 0, month abbreviations in column 0, cell
// (variable 1..12, month 1..12) with two decimals.
TextGrid ClimatologyGridTexts(const TClimatology& climate);
// The header texts of columns 0..12 of the climatology grid (column 0 empty).
const std::array<const char*, CLIMATE_GRID_SIZE>& ClimatologyHeaders();
// The cells (variable 1..12, month 1..12) of a climatology grid as the
// climatology writer takes them.
ClimatologyTexts ClimatologyTextsOfGrid(const TextGrid& climateGrid);
// The climatology file of the record, as the window would save its grid.
ClimatologyTexts ClimatologyValueTexts(const TClimatology& climate);

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

// The data lines of a weather file from the input-weather grid: for years
// 1..years (at most MAX_YEARS) and months 1..12 the cells of row
// (year - 1) * 12 + month in columns 0, 5, 2, 4 and 3 (year, month number,
// Tair, Prec, Tsoil); a cell the grid does not have gives empty text.
std::vector<WeatherRowTexts> WeatherRowTextsOfGrid(const TextGrid& weatherGrid, int years);

}  // namespace kelmar
