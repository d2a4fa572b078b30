// Checks that keep a wrong result from looking like a result: an observed
// record with months missing, a climatology without the coefficients the
// weather generator needs, and a run whose records are not all finite. Each
// raises KelmarError with a text that names the first offending month or
// value and the inputs behind it.
#pragma once

#include <string_view>

#include "model/model_state.h"

namespace kelmar {

// Refuses an observed record (weather from file) with a month of the run's
// range YearBeg..YearEnd (at most MAX_YEARS years) that has no air
// temperature or no precipitation. The text names the first missing months
// and their count; `recordName`, when given, names the weather file.
// Missing soil temperatures are allowed: the generator fills them.
void ValidateWeatherForRun(const TModel& model, std::string_view recordName = {});

// True when a month of the observed record's run range has a soil
// temperature the generator fills in (below -90).
bool WeatherHasSoilGaps(const TModel& model);

// Refuses a climatology that lacks (-99.9 or below -90) a value the weather
// generator will use in this run: with simulated weather the statistics and
// regression coefficients of air temperature, precipitation and soil
// temperature; with weather from file, only when the record has soil gaps,
// those of the soil equation. The mean soil temperature is left to the run,
// which stops with its own warning. `fileName`, when given, names the file.
void ValidateClimatologyForRun(const TModel& model, std::string_view fileName = {});

// Refuses year index `yearIndex` of the results table when one of its
// records (months and annual values) holds a value that is not finite. The
// text names the first such variable in the order the balance computes them,
// its month and year, and the inputs that drive it.
void RequireFiniteYear(const TModel& model, int yearIndex);

// Refuses an estimated climatology holding a value that is not finite,
// naming the variable, the month and the columns of the record behind it.
void RequireFiniteClimatology(const TClimatology& climate);

}  // namespace kelmar
