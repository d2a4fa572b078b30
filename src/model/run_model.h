// The whole multi-year simulation into the results table.
#pragma once

#include "model/model_state.h"
#include "model/notifier.h"

namespace kelmar {

// Shown when a month of the climatology has no mean soil temperature.
inline constexpr const char* CLIMATOLOGY_ERROR_MESSAGE = "Climatologycal file error";

enum class RunOutcome {
    Completed,          // every year of the range simulated
    EmptyRange,         // YearEnd < YearBeg: table cleared, nothing simulated
    ClimatologyError,   // stopped in the first year; the warning was shown
};

// Simulates years YearBeg..YearEnd (1..500 with simulated weather; at most
// MAX_YEARS years) into the results table and recounts AvailableYears.
// Throws KelmarError, before changing anything, when the site parameters would
// make the balance divide by zero, when an observed record lacks the air
// temperature or precipitation of a month of its range, or when a climatology
// for simulated weather lacks a coefficient of the generator. A year whose
// records are not all finite stops the run with KelmarError too; the results
// table is then all zero and AvailableYears as before.
RunOutcome RunModel(TModel& model, Notifier& notifier);

// True when some month of the climatology has no mean soil temperature.
bool ClimatologyLacksSoilTemperature(const TClimatology& climate);

}  // namespace kelmar
