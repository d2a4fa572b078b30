// The open commands: read the input files and run the whole simulation.
#pragma once

#include <string>

#include "app/workflow_view.h"
#include "model/model_state.h"
#include "model/run_model.h"
#include "model/scenario.h"
#include "model/weather_record.h"

namespace kelmar {

// The files a run read, by the names the readers formed (extension added or
// replaced); empty for a kind the run read no file of.
struct RunInputs {
    std::string site;
    std::string climatology;
    std::string weather;
};

struct OpenResult {
    bool ran = false;                   // the command reached its run(s)
    RunOutcome outcome = RunOutcome::Completed;  // of the last run
    std::string weatherFileName;        // file part of the weather file read (weather from file)
    // Weather from file: a climatology file was chosen for the soil-temperature
    // gaps but not found (the reader warned); the run went on without it.
    bool gapClimatologyNotFound = false;
    RunInputs read;                     // the files read on the way, for the save commands
};

// An observed record held in memory that a run takes in place of the
// weather file asked for (simulate --grid's record of a position), and the
// name the run's texts give it as they would a file's.
struct HeldWeather {
    WeatherRecord Record;
    std::string Name;
};

// Puts `held` into the model's weather store and years, as reading its file would.
void UseHeldWeather(TModel& model, const HeldWeather& held);

// Weather from file: site file, weather file, a first run that counts the
// years of the record, a climatology file only when a stored soil
// temperature is missing (below -99), then the run that stays. A record
// lacking the air temperature or precipitation of a month, a climatology
// lacking what fills the soil gaps, or a run that is not finite raises
// KelmarError. With `scenario`, the run that stays is made under it
// (app/run_sequence.h: RunUnderScenario). With `held`, that record is run
// instead of a weather file (none is asked for).
OpenResult OpenFilesFromWeather(TModel& model, WorkflowView& view, const TScenario* scenario = nullptr,
                                const HeldWeather* held = nullptr);

// Simulated weather: site file, climatology file, then 500 simulated years.
// A climatology lacking a coefficient of the generator raises KelmarError
// before the run. With `scenario`, the run is made under it.
OpenResult OpenFilesSimulated(TModel& model, WorkflowView& view, const TScenario* scenario = nullptr);

// "Generate file": weather file, then the climatology estimated from it. A
// record without a year of data, or an estimate that is not finite, raises
// KelmarError and keeps the climatology as it was; an estimate without some
// regression coefficient is kept with a warning.
bool GenerateClimatology(TModel& model, WorkflowView& view);

// The estimate of "Generate file" from the weather store already read from
// `recordName`: the checks and the warning described there.
void EstimateFromRecord(TModel& model, const std::string& recordName, Notifier& notifier);

// Readers that also tell the view what changed.
bool ReadSite(TModel& model, const std::string& fileName, WorkflowView& view);
bool ReadClimatology(TModel& model, const std::string& fileName, WorkflowView& view);
bool ReadWeather(TModel& model, const std::string& fileName, WorkflowView& view);

// The site file of a run, asked for in its dialog, read and shown; its name
// goes to `result`. False when the dialog is cancelled or the file refused.
bool AskAndReadSite(TModel& model, WorkflowView& view, OpenResult& result);

}  // namespace kelmar
