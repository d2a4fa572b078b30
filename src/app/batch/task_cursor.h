// The input of a batch: the tasks of the chunks a process runs, one at a
// time, in list order. Site i of the list runs as the tasks (i, s, r),
// scenario by scenario and within it replicate by replicate; a site of
// observed weather has replicate 0 alone. The sites are read from the list
// a chunk at a time, when the chunk's first task is asked for, so that
// memory does not grow with the list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/scenario_list.h"
#include "app/batch/site_list.h"
#include "model/scenario.h"

namespace kelmar::batch {

// The scenario column of the rows of a batch of replicates without a
// scenario list, as `simulate --replicates` writes it.
inline const std::string NO_SCENARIO = "none";

struct Task {
    SiteEntry Site;
    std::int64_t Index = 0;          // of the site in the list, from 0
    std::int64_t Chunk = 0;
    std::int64_t ChunkSiteCount = 0;  // sites of the chunk
    int Scenario = 0, Replicate = 0;
    const TScenario* Changes = nullptr;             // null: no scenario list
    const std::string* ScenarioName = &NO_SCENARIO;  // for the rows
    bool First = false, Last = false;                // of the chunk
    bool FirstOfSite = false, LastOfSite = false;
    bool LastOfScenario = false;  // the site's last replicate of its scenario
};

class TaskCursor {
public:
    // `pending`: the chunks to run, in list order, of `chunkSites` sites each
    // (fewer in the list's last). `scenarios` may be null; `realizations`
    // is the replicates of a simulated-weather site (at least 1).
    TaskCursor(const SiteListFile& list, std::vector<std::int64_t> pending, std::int64_t chunkSites,
               const ScenarioList* scenarios, int realizations, bool estimateClimate = false);

    // Sets `task` to the next task; false when none is left. Raises the
    // KelmarError of reading a chunk's sites (a list changed under the
    // batch).
    bool Next(Task& task);
    // Frees the sites of the chunk being read.
    void Release() { std::vector<SiteEntry>().swap(Block); }

private:
    const SiteListFile& List;
    const std::vector<std::int64_t> Pending;
    const std::int64_t ChunkSites;
    const ScenarioList* Scenarios;
    const int Realizations;
    // The sites with a weather_file run simulated weather (--estimate-climate)
    // and have every realization.
    const bool EstimateClimate;
    const int ScenarioCount;
    std::size_t NextChunk = 0;
    std::vector<SiteEntry> Block;  // the sites of the chunk being read
    std::int64_t NextSite = 0;
    int NextScenario = 0, NextReplicate = 0;  // the next task of NextSite
};

}  // namespace kelmar::batch
