// One site of a batch, run with the same sequence of reads, checks and runs
// as `kelmar-cli simulate`, so that a site run alone with its seed gives the
// same numbers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/batch/site_list.h"
#include "io/weather_table.h"
#include "model/model_state.h"
#include "model/scenario.h"
#include "numerics/random_source.h"

namespace kelmar::batch {

// The tidy weather tables the sites name, each read once, when the first
// site that needs it runs; safe to use from several threads.
class WeatherTables {
public:
    // The table of `fileName`; raises the KelmarError its reading gave
    // (again for every site that names it).
    const WeatherTable& Get(const std::string& fileName);

private:
    struct Entry {
        std::shared_ptr<const WeatherTable> Table;
        std::string Error;
    };
    std::mutex Lock;
    std::map<std::string, Entry> Tables;
};

// Runs `site` into `model` (a model as made, or cleared by the caller, its
// simulated years set by the caller: Settings.SimulatedYearBeg and
// SimulatedYears) with the random state `seed`. Raises KelmarError with the reader's or the
// run's message when a file is missing or bad or the run is refused.
// Unlike `simulate`, a record with soil-temperature gaps and no
// climate_file is refused rather than filled from an empty climatology.
void RunSite(TModel& model, const SiteEntry& site, std::uint32_t seed, WeatherTables& tables);

// The same with the random source `start` (either generator) and under
// `scenario` when one is given: the sequence of `simulate --scenario`.
void RunSite(TModel& model, const SiteEntry& site, const RandomSource& start, WeatherTables& tables,
             const TScenario* scenario);

}  // namespace kelmar::batch
