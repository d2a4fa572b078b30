// The sequence of reads, checks and runs that every run goes through, in the
// window, in `kelmar-cli simulate` and for each site of a batch. Where the
// inputs come from (dialogs, options, a site list) and what a missing file
// means there is left to a RunSources; the order and the checks are here,
// once.
#pragma once

#include <optional>
#include <string>

#include "model/model_state.h"
#include "model/notifier.h"
#include "model/run_model.h"
#include "model/scenario.h"

namespace kelmar {

// Where one run's inputs come from. Each reader fills the model's record and
// gives the name the run's messages use for the file, or nothing when there
// is no file to read (a dialog cancelled, a file not found after its
// warning): the sequence then ends without a run.
class RunSources {
public:
    virtual ~RunSources() = default;
    // Warnings of the runs.
    virtual Notifier& Messages() = 0;
    virtual bool ReadSite(TModel& model) = 0;
    virtual std::optional<std::string> ReadWeather(TModel& model) = 0;
    // The climatology of simulated weather.
    virtual std::optional<std::string> ReadClimatology(TModel& model) = 0;
    // The climatology that fills the soil-temperature gaps of the record
    // `weatherName`: its name, or an empty one when none was read (the run
    // then goes on with the climatology the model holds), or KelmarError.
    virtual std::string ReadGapClimatology(TModel& model, const std::string& weatherName) = 0;
};

struct SequenceOutcome {
    bool Ran = false;                            // the last run was made
    RunOutcome Outcome = RunOutcome::Completed;  // of the last run
};

// For callers without a window to show it in (a batch's site, Python):
// raises the climatology error a finished sequence reports as an outcome.
void RaiseIfClimatologyError(const SequenceOutcome& outcome);

// Weather from file (model.Settings.InpDat set by the caller): the site, the
// record, its check, a first run that counts the record's years, a
// climatology only when a stored soil temperature is missing, its check
// (a refusal clears the counting run), then the run that stays, under
// `scenario` when one is given.
SequenceOutcome RunFromWeatherSequence(TModel& model, RunSources& sources, const TScenario* scenario = nullptr);

// Simulated weather: the site, the climatology, its check, then the run,
// under `scenario` when one is given.
SequenceOutcome RunSimulatedSequence(TModel& model, RunSources& sources, const TScenario* scenario = nullptr);

// RunModel under `scenario` (none: RunModel itself). The scenario is checked
// (KelmarError), then applied to the climatology and, with weather from
// file, to the record; the run's results stay, while the climatology, the
// record and the settings are given back as they were read, so that what
// is shown and saved of them is never the changed copy.
RunOutcome RunUnderScenario(TModel& model, Notifier& notifier, const TScenario* scenario);

}  // namespace kelmar
