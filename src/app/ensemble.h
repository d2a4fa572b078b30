// An ensemble: one site's simulated weather run again and again, each
// replicate on its own stream of the random source, with the replicates'
// tables or their summaries written to a folder.
//
// Replicate r (from 0) starts UNIFORMS_PER_SITE * r uniforms after the base
// seed (a jump of the generator, not as many draws), so replicate 0 is the
// single run of `simulate --seed S`, every replicate is the same whatever
// the jobs or the order, and with lcg32 replicate r is the single run of
// `simulate --seed S_r` with S_r its state (written in annual.csv).
//
// The folder holds
//   ensemble.txt            program version, generator name and version, base seed, replicates, scenario
//   monthly.csv annual.csv  every replicate (without summary):
//                           site_id,scenario,replicate,year,month,<fields> / site_id,scenario,replicate,year,<fields>,seed
//   summary_monthly.csv     (with summary) per month of the year and variable, over every year and replicate:
//                           site_id,scenario,month,variable,n,mean,sd,p05,p25,p50,p75,p95
//   summary_annual.csv      (with summary) per year and variable, the annual values over the replicates:
//                           site_id,scenario,year,variable,n,mean,sd,p05,p25,p50,p75,p95
#pragma once

#include <cstdint>
#include <string>

#include "model/model_state.h"
#include "model/scenario.h"

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
};

// Runs the replicates of `prepared`, a model whose site and climatology were
// read and checked for a simulated run (its random source is not used), under
// `scenario` when given, and writes the folder. Raises KelmarError for more
// lcg32 replicates than the generator's period holds apart (19,881), a run
// that fails, and a file that cannot be written.
void RunEnsemble(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options);

// The random state replicate `replicate` starts from.
void StartReplicate(RandomSource& random, RandomKind kind, std::uint64_t seed, int replicate);

}  // namespace kelmar
