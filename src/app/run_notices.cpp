#include "app/run_notices.h"

#include "model/weather_record.h"

namespace kelmar {

bool RunMadeResults(const TModel& model) { return model.Results.At(1, 1).Year != 0; }

bool SoilGapsFilledWithZeros(const TModel& model) {
    if (!RecordHasSoilGaps(model)) return false;
    for (int m = 1; m <= 12; ++m)
        if (model.Climate.av_Ts[m] != 0 || model.Climate.std_Ts[m] != 0) return false;
    return true;
}

}  // namespace kelmar
