// The netCDF output of a batch (results.nc and results_annual.nc), made
// from its values parts when they are joined. A values part holds, for each
// site of a chunk in list order, a record of the numbers themselves (never
// their text): a small header with the site's id, seed, position and years,
// the site parameters and the task's scenario it ran with, then the run's
// records of those years as they lie in memory. The files are written from
// them one site at a time through CfNetcdfWriter, so memory holds one block
// of sites whatever the size of the batch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/cf_netcdf.h"
#include "model/model_state.h"

namespace kelmar::batch {

// The header of a site's values record; `model` is the site's run, or null
// for a failed site (no years); the header carries the site parameters of
// `model` and the task's scenario `definition` (null: none) for the file's
// provenance. The record is this header followed by
// SiteValuesRecords of the same run.
// With scenarios or replicates each task of a site has its record, in task
// order, naming its `scenario` and `replicate`; `oneRealization` marks a
// site that has replicate 0 alone (observed weather).
std::string SiteValuesHeader(std::string_view siteId, std::uint32_t seed, std::optional<double> lat,
                             std::optional<double> lon, const TModel* model, int scenario = 0, int replicate = 0,
                             bool oneRealization = false, const TScenario* definition = nullptr);
// The bytes of the records of year indices 1..model.AvailableYears (each
// year's annual record and twelve months), pointing into `model`.
std::string_view SiteValuesRecords(const TModel& model);

// A task's site as the join reads it back from its values record: the id,
// position and seed, and the parameters of `model` (null for a failed run)
// through the record's numbers, so that a file written from the runs
// themselves holds what one joined from the values holds.
CfSite RecordedSite(std::string_view siteId, std::uint32_t seed, std::optional<double> lat, std::optional<double> lon,
                    const TModel* model);
// A scenario's definition as a values record carries it.
TScenario RecordedScenario(const TScenario& scenario);

// The values of one chunk: `Bytes` bytes of the part `Stream` from `Offset`,
// holding `Sites` records.
struct ChunkValues {
    std::string Stream;
    std::uint64_t Offset = 0;
    std::uint64_t Bytes = 0;
    std::int64_t Sites = 0;
};

// Writes `monthlyFile` and `annualFile` from the values of `chunks`, in their order, which must
// hold `siteCount` sites; the time axis spans `firstYear` to `lastYear` (the
// smallest and largest calendar year of all sites). A failed site is written
// without results, so the file's sites are the list's. `description` gives
// the title, source, program and seed; its site count and years are set
// here; its Scenarios and Realizations say which records each site has
// (one per scenario and replicate, one per scenario for a site of one
// realization, whose other realizations are written without results); the
// scenarios' definitions are taken from the records of the first site.
// Raises KelmarError naming the part and the byte where a part does
// not hold what the batch wrote there, and the writer's errors; the target
// is left as it was then.
void WriteNetcdfFromValues(const std::string& monthlyFile, const std::string& annualFile,
                           const std::vector<ChunkValues>& chunks, std::int64_t siteCount, std::int32_t firstYear,
                           std::int32_t lastYear, CfFileDescription description);

}  // namespace kelmar::batch
