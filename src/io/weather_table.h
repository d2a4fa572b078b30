// Observed weather of many sites in one tidy comma-separated file:
//   site_id,year,month,tair,prec,tsoil
// with a header row (the columns in any order; tsoil may be left out), one
// row per site and month, air and soil temperature in degrees Celsius and
// precipitation in millimetres, and an empty field or NA for a missing value.
// A file named *.csv is read this way wherever a weather file (.wed) is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/file_bytes.h"
#include "model/model_state.h"

namespace kelmar {

inline constexpr std::string_view WEATHER_TABLE_EXTENSION = ".csv";

// A tidy table for 10,000 stations with 100 years each has 12 million rows
// of about 35 bytes, some 420 MB; the limit leaves room for more.
inline constexpr DataFileLimit WEATHER_TABLE_LIMIT = {"weather table", 2048 * MIB};

// Whether `fileName` names a tidy weather table (extension .csv, any case).
bool IsWeatherTableName(std::string_view fileName);

struct WeatherTableRow {
    std::int32_t Year = 0;
    std::int32_t Month = 0;
    double Tair = MISSING_VALUE;   // degC
    double Prec = MISSING_VALUE;   // mm
    double Tsoil = MISSING_VALUE;  // degC
    int Line = 0;                  // of the file, for messages
};

// The rows of a tidy weather file by site, each site's rows in file order.
class WeatherTable {
public:
    std::string FileName;
    // Site ids in the order of their first row.
    std::vector<std::string> SiteIds;

    // The rows of `siteId`, or nullptr when the file has none.
    const std::vector<WeatherTableRow>* Find(const std::string& siteId) const;

    // Stores the record of `siteId` into model.Weather and sets YearBeg and
    // YearEnd, as reading the equivalent .wed file does: the store is set to
    // missing; the earliest year fixes YearBeg and a window of MAX_YEARS
    // years; rows beyond the window are left out; YearEnd is YearBeg +
    // (months stored div 12) - 1. `siteId` may be empty when the file holds
    // one site only. Raises KelmarError naming the file when the site is not
    // in it (or, without an id, when it holds several), changing nothing.
    void Store(TModel& model, const std::string& siteId) const;

    std::unordered_map<std::string, std::vector<WeatherTableRow>> Rows;
};

// Reads a tidy weather file from its bytes (UTF-8). The header must name
// site_id, year, month, tair and prec (tsoil is optional) and nothing else.
// A value that does not convert, a month outside 1..12, a year outside
// 1..9999, an empty site id or a second row for the same site and month
// raises KelmarError naming the file and the line.
std::shared_ptr<const WeatherTable> ReadWeatherTableBytes(std::string_view bytes, const std::string& fileName);

}  // namespace kelmar
