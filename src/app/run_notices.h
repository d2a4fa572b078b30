// What a finished open command left, for the notices the window shows.
#pragma once

#include "model/model_state.h"

namespace kelmar {

// True when the last run wrote at least its first year: a run stopped by
// "Climatologycal file error" (or one over an empty range) leaves none, and
// there is then nothing to show or save.
bool RunMadeResults(const TModel& model);

// True when the weather record has months without a soil temperature
// (below -99) and the climatology has no soil-temperature statistics (every
// monthly mean and deviation 0, as before any climatology was read): the
// run then filled every missing soil temperature with 0.
bool SoilGapsFilledWithZeros(const TModel& model);

}  // namespace kelmar
