// Monthly potential evapotranspiration after Blaney and Criddle, with the
// daylight hours of each month from the astronomical day length.
#pragma once

#include "basics/basics.h"

namespace kelmar {

// sin(x) / cos(x), as the day-length formula is written.
double Tangent(double x);
// pi/2 - arctan(x / sqrt(1 - x*x)); at exactly -1 or 1 the limits pi and 0.
double ArcCosine(double x);

// Share of the year's daylight hours in each month (slots 1..12) at a latitude
// in degrees, north positive. Polar day and night are kept just inside the
// domain of the arc cosine, so every share is finite.
MonthArray DaylightShares(double latitude);

// Evapotranspiration in mm for a month with the given daylight share and mean
// air temperature (degC); 0 at or below -160/9 degC (0 degF).
double PETFromShare(int month, double daylightShare, double airTemperature);

// The same from the latitude: month 1..12, latitude in degrees, degC; mm >= 0.
double MonthlyPET(int month, double latitude, double airTemperature);

}  // namespace kelmar
