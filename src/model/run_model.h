// The whole multi-year simulation into the results table.
#pragma once

#include <cstdint>
#include <string>

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

// The last calendar year a run may reach: years are written with at most
// four digits, as the weather files give them.
inline constexpr std::int32_t LAST_RUN_YEAR = 9999;

// The latest first year of a simulated run of `years` years.
constexpr std::int32_t LastSimulatedYearBeg(std::int32_t years) { return LAST_RUN_YEAR - years + 1; }

// Refuses (KelmarError) simulated years the run cannot make: `years` outside
// 1..MAX_YEARS, or `yearBeg` outside 1..LastSimulatedYearBeg(years). The
// text names the value as `yearBegName` or `yearsName` and its allowed range.
void ValidateSimulatedYears(std::int32_t yearBeg, std::int32_t years, const std::string& yearBegName,
                            const std::string& yearsName);

// Simulates years YearBeg..YearEnd (with simulated weather the
// SimulatedYears years from SimulatedYearBeg, 1..500 by default; at most
// MAX_YEARS years) into the results table and recounts AvailableYears.
// Throws KelmarError, before changing anything, when the site parameters would
// make the balance divide by zero, when an observed record lacks the air
// temperature or precipitation of a month of its range, or when a climatology
// for simulated weather lacks a coefficient of the generator or its
// simulated years are refused by ValidateSimulatedYears. A year whose
// records are not all finite stops the run with KelmarError too; the results
// table is then all zero and AvailableYears as before.
RunOutcome RunModel(TModel& model, Notifier& notifier);

// True when some month of the climatology has no mean soil temperature.
bool ClimatologyLacksSoilTemperature(const TClimatology& climate);

}  // namespace kelmar
