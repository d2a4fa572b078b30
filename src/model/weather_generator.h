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

// Simulated weather alone, without the site's balance: draws `years` years
// (1..MAX_YEARS) from the climatology into year indices 1..years of `into`,
// air temperature and precipitation, and the soil temperature under grass
// when `withSoil` (otherwise it stays missing, as does every later year).
// Sets simulated weather (InpDat false) and the run's start state, then
// makes the draws of a simulated run in its order, so with soil the same
// random state gives the weather of RunModel. The climatology must hold
// what the generator reads; nothing here checks it.
void SimulateWeather(TModel& model, int years, bool withSoil, TWeatherStore& into);

}  // namespace kelmar
