// Monthly weather of one simulated year: drawn from the climatology
// (simulated weather) or taken from the weather store (weather from file),
// where only a missing soil temperature is drawn.
#pragma once

#include "model/model_state.h"

namespace kelmar {

// The previous December into slot 0, then precipitation and air temperature
// of months 1..12 for the year at the given year index.
void GenerateAirAndPrecipitation(TModel& model, int yearIndex);

// Soil temperature at 0.2 m under grass of month k (1..12), once month k-1 is set.
void GenerateSoilTemperature(TModel& model, int yearIndex, int k);

}  // namespace kelmar
