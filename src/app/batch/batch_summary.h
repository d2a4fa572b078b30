// The summaries of a batch run with --summary: per site and scenario, across
// its replicates, the rows `simulate --summary` writes for one site:
//   summary_monthly.csv  site_id,scenario,month,variable,n,mean,sd,p05,p25,p50,p75,p95
//                        per month of the year and variable, over every year of every replicate
//   summary_annual.csv   site_id,scenario,year,variable,n,...
//                        per year and variable, the annual values over the replicates
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "model/model_state.h"
#include "numerics/summary_statistics.h"

namespace kelmar::batch {

// The values of one site under one scenario, gathered replicate by
// replicate as the writer takes them, then summarised: memory holds one
// site and scenario's replicates (about 0.45 MB per 500-year replicate).
class ReplicateSummaries {
public:
    // `expected`: the replicates a site and scenario usually has, so that
    // their values are held without growing (and copying) the groups.
    explicit ReplicateSummaries(int expected = 1) : Expected(std::max(expected, 1)) {}
    // Forgets what was added.
    void Clear();
    // Adds the results of the next replicate (every replicate of a site runs
    // the same years).
    void Add(const TModel& model);
    bool Empty() const { return Replicates == 0; }
    // Appends the rows of what was added; `rowStart` is "site_id,scenario,"
    // as CSV text.
    void Append(std::string_view rowStart, std::string& monthly, std::string& annual);

private:
    int Expected = 1;
    int Replicates = 0;
    int Years = 0;
    std::vector<int> YearOf;                   // calendar year of year index 1..Years
    std::vector<std::vector<double>> ByMonth;  // [field * 12 + month - 1]: replicate r's years at r * Years
    std::vector<Moments> MonthMoments;         // of each ByMonth group, merged replicate by replicate
    std::vector<std::vector<double>> ByYear;   // [field * Years + index - 1]: replicate r at r
};

}  // namespace kelmar::batch
