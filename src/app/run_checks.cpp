#include "app/run_checks.h"

#include "app/open_commands.h"

namespace kelmar {

namespace {

// Below this a stored soil temperature is a gap (the store marks gaps with
// -99.9), as the open command tests it.
constexpr double SOIL_GAP_LIMIT = -99;

}  // namespace

bool RunMadeResults(const TModel& model) { return model.Results.At(1, 1).Year != 0; }

bool SoilGapsFilledWithZeros(const TModel& model) {
    if (SmallestStoredSoilTemperature(model) >= SOIL_GAP_LIMIT) return false;
    for (int m = 1; m <= 12; ++m)
        if (model.Climate.av_Ts[m] != 0 || model.Climate.std_Ts[m] != 0) return false;
    return true;
}

}  // namespace kelmar
