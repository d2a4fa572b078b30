// The open commands: read the input files and run the whole simulation.
#pragma once

#include <string>

#include "app/workflow_view.h"
#include "model/model_state.h"
#include "model/run_model.h"

namespace kelmar {

struct OpenResult {
    bool ran = false;                   // the command reached its run(s)
    RunOutcome outcome = RunOutcome::Completed;  // of the last run
    std::string weatherFileName;        // file part of the weather file read (weather from file)
};

// Weather from file: site file, weather file, a first run that counts the
// years of the record, a climatology file only when a stored soil
// temperature is missing (below -99), then the run that stays.
OpenResult OpenFilesFromWeather(TModel& model, WorkflowView& view);

// Simulated weather: site file, climatology file, then 500 simulated years.
OpenResult OpenFilesSimulated(TModel& model, WorkflowView& view);

// "Generate file": weather file, then the climatology estimated from it.
bool GenerateClimatology(TModel& model, WorkflowView& view);

// The smallest soil temperature stored for year indices 1..AvailableYears,
// starting from year 1, January (that value alone when no year is available).
double SmallestStoredSoilTemperature(const TModel& model);

// Readers that also tell the view what changed.
bool ReadSite(TModel& model, const std::string& fileName, WorkflowView& view);
bool ReadClimatology(TModel& model, const std::string& fileName, WorkflowView& view);
bool ReadWeather(TModel& model, const std::string& fileName, WorkflowView& view);

}  // namespace kelmar
