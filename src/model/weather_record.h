// An observed monthly weather record held in memory, and what a run asks of
// it before it starts: whether its soil temperatures have gaps that the
// weather generator must fill from a climatology.
#pragma once

#include <cstdint>

#include "model/model_state.h"

namespace kelmar {

// An observed weather record as the weather readers leave it: the store and
// the first and last calendar year of the run it drives.
struct WeatherRecord {
    TWeatherStore Store;
    std::int32_t YearBeg = 0;
    std::int32_t YearEnd = 0;
};

// The smallest soil temperature (degC) stored for year indices
// 1..AvailableYears, starting from year 1, January (that value alone when no
// year is available).
double SmallestStoredSoilTemperature(const TModel& model);

// Whether the record read has a soil-temperature gap (a stored value below
// -99 degC; the store marks gaps with -99.9), which the generator must fill
// from a climatology.
bool RecordHasSoilGaps(const TModel& model);

}  // namespace kelmar
