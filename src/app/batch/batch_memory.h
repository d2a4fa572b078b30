// A batch into memory: the sites of a list run on all cores with the seed
// rule of the batch, each site's records kept for the caller (the Python
// module makes its tables from them) instead of written to parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/site_list.h"
#include "app/climate_estimate.h"
#include "app/progress.h"
#include "app/random_streams.h"
#include "model/model_state.h"
#include "numerics/random_source.h"

namespace kelmar::batch {

// The random state site `index` of a list (from 0) starts with: its own seed
// column, or the start of its stream of the base seed (lcg32, no replicates).
inline std::uint32_t SiteSeed(const SiteEntry& site, std::uint32_t baseSeed, std::uint64_t index) {
    const auto place = site.Seed ? std::nullopt : std::optional<std::uint64_t>(index);
    return static_cast<std::uint32_t>(streams::StreamSeed(RandomKind::Lcg32, site.Seed.value_or(baseSeed),
                                                          streams::StreamIndex(place, 1, 0)));
}

// One site's run: its records of year indices 1..years (twelve months, then
// the annual record, per year), or the message of its failure.
struct SiteRecords {
    std::uint32_t Seed = 0;
    bool Failed = false;
    std::string Error;  // as errors.csv holds it: the reason, then the line of the list
    std::vector<TResultRecord> Monthly;
    std::vector<TResultRecord> Annual;
};

// Runs every site of `list` on `jobs` threads (0: every core), site k with
// SiteSeed(site, baseSeed, firstIndex + k), so that a part of a list placed
// at `firstIndex` gives the numbers of the whole list. A failed site does
// not stop the others. Touches no file but the sites' inputs. Reports to
// `onProgress` as a batch does (progress.h; Before is 0, sites finish in
// any order): when it asks to stop, the sites not started are not run and
// Cancelled is raised once those in flight have ended. Simulated-weather
// sites run `runYears` years from the calendar year `startYear`
// (ValidateSimulatedYears refuses them otherwise, for each such site).
// With `estimate`, the sites with a weather_file run simulated weather from
// the climatology estimated from their record (site_run.h).
std::vector<SiteRecords> RunSitesInMemory(const SiteList& list, std::uint32_t baseSeed, std::uint64_t firstIndex,
                                          int jobs, const ProgressCallback& onProgress = {},
                                          std::int32_t startYear = 1, std::int32_t runYears = MAX_YEARS,
                                          const ClimateEstimate* estimate = nullptr);

}  // namespace kelmar::batch
