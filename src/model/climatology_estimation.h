// Estimation of a monthly climatology from an observed weather record.
#pragma once

#include <optional>
#include <string>

#include "model/model_state.h"

namespace kelmar {

// Fills the twelve monthly fields of `climate` (av_Ta .. Ss) from the
// weather store for the years YearBeg..YearEnd of `settings`: means and deviations of air
// temperature, precipitation and soil temperature, the regression of air
// temperature on the previous month's air temperature and the month's log
// precipitation, and the regression of soil temperature on the previous
// month's soil temperature and the month's air temperature. mu_P, sigma_P and
// the December slots are left as they were. Too few years give MISSING_VALUE.
void EstimateClimatology(TClimatology& climate, const TWeatherStore& weather, const TRunSettings& settings);

// Years a climatology needs for the regressions of the weather generator:
// each needs 4 complete years, and January's the December before as well.
inline constexpr int YEARS_FOR_REGRESSIONS = 5;

// The years of YearBeg..YearEnd (at most MAX_YEARS) that hold at least one
// air temperature or precipitation: the years the estimate takes data from.
int YearsForEstimate(const TWeatherStore& weather, const TRunSettings& settings);

// After an estimate from a record with `years` years: a warning naming the
// first regression coefficient left missing (soil coefficients only for
// months with a mean soil temperature) and the years the regressions need,
// or nothing when all are there.
std::optional<std::string> RegressionShortfall(const TClimatology& climate, int years);

}  // namespace kelmar
