// Every results record at full precision, for users who want all variables:
// a comma-separated table with LF line ends.
#pragma once

#include <string>

#include "model/model_state.h"

namespace kelmar {

// Header "YearIndex,Year,Month" and the names of RESULT_FIELDS
// ("Tair,T_ff,Tsoil,T_ms,Prec,W_ms_vol,W_ff_vol,W_ms_mass,W_ff_mass"),
// then for each year index 1..AvailableYears its twelve month records followed
// by its annual record as month 0 with the year of its months; numbers with
// 17 significant digits, so they read back exactly.
std::string FormatResultsTable(const TModel& model);

}  // namespace kelmar
