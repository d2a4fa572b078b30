// The summaries of a batch run with --summary: per site and scenario, across
// its replicates, the rows `simulate --summary` writes for one site:
//   summary_monthly.csv  site_id,scenario,month,<SUMMARY_FIELDS>
//                        per month of the year and variable, over every year of every replicate
//   summary_annual.csv   site_id,scenario,year,<SUMMARY_FIELDS>
//                        per year and variable, the annual values over the replicates
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model_state.h"
#include "numerics/summary_statistics.h"

namespace kelmar::batch {

// A column of the summary tables after site_id, scenario and the month or
// year: the one table of them, which the tables' header, the Python
// module's tables and its package's DataFrames follow.
enum class SummaryFieldKind {
    Variable,  // the results column summarised, by its name in monthly.csv (batch_tables.h: ColumnName)
    Count,     // values summarised
    Number,    // a statistic, in the variable's unit
};

struct SummaryField {
    const char* Name;
    SummaryFieldKind Kind;
    const char* Meaning;
    // A statistic's value; nothing where the table's field is empty.
    std::optional<double> (*Number)(const SampleSummary& summary);
};

static_assert(SUMMARY_PROBABILITIES.size() == 5, "SUMMARY_FIELDS names the percentiles p05 to p95");
inline constexpr std::array<SummaryField, 9> SUMMARY_FIELDS = {{
    {"variable", SummaryFieldKind::Variable, "the results column summarised", nullptr},
    {"n", SummaryFieldKind::Count, "values summarised", nullptr},
    {"mean", SummaryFieldKind::Number, "mean", [](const SampleSummary& s) { return std::optional<double>(s.Mean); }},
    {"sd", SummaryFieldKind::Number, "sample standard deviation (n - 1); empty for one value",
     [](const SampleSummary& s) { return s.Count > 1 ? std::optional<double>(s.Sd) : std::nullopt; }},
    // At SUMMARY_PROBABILITIES, by linear interpolation between order statistics.
    {"p05", SummaryFieldKind::Number, "5th percentile",
     [](const SampleSummary& s) { return std::optional<double>(s.Percentiles[0]); }},
    {"p25", SummaryFieldKind::Number, "25th percentile",
     [](const SampleSummary& s) { return std::optional<double>(s.Percentiles[1]); }},
    {"p50", SummaryFieldKind::Number, "median",
     [](const SampleSummary& s) { return std::optional<double>(s.Percentiles[2]); }},
    {"p75", SummaryFieldKind::Number, "75th percentile",
     [](const SampleSummary& s) { return std::optional<double>(s.Percentiles[3]); }},
    {"p95", SummaryFieldKind::Number, "95th percentile",
     [](const SampleSummary& s) { return std::optional<double>(s.Percentiles[4]); }},
}};

// "variable,n,mean,...,p95": the names of SUMMARY_FIELDS.
std::string SummaryFieldNames();

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
    // The numbers have `digits` significant digits (0: the shortest form).
    void Append(std::string_view rowStart, std::string& monthly, std::string& annual, int digits = 0);

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
