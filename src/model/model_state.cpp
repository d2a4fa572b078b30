#include "model/model_state.h"

namespace kelmar {

void TWeatherStore::FillMissing() {
    for (YearMonthSeries* series : {&Tair, &Prec, &Tsoil})
        for (auto& year : *series) year.fill(MISSING_VALUE);
}

void TResultsTable::Clear() {
    for (auto& year : Records) year.fill(TResultRecord{});
}

}  // namespace kelmar
