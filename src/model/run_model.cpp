#include "model/run_model.h"

#include <algorithm>
#include <cstdint>

#include "model/errors.h"
#include "model/monthly_balance.h"
#include "model/record_fields.h"
#include "model/run_checks.h"
#include "model/scenario.h"
#include "model/site_constants.h"
#include "model/weather_generator.h"

namespace kelmar {

namespace {

// The month's record from the year's working arrays, added to the annual record.
void WriteMonthRecord(TResultsTable& results, const TYearWork& work, int yearIndex, int year, int k) {
    TResultRecord& r = results.At(yearIndex, k);
    TResultRecord& annual = results.At(yearIndex, 0);
    r.Year = year;
    r.Month = k;
    for (const ResultField& field : RESULT_FIELDS) {
        r.*field.Value = (work.*field.Month)[k];
        annual.*field.Value += r.*field.Value;
    }
}

// The annual sums become means where the field's annual value is a mean
// (precipitation stays the annual sum).
void FinishAnnualRecord(TResultRecord& annual) {
    for (const ResultField& field : RESULT_FIELDS)
        if (field.Annual == AnnualForm::Mean) annual.*field.Value /= 12;
}

}  // namespace

bool ClimatologyLacksSoilTemperature(const TClimatology& climate) {
    double smallest = 0;
    for (int k = 1; k <= 12; ++k) smallest = std::min(smallest, climate.av_Ts[k]);
    return smallest < PRESENT_LIMIT;
}

void ValidateSimulatedYears(std::int32_t yearBeg, std::int32_t years, const std::string& yearBegName,
                            const std::string& yearsName) {
    if (years < 1 || years > MAX_YEARS)
        throw KelmarError(yearsName + " takes a whole number from 1 to " + std::to_string(MAX_YEARS) + ", not " +
                          std::to_string(years) + ".");
    const std::int32_t last = LastSimulatedYearBeg(years);
    if (yearBeg < 1 || yearBeg > last)
        throw KelmarError(yearBegName + " takes a whole number from 1 to " + std::to_string(last) + " for a run of " +
                          std::to_string(years) + " years (its last year at most " + std::to_string(LAST_RUN_YEAR) +
                          "), not " + std::to_string(yearBeg) + ".");
}

RunOutcome RunModel(TModel& model, Notifier& notifier) {
    const TSiteConstants constants = ComputeSiteConstants(model.Site, model.Climate);
    ValidateSiteForRun(model.Site, constants);
    if (model.Settings.InpDat) {
        ValidateWeatherForRun(model);
    } else {
        ValidateClimatologyForRun(model);
        ValidateSimulatedYears(model.Settings.SimulatedYearBeg, model.Settings.SimulatedYears,
                               "The first simulated year", "The number of simulated years");
    }
    model.Constants = constants;

    TRunSettings& settings = model.Settings;
    model.Results.Clear();
    SetRunStartState(model);
    if (!settings.InpDat) {
        settings.YearBeg = settings.SimulatedYearBeg;
        settings.YearEnd = settings.YearBeg + settings.SimulatedYears - 1;
    }
    if (settings.YearEnd < settings.YearBeg) return RunOutcome::EmptyRange;

    // A range longer than the stores hold stops after MAX_YEARS years.
    const std::int64_t firstYear = settings.YearBeg;
    const std::int64_t lastYear = std::min<std::int64_t>(settings.YearEnd, firstYear + MAX_YEARS - 1);
    TYearWork& work = model.Work;
    // Leading year indices with a January record: the count of available
    // years. Later records were cleared, so it grows one year at a time.
    int availablePrefix = 0;
    const std::int32_t availableBefore = model.AvailableYears;
    // A transient scenario changes the climatology year by year and gives
    // the run's own back at the end.
    const bool trend = !settings.InpDat && (settings.TrendT != 0 || settings.TrendPrec != 0);
    struct ClimateRestore {
        TClimatology* Climate = nullptr;
        TClimatology Base;
        ~ClimateRestore() {
            if (Climate) *Climate = Base;
        }
    } restore;
    if (trend) {
        restore.Base = model.Climate;
        restore.Climate = &model.Climate;
    }

    for (std::int64_t y = firstYear; y <= lastYear; ++y) {
        const int year = static_cast<int>(y);
        // The year index, not the calendar year, drives the generator and
        // the trend: a run's weather does not depend on where it starts.
        const int i = static_cast<int>(y - firstYear + 1);
        if (trend && i > 1) TrendClimatology(model.Climate, restore.Base, settings.TrendT, settings.TrendPrec, i);
        GenerateAirAndPrecipitation(model, i);
        if (ClimatologyLacksSoilTemperature(model.Climate)) {
            notifier.Warning(CLIMATOLOGY_ERROR_MESSAGE);
            return RunOutcome::ClimatologyError;
        }
        for (int k = 1; k <= 12; ++k) {
            GenerateSoilTemperature(model, i, k);
            MonthTemperatures(work, model.Constants, k);
        }
        for (int k = 1; k <= 12; ++k) {
            MonthWaterBalance(work, model.Site, model.Constants, k);
            WriteMonthRecord(model.Results, work, i, year, k);
            UpdateSnow(work, k);
        }
        FinishAnnualRecord(model.Results.At(i, 0));
        try {
            RequireFiniteYear(model, i);
        } catch (const KelmarError&) {
            // Nothing of a run that went wrong stays to be shown or written.
            model.Results.Clear();
            model.AvailableYears = availableBefore;
            throw;
        }

        if (availablePrefix == i - 1 && model.Results.At(i, 1).Year != 0) availablePrefix = i;
        model.AvailableYears = availablePrefix;
    }
    return RunOutcome::Completed;
}

}  // namespace kelmar
