// The rows of a tidy weather table (io/weather_table.h) as a writer makes
// them: the header site_id,year,month,tair,prec,tsoil, one row per month,
// numbers in the shortest text that reads back to the same double, NA for a
// missing value, lines ending in LF as the batch's tables do.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelmar {

inline constexpr const char* WEATHER_TABLE_HEADER = "site_id,year,month,tair,prec,tsoil\n";

// Appends the rows of one site: `values` (tair, prec, tsoil; NaN missing)
// hold consecutive months from `firstYear`-`firstMonth`. The rows run from
// January of the first year to December of the last, months before and
// after the values being NA, so that a reader counting whole years of rows
// (WeatherTable::Store) gets the record's years.
void AppendWeatherTableRows(std::string& out, const std::string& siteId, std::int64_t firstYear, int firstMonth,
                            const std::array<std::vector<double>, 3>& values);

}  // namespace kelmar
