// One site of a batch, run with the same sequence of reads, checks and runs
// as `kelmar-cli simulate`, so that a site run alone with its seed gives the
// same numbers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/batch/site_list.h"
#include "app/climate_estimate.h"
#include "io/weather_table.h"
#include "model/model_state.h"
#include "model/scenario.h"
#include "numerics/random_source.h"

namespace kelmar {
class ClimatologyTable;
}  // namespace kelmar

namespace kelmar::batch {

// The tidy weather and climatology tables the sites name, each read once,
// when the first site that needs it runs; safe to use from several threads.
class WeatherTables {
public:
    // The table of `fileName`; raises the KelmarError its reading gave
    // (again for every site that names it).
    const WeatherTable& Get(const std::string& fileName);
    const ClimatologyTable& Climatology(const std::string& fileName);

    // Why sites of the grid (--grid) have no record, by id: set before the
    // runs start, only read while they run.
    std::map<std::string, std::string> GridFaults;

private:
    template <typename Table>
    struct Entry {
        std::shared_ptr<const Table> Read;
        std::string Error;
    };
    std::mutex Lock;
    std::map<std::string, Entry<WeatherTable>> Tables;
    std::map<std::string, Entry<ClimatologyTable>> Climatologies;
};

// Runs `site` into `model` (a model as made, or cleared by the caller, its
// simulated years set by the caller: Settings.SimulatedYearBeg and
// SimulatedYears) with the random state `seed`. Raises KelmarError with the reader's or the
// run's message when a file is missing or bad or the run is refused.
// Unlike `simulate`, a record with soil-temperature gaps and no
// climate_file is refused rather than filled from an empty climatology.
void RunSite(TModel& model, const SiteEntry& site, std::uint32_t seed, WeatherTables& tables);

// The same with the random source `start` (either generator), under
// `scenario` when one is given (the sequence of `simulate --scenario`) and
// with the climatology estimated from the record when `estimate` is given.
void RunSite(TModel& model, const SiteEntry& site, const RandomSource& start, WeatherTables& tables,
             const TScenario* scenario, const ClimateEstimate* estimate = nullptr);

}  // namespace kelmar::batch
