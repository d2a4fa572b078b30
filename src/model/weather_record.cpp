#include "model/weather_record.h"

namespace kelmar {

namespace {

// Below this a stored soil temperature (degC) is a gap that needs a
// climatology (the store marks gaps with -99.9).
constexpr double SOIL_GAP_LIMIT = -99;

}  // namespace

double SmallestStoredSoilTemperature(const TModel& model) {
    double smallest = model.Weather.Tsoil[1][1];
    for (int i = 1; i <= model.AvailableYears; ++i)
        for (int m = 1; m <= 12; ++m)
            if (model.Weather.Tsoil[i][m] < smallest) smallest = model.Weather.Tsoil[i][m];
    return smallest;
}

bool RecordHasSoilGaps(const TModel& model) { return SmallestStoredSoilTemperature(model) < SOIL_GAP_LIMIT; }

}  // namespace kelmar
