// Estimation of a monthly climatology from an observed weather record.
#pragma once

#include "model/model_state.h"

namespace kelmar {

// Fills the twelve monthly fields of the climatology (av_Ta .. Ss) from the
// weather store for the years YearBeg..YearEnd: means and deviations of air
// temperature, precipitation and soil temperature, the regression of air
// temperature on the previous month's air temperature and the month's log
// precipitation, and the regression of soil temperature on the previous
// month's soil temperature and the month's air temperature. mu_P, sigma_P and
// the December slots are left as they were. Too few years give MISSING_VALUE.
void EstimateClimatology(TModel& model);

}  // namespace kelmar
