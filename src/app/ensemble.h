// An ensemble: one site's simulated weather run again and again, each
// replicate on its own stream of the random source, with the replicates'
// tables or their summaries written to a folder.
//
// Replicate r (from 0) draws from stream r of the base seed
// (app/random_streams.h: a jump of the generator, not as many draws), so replicate 0 is the
// single run of `simulate --seed S`, every replicate is the same whatever
// the jobs or the order, and with lcg32 replicate r is the single run of
// `simulate --seed S_r` with S_r its state (written in annual.csv).
//
// The folder holds
//   ensemble.txt            program version, generator name and version, base seed, replicates, scenario;
//                           start_year and run_years when the simulated years are not 1 and 500
//   monthly.csv annual.csv  every replicate (without summary):
//                           site_id,scenario,replicate,year,month,<fields> / site_id,scenario,replicate,year,<fields>,seed
//   summary_monthly.csv     (with summary) per month of the year and variable, over every year and replicate:
//                           site_id,scenario,month,<SUMMARY_FIELDS> (batch/batch_summary.h)
//   summary_annual.csv      (with summary) per year and variable, the annual values over the replicates:
//                           site_id,scenario,year,<SUMMARY_FIELDS>
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "model/model_state.h"
#include "model/scenario.h"
#include "numerics/summary_statistics.h"

namespace kelmar {

struct EnsembleOptions {
    int Replicates = 1;
    RandomKind Rng = RandomKind::Lcg32;
    std::uint64_t Seed = 0;     // base seed; at most 2^32 - 1 with lcg32
    int Jobs = 0;               // threads; 0: every core the process may use
    bool Summary = false;       // the summaries instead of every replicate's table
    std::string SiteId;         // the site column
    std::string ScenarioName;   // the scenario column
    std::string OutDir;
    std::string Version;        // of the program, for ensemble.txt
    // Set by the caller to stop the summaries: the replicates under way
    // end, none starts, and SummarizeReplicates raises Cancelled.
    const std::atomic<bool>* Stop = nullptr;
    // Significant digits of the tables' numbers (1..17); 0: the shortest
    // text that reads back to the same double.
    int CsvDigits = 0;
};

// Runs the replicates of `prepared`, a model whose site and climatology were
// read and checked for a simulated run (its random source is not used; its
// Settings.SimulatedYearBeg and SimulatedYears are every replicate's), under
// `scenario` when given, and writes the folder. Raises KelmarError for more
// lcg32 replicates than the generator's period holds apart (19,881), a run
// that fails, and a file that cannot be written.
void RunEnsemble(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options);

// The scenario column of an ensemble's tables: the scenario's name, its
// description when it has none, "none" without a scenario.
std::string ScenarioColumn(const TScenario* scenario);

// The same replicates into memory instead of a folder (OutDir, Version and
// Summary are not used), for the Python module: what monthly.csv and
// annual.csv, or the summaries, hold, as numbers.

// Receives each replicate's run, in the model that ran it; called from the
// worker threads, once per replicate, in no particular order and for
// several replicates at a time. `seed` is the seed column of annual.csv.
class ReplicateSink {
public:
    virtual ~ReplicateSink() = default;
    virtual void Take(int replicate, const TModel& model, std::uint64_t seed) = 0;
};

// Runs every replicate into `sink`; the checks and errors of RunEnsemble.
void RunReplicates(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                   ReplicateSink& sink);

// What summary_monthly.csv and summary_annual.csv hold, by field in
// RESULT_FIELDS order.
struct EnsembleSummaries {
    int Years = 0;                       // of each replicate
    std::vector<SampleSummary> ByMonth;  // [field * 12 + month - 1]: every year of every replicate
    std::vector<SampleSummary> ByYear;   // [field * Years + year index - 1]: the replicates' annual values
    std::vector<int> YearOf;             // calendar year of year index 1..Years ([0] unused)
};

// Runs every replicate and summarises them; the checks and errors of RunEnsemble.
EnsembleSummaries SummarizeReplicates(const TModel& prepared, const TScenario* scenario,
                                      const EnsembleOptions& options);

}  // namespace kelmar
