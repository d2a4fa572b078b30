#include "app/run_sequence.h"

#include "app/open_commands.h"
#include "model/errors.h"
#include "model/run_checks.h"

namespace kelmar {

SequenceOutcome RunFromWeatherSequence(TModel& model, RunSources& sources) {
    SequenceOutcome outcome;
    if (!sources.ReadSite(model)) return outcome;
    const std::optional<std::string> weatherName = sources.ReadWeather(model);
    if (!weatherName) return outcome;
    // Months without air temperature or precipitation would run as -99.9.
    ValidateWeatherForRun(model, *weatherName);

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
    outcome.Outcome = RunModel(model, sources.Messages());
    return outcome;
}

SequenceOutcome RunSimulatedSequence(TModel& model, RunSources& sources) {
    SequenceOutcome outcome;
    if (!sources.ReadSite(model)) return outcome;
    const std::optional<std::string> climateName = sources.ReadClimatology(model);
    if (!climateName) return outcome;
    ValidateClimatologyForRun(model, *climateName);
    outcome.Ran = true;
    outcome.Outcome = RunModel(model, sources.Messages());
    return outcome;
}

}  // namespace kelmar
