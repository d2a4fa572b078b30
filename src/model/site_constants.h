// Site constants of a run and its starting state.
#pragma once

#include "model/model_state.h"

namespace kelmar {

// Throws KelmarError naming the parameter when the site would make the run
// divide by zero or give no physical meaning: a density that is not positive,
// a negative moisture ratio, or no available storage at the reference capacity.
void ValidateSiteForRun(const TSiteParams& site, const TSiteConstants& constants);

// Forest-floor thickness, storages, storage limit, forest-type offsets,
// daylight shares and the monthly critical storages.
TSiteConstants ComputeSiteConstants(const TSiteParams& site, const TClimatology& climate);

// December slots of the climatology, empty snow store, initial storage, and
// the December before the first year drawn from the climatology (two draws).
void SetRunStartState(TModel& model);

}  // namespace kelmar
