// The physics of one month: temperatures of the mineral soil and the forest
// floor, potential evapotranspiration, the water storage of the profile
// (forest floor plus 1 m of mineral soil, mm above the wilting point), the
// moisture of both layers, and the snow store.
#pragma once

#include "model/model_state.h"

namespace kelmar {

// Mineral-soil and forest-floor temperature and potential evapotranspiration
// of month k, once its air and soil temperature are set.
void MonthTemperatures(TYearWork& work, const TSiteConstants& constants, int k);

// Storage through month k and the moisture of both layers from its mean.
void MonthWaterBalance(TYearWork& work, const TSiteParams& site, const TSiteConstants& constants,
                       int k);

// Snow after month k: a thawed month melts it all, a frozen month adds its
// precipitation less its evapotranspiration (the store may go below zero).
void UpdateSnow(TYearWork& work, int k);

}  // namespace kelmar
