// The ensemble summary: percentiles by Hyndman and Fan's definition 7,
// against NumPy's percentile (method "linear", NumPy 1.24) on known data.
#include "numerics/summary_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "numerics/random_source.h"

namespace kelmar {
namespace {

TEST(SummaryStatistics, MatchesTheReferenceOnKnownData) {
    const struct {
        const char* name;
        std::vector<double> values;
        double mean, sd;
        std::array<double, 5> percentiles;  // NumPy's
    } cases[] = {
        {"eleven values, ties, unsorted", {3.2, -1.5, 7.7, 0.0, 2.2, 9.1, -4.4, 5.5, 1.1, 6.6, 2.2},
         2.881818181818182, 4.090187815203156, {-2.95, 0.55, 2.2, 6.05, 8.4}},
        {"four values", {40, 10, 30, 20}, 25, 12.909944487358056, {11.5, 17.5, 25, 32.5, 38.5}},
        {"one value", {7}, 7, 0, {7, 7, 7, 7, 7}},
        {"5,000 equal values", std::vector<double>(5000, -1.25), -1.25, 0, {-1.25, -1.25, -1.25, -1.25, -1.25}},
    };
    for (const auto& c : cases) {
        std::vector<double> values = c.values;
        const SampleSummary s = Summarize(values);
        EXPECT_EQ(s.Count, c.values.size()) << c.name;
        EXPECT_NEAR(s.Mean, c.mean, 1e-12) << c.name;
        EXPECT_NEAR(s.Sd, c.sd, 1e-12) << c.name;
        for (std::size_t q = 0; q < 5; ++q)
            EXPECT_NEAR(s.Percentiles[q], c.percentiles[q], 1e-12)
                << c.name << ", percentile " << SUMMARY_PROBABILITIES[q] * 100;
    }
}

// Selection gives the very values of the sorted sample, for every size
// around the percentiles' positions.
TEST(SummaryStatistics, SelectionEqualsSorting) {
    RandomSource random(12345);
    // Past 4,095 values a histogram finds the percentiles; a sample with
    // long runs of one value (a frozen or saturated soil) and a lognormal
    // tail puts many values into few bins.
    for (std::size_t n : {2u, 3u, 19u, 20u, 21u, 101u, 4095u, 4096u, 100001u}) {
        std::vector<double> values(n);
        for (std::size_t i = 0; i < n; ++i)
            values[i] = i % 3 == 0 ? 0.0 : i % 3 == 1 ? random.NormalDeviate(3, 1) : std::exp(random.NormalDeviate(2, 0));
        values[n / 2] = values[0];  // a tie
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const SampleSummary s = Summarize(values);
        for (std::size_t q = 0; q < 5; ++q)
            EXPECT_EQ(s.Percentiles[q], SortedQuantile(sorted, SUMMARY_PROBABILITIES[q]))
                << n << " values, percentile " << SUMMARY_PROBABILITIES[q] * 100;
    }
}

}  // namespace
}  // namespace kelmar
