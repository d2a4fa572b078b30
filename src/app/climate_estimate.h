// A climatology estimated from an observed record over a reference period of
// its years, and used as the climatology file `kelmar-cli estimate` writes
// of it would be: the batch's and simulate's --estimate-climate run from
// the same climatology as a run from that file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/model_state.h"
#include "model/notifier.h"
#include "app/open_commands.h"
#include "app/workflow_view.h"
#include "model/scenario.h"

namespace kelmar {

// The calendar years of a reference period, First <= Last.
struct ReferenceYears {
    std::int32_t First = 0;
    std::int32_t Last = 0;

    // "Y1-Y2", as --reference takes it.
    std::string Text() const { return std::to_string(First) + "-" + std::to_string(Last); }
    bool operator==(const ReferenceYears&) const = default;
};

// A run whose sites with a weather_file run simulated weather from a
// climatology estimated from their record (batch --estimate-climate): the
// estimate of `kelmar-cli estimate` over the reference years, as the file it
// writes holds it. The months the record gives no soil temperature take
// their soil fields from the site's climate_file.
struct ClimateEstimate {
    std::optional<ReferenceYears> Reference;  // nothing: the record's whole span
};

// "Y1-Y2" with 1 <= Y1 <= Y2 <= 9999; raises KelmarError naming `option`
// and the form it needs otherwise.
ReferenceYears ParseReferenceYears(const std::string& text, const std::string& option = "--reference");

// Keeps of the record in model.Weather (the years YearBeg..YearEnd of
// model.Settings) only the years of `reference`, moved to the start of the
// store, as if the record held those years alone (January's regression then
// has no December before the first of them). Raises KelmarError naming
// `recordName` and the record's years when the period does not lie within
// them.
void RestrictToReference(TModel& model, const ReferenceYears& reference, const std::string& recordName);

// The years of the record in `model` that an estimate takes: `reference`,
// or the whole record.
std::string EstimateYearsText(const TModel& model);

// Puts `estimate` into model.Climate as a climatology file holds it (every
// value at the two decimals of the file, read back) and derives mu_P and
// sigma_P, as reading that file does; a failed derivation names `name`.
void UseEstimateAsWritten(TModel& model, const TClimatology& estimate, const std::string& name);

// The climatology `kelmar-cli estimate` makes of the record in `record`
// (read from `recordName`) over `reference`, or the whole record, put into
// `model` as UseEstimateAsWritten does; `record` is left cut to those
// years. The estimate's warnings go to `notifier`. Returns the name the
// run's texts give the climatology.
std::string UseEstimateOfRecord(TModel& model, TModel& record, const std::string& recordName,
                                const std::optional<ReferenceYears>& reference, Notifier& notifier);

// The months (1..12) of `climate` without a mean soil temperature, which an
// estimate leaves so when the record has no soil temperature in the month.
std::string MonthsWithoutSoil(const TClimatology& climate);

// Copies from `source` the soil-temperature fields (av_Ts, std_Ts, Bss,
// Bsa, Ss) of the months of `target` without a mean soil temperature, and
// of the other months those that are missing (the regression of a month
// after one without soil temperature).
void FillSoilMonths(TClimatology& target, const TClimatology& source);

// "Generate file" over the years `reference` of the record: the weather
// file asked for is read, cut to those years and estimated from, as
// GenerateClimatology does with the whole record. False when no file was
// read.
bool GenerateClimatologyOver(TModel& model, WorkflowView& view, const ReferenceYears& reference);

// `simulate --estimate-climate`: the site, then simulated weather from the
// climatology estimated from the weather file asked for (over `reference`,
// or the whole record) as GenerateClimatology makes it and as the file
// `estimate` writes holds it, its check, and the run, under `scenario` when
// one is given: the run of `simulate --climate` on that file. The months
// without soil temperature take the soil fields of the climatology file
// asked for (ClimatologyForSimulation) when one is named; otherwise they
// raise KelmarError saying how to give one. With `held`, the estimate is
// made of that record instead of a weather file's.
OpenResult OpenFilesEstimated(TModel& model, WorkflowView& view, const TScenario* scenario,
                              const std::optional<ReferenceYears>& reference, const HeldWeather* held = nullptr);

}  // namespace kelmar
