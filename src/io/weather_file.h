// The weather file (.wed): a title line, a column line naming up to five
// columns (Year, Month, Tair, Prec and optionally Tsoil, in any order; other
// names are skipped), then one comma-separated data line per month.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/model_state.h"
#include "model/notifier.h"
#include "model/record_texts.h"

namespace kelmar {

inline constexpr const char* WEATHER_NOT_FOUND_MESSAGE = "File weather parameters (%s) not found.";
inline constexpr int MAX_WEATHER_COLUMNS = 5;

// Reads the weather file `fileName` (its extension replaced by ".wed") into
// model.Weather and sets YearBeg and YearEnd. Gives false after the not-found
// warning when there is no such file, changing nothing. The caller then sets
// the current directory to the program's folder, where the file dialogs
// start next time.
// A name ending in ".csv" is read as a tidy weather table instead
// (io/weather_table.h), under its own name: the record of `siteId`, or of
// its only site when `siteId` is empty.
bool ReadWeatherFile(TModel& model, const std::string& fileName, Notifier& notifier, const std::string& siteId);
bool ReadWeatherFile(TModel& model, const std::string& fileName, Notifier& notifier);

// The name ReadWeatherFile reads for `fileName`.
std::string WeatherFileName(const std::string& fileName);

// Reads the bytes of a weather file. A file that looks like UTF-16, or a
// column line with more than five names or without Year, Month, Tair or
// Prec, raises KelmarError before anything changes. Otherwise the store is
// set to missing and refilled: the first line fixes YearBeg and a window of
// MAX_YEARS years from it; lines outside that window or with a month outside
// 1..12 are ignored; YearEnd ends as YearBeg + (months stored div 12) - 1. A
// field that does not convert, or a year outside 1..9999, raises KelmarError
// naming `fileName` and the line; the months stored before it stay.
void ReadWeatherBytes(TModel& model, std::string_view bytes, std::string_view fileName = {});

// Writes a weather file named exactly `fileName`: the title line, the
// column line "Year,Month,Tair,Prec,Tsoil" and one data line per row, its
// texts as given (in the file's code page).
void WriteWeatherFile(const std::string& fileName, const std::vector<WeatherRowTexts>& rows);

}  // namespace kelmar
