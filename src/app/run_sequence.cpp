#include "app/run_sequence.h"

#include "model/errors.h"
#include "model/run_checks.h"
#include "model/weather_record.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace kelmar {

void RaiseIfClimatologyError(const SequenceOutcome& outcome) {
    if (outcome.Outcome == RunOutcome::ClimatologyError) throw KelmarError(CLIMATOLOGY_ERROR_MESSAGE);
}

namespace {

// The years a scenario's trend runs over: the record's, or the simulated
// run's (500 unless a shorter run was asked for).
int ScenarioYears(const TRunSettings& settings) {
    const std::int64_t span = std::int64_t{settings.YearEnd} - settings.YearBeg + 1;
    return settings.InpDat ? static_cast<int>(std::clamp<std::int64_t>(span, 0, MAX_YEARS))
                           : std::clamp(settings.SimulatedYears, 0, MAX_YEARS);
}

void CheckScenario(const TModel& model, const TScenario* scenario) {
    if (scenario) ValidateScenario(*scenario, model.Settings.InpDat, ScenarioYears(model.Settings));
}

}  // namespace

RunOutcome RunUnderScenario(TModel& model, Notifier& notifier, const TScenario* scenario) {
    if (scenario == nullptr) return RunModel(model, notifier);
    TRunSettings& settings = model.Settings;
    const bool observed = settings.InpDat;
    const int years = ScenarioYears(settings);
    ValidateScenario(*scenario, observed, years);

    // What the scenario changes, given back however the run ends.
    struct Saved {
        TModel& Model;
        TClimatology Climate;
        double TrendT, TrendPrec;
        std::unique_ptr<TWeatherStore> Weather;
        ~Saved() {
            Model.Climate = Climate;
            Model.Settings.TrendT = TrendT;
            Model.Settings.TrendPrec = TrendPrec;
            if (Weather) Model.Weather = *Weather;
        }
    } saved{model, model.Climate, settings.TrendT, settings.TrendPrec, observed ? std::make_unique<TWeatherStore>(model.Weather) : nullptr};

    ApplyScenario(model.Climate, *scenario);
    if (observed) {
        ApplyScenario(model.Weather, years, *scenario);
    } else {
        settings.TrendT = scenario->TrendT;
        settings.TrendPrec = scenario->TrendPrec;
    }
    return RunModel(model, notifier);
}

SequenceOutcome RunFromWeatherSequence(TModel& model, RunSources& sources, const TScenario* scenario) {
    SequenceOutcome outcome;
    if (!sources.ReadSite(model)) return outcome;
    const std::optional<std::string> weatherName = sources.ReadWeather(model);
    if (!weatherName) return outcome;
    // Months without air temperature or precipitation would run as -99.9.
    ValidateWeatherForRun(model, *weatherName);
    // A scenario that cannot apply is refused before the counting run, which
    // would otherwise stay behind as if it were the run.
    CheckScenario(model, scenario);

    // The first run counts the years of the record.
    RunModel(model, sources.Messages());
    std::string climateName;
    if (RecordHasSoilGaps(model)) climateName = sources.ReadGapClimatology(model, *weatherName);
    // Whatever climatology fills the gaps must have the soil equation's
    // coefficients; a refused run keeps nothing of the counting run either.
    try {
        ValidateClimatologyForRun(model, climateName);
    } catch (const KelmarError&) {
        model.Results.Clear();
        model.AvailableYears = 0;
        throw;
    }
    outcome.Ran = true;
    outcome.Outcome = RunUnderScenario(model, sources.Messages(), scenario);
    return outcome;
}

SequenceOutcome RunSimulatedSequence(TModel& model, RunSources& sources, const TScenario* scenario) {
    SequenceOutcome outcome;
    if (!sources.ReadSite(model)) return outcome;
    const std::optional<std::string> climateName = sources.ReadClimatology(model);
    if (!climateName) return outcome;
    ValidateClimatologyForRun(model, *climateName);
    outcome.Ran = true;
    outcome.Outcome = RunUnderScenario(model, sources.Messages(), scenario);
    return outcome;
}

}  // namespace kelmar
