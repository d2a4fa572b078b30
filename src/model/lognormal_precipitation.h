// The lognormal distribution of monthly precipitation that the weather
// generator draws from, derived from the climatology's mean and coefficient
// of variation.
#pragma once

#include "model/model_state.h"

namespace kelmar {

// Messages of the lognormal precipitation parameters that cannot be derived:
// av_P zero, av_P negative, and a result too large for a double (a huge Cv_P).
inline constexpr const char* DIVISION_BY_ZERO_MESSAGE = "Floating point division by zero";
inline constexpr const char* INVALID_OPERATION_MESSAGE = "Invalid floating point operation";
inline constexpr const char* OVERFLOW_MESSAGE = "Floating point overflow";

// Month by month: sigma_P = sqrt(ln(Cv_P^2 + 1)), then
// mu_P = ln(av_P / sqrt(Cv_P^2 + 1)). Stops with KelmarError at the first
// month that has none; later months keep their previous values.
void DeriveLognormalPrecipitation(TClimatology& climate);

// The same for month m (1..12) alone.
void DeriveLognormalMonth(TClimatology& climate, int m);

}  // namespace kelmar
