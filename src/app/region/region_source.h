// Where RegionBatch takes its numbers from: results.nc through the netCDF
// module, or the CSV tables streamed. Each gives per-site means of one
// variable over a period for a few tasks (scenario, realization) at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/batch/batch_records.h"
#include "app/region/region_batch.h"

namespace kelmar::region {

struct RegionTask {
    int Scenario = 0;     // index into the contents' scenarios (0 without any)
    int Realization = 0;  // from 0
};

// The months of a period: years [FirstYear, LastYear], months each once, 1..12.
struct RegionPeriod {
    std::int32_t FirstYear = 0, LastYear = 0;
    std::vector<int> Months;
};

class RegionSource {
public:
    virtual ~RegionSource() = default;
    virtual const RegionContents& Contents() const = 0;
    // Ids and positions of every site, in the batch's order (NaN where unknown).
    virtual const std::vector<std::string>& Ids() const = 0;
    virtual const std::vector<double>& Lats() const = 0;
    virtual const std::vector<double>& Lons() const = 0;
    // [task][site]: the mean of `variable` (index of Contents().Variables)
    // over the months of `period` that the site has; NaN where it has none.
    virtual std::vector<std::vector<double>> Means(int variable, const std::vector<RegionTask>& tasks,
                                                   const RegionPeriod& period) = 0;
    virtual RegionSite Site(std::int64_t index) = 0;
    virtual RegionCourse Course(std::int64_t index, const RegionTask& task) = 0;
    virtual std::uint64_t ValuesRead() const { return 0; }
    // The program_version the results file records; empty for the CSV tables.
    virtual std::string ResultsVersion() const { return {}; }
};

// results.nc and results_annual.nc of `dir`.
std::unique_ptr<RegionSource> NetcdfSource(const std::string& dir);
// monthly.csv and annual.csv of `dir`, with the ids and positions of the
// site list `sitesFile` that ran as the batch `manifest`.
std::unique_ptr<RegionSource> CsvSource(const std::string& dir, const batch::Manifest& manifest,
                                        const std::string& sitesFile);

}  // namespace kelmar::region
