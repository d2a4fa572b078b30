#include "app/batch/task_cursor.h"

#include <algorithm>
#include <utility>

namespace kelmar::batch {

TaskCursor::TaskCursor(const SiteListFile& list, std::vector<std::int64_t> pending, std::int64_t chunkSites,
                       const ScenarioList* scenarios, int realizations, bool estimateClimate)
    : List(list),
      Pending(std::move(pending)),
      ChunkSites(chunkSites),
      Scenarios(scenarios),
      Realizations(std::max(realizations, 1)),
      EstimateClimate(estimateClimate),
      ScenarioCount(scenarios ? static_cast<int>(scenarios->Scenarios.size()) : 1),
      NextSite(Pending.empty() ? 0 : Pending.front() * chunkSites) {}

bool TaskCursor::Next(Task& task) {
    if (NextChunk == Pending.size()) return false;
    const std::int64_t c = Pending[NextChunk];
    const std::int64_t first = c * ChunkSites;
    const std::int64_t end = std::min(List.Count(), first + ChunkSites);
    const bool firstOfSite = NextScenario == 0 && NextReplicate == 0;
    if (NextSite == first && firstOfSite) Block = List.ReadBlock(c);
    SiteEntry& entry = Block[static_cast<std::size_t>(NextSite - first)];
    // Observed weather has one realization.
    const int replicates = entry.WeatherFile.empty() || EstimateClimate ? Realizations : 1;
    task.FirstOfSite = firstOfSite;
    task.LastOfScenario = NextReplicate + 1 == replicates;
    task.LastOfSite = NextScenario + 1 == ScenarioCount && task.LastOfScenario;
    task.Scenario = NextScenario;
    task.Replicate = NextReplicate;
    task.Changes = Scenarios ? &Scenarios->Scenarios[static_cast<std::size_t>(NextScenario)] : nullptr;
    task.ScenarioName = task.Changes ? &task.Changes->Name : &NO_SCENARIO;
    // The site's last task takes its entry; the others copy it.
    if (task.LastOfSite)
        task.Site = std::move(entry);
    else
        task.Site = entry;
    task.Chunk = c;
    task.ChunkSiteCount = end - first;
    task.Index = NextSite;
    task.First = NextSite == first && firstOfSite;
    task.Last = NextSite + 1 == end && task.LastOfSite;
    if (!task.LastOfSite) {
        if (++NextReplicate == replicates) {
            NextReplicate = 0;
            ++NextScenario;
        }
    } else {
        NextScenario = NextReplicate = 0;
        if (!task.Last)
            ++NextSite;
        else if (++NextChunk < Pending.size())
            NextSite = Pending[NextChunk] * ChunkSites;
    }
    return true;
}

}  // namespace kelmar::batch
