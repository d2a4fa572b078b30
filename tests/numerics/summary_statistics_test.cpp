// The ensemble summary: percentiles by Hyndman and Fan's definition 7,
// against NumPy's percentile (method "linear", NumPy 1.24) on known data.
#include "numerics/summary_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

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

// Orders that make a selection's pivots poor or its partitions lopsided:
// still the sorted sample's values, in linear time (a quadratic selection
// of 100,001 values would take minutes).
TEST(SummaryStatistics, SelectionEqualsSortingOnOrderedAndRepeatedValues) {
    const struct {
        const char* name;
        double (*value)(std::size_t i, std::size_t n);
    } shapes[] = {
        {"ascending", [](std::size_t i, std::size_t) { return static_cast<double>(i); }},
        {"descending", [](std::size_t i, std::size_t n) { return static_cast<double>(n - i); }},
        {"organ pipe", [](std::size_t i, std::size_t n) { return static_cast<double>(i < n / 2 ? i : n - i); }},
        {"two values", [](std::size_t i, std::size_t) { return i % 2 ? 1.5 : -0.5; }},
        {"one value in 97 apart", [](std::size_t i, std::size_t) { return i % 97 ? 0.0 : static_cast<double>(i); }},
    };
    for (const auto& shape : shapes)
        for (std::size_t n : {40u, 4095u, 100001u}) {
            std::vector<double> values(n);
            for (std::size_t i = 0; i < n; ++i) values[i] = shape.value(i, n);
            std::vector<double> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            const SampleSummary s = Summarize(values);
            for (std::size_t q = 0; q < 5; ++q)
                EXPECT_EQ(s.Percentiles[q], SortedQuantile(sorted, SUMMARY_PROBABILITIES[q]))
                    << shape.name << ", " << n << " values, percentile " << SUMMARY_PROBABILITIES[q] * 100;
        }
}

// Binned percentiles: a pilot's bins, the sample added in pieces to two
// parts that are merged, and either the very values of the sorted sample or
// none, never another value.
TEST(BinnedPercentiles, GivesTheSortedSamplesValuesOrSaysItMissed) {
    enum class Expect { Exact, ExactOrMissed, Missed };
    const struct {
        const char* name;
        double (*draw)(RandomSource&, std::size_t i);  // value i of the sample
        double (*pilot)(RandomSource&, std::size_t i);  // value i of a pilot unlike the sample, or none
        Expect expect;
    } cases[] = {
        {"normal", [](RandomSource& r, std::size_t) { return r.NormalDeviate(1, 0); }, nullptr, Expect::Exact},
        // A frozen forest floor: a third of the values exactly zero, the
        // rest on either side; and a lognormal tail.
        {"ties and a tail",
         [](RandomSource& r, std::size_t i) {
             return i % 3 == 0 ? 0.0 : i % 3 == 1 ? r.NormalDeviate(3, 1) : std::exp(r.NormalDeviate(2, 0));
         },
         nullptr, Expect::Exact},
        {"one value", [](RandomSource&, std::size_t) { return -1.25; }, nullptr, Expect::Exact},
        // Values far beyond the pilot's range go to its end bins.
        {"wider than the pilot", [](RandomSource& r, std::size_t) { return r.NormalDeviate(1, 0); },
         [](RandomSource& r, std::size_t) { return r.NormalDeviate(0.2, 0); }, Expect::ExactOrMissed},
        {"pilot shifted away",
         [](RandomSource& r, std::size_t) { return r.NormalDeviate(1, 0); },
         [](RandomSource& r, std::size_t) { return r.NormalDeviate(1, 10); }, Expect::Missed},
        {"pilot of one value", [](RandomSource& r, std::size_t) { return r.NormalDeviate(1, 0); },
         [](RandomSource&, std::size_t) { return 0.0; }, Expect::ExactOrMissed},
    };
    constexpr std::size_t PILOT = 8000, N = 200000, PIECE = 500;
    for (const auto& c : cases) {
        RandomSource random(2024);
        std::vector<double> values(N);
        for (std::size_t i = 0; i < N; ++i) values[i] = c.draw(random, i);
        std::vector<double> pilot(values.begin(), values.begin() + PILOT);
        if (c.pilot)
            for (std::size_t i = 0; i < PILOT; ++i) pilot[i] = c.pilot(random, i);
        const BinnedPercentiles plan(pilot);
        BinnedPercentiles whole = plan.EmptyCopy(), odd = plan.EmptyCopy();
        for (std::size_t at = 0; at < N; at += PIECE)
            ((at / PIECE) % 2 ? odd : whole).Add(std::span<const double>(values).subspan(at, PIECE));
        whole.Merge(std::move(odd));
        ASSERT_EQ(whole.Count(), N) << c.name;
        const std::size_t kept = whole.Kept();
        const auto percentiles = whole.Percentiles();

        std::sort(values.begin(), values.end());
        if (c.expect == Expect::Missed) {
            EXPECT_FALSE(percentiles) << c.name << ": percentiles found from bins that do not hold them";
            continue;
        }
        if (c.expect == Expect::Exact) {
            ASSERT_TRUE(percentiles) << c.name << ": the pilot's bins missed a percentile";
            // A value repeated over the ranks of a percentile is kept each
            // time; values spread out are mostly only counted.
            if (std::string(c.name) == "normal") {
                EXPECT_LT(kept, N / 4) << c.name << ": kept " << kept << " of " << N << " values";
            }
        }
        if (!percentiles) continue;
        for (std::size_t q = 0; q < 5; ++q)
            EXPECT_EQ((*percentiles)[q], SortedQuantile(values, SUMMARY_PROBABILITIES[q]))
                << c.name << ", percentile " << SUMMARY_PROBABILITIES[q] * 100;
    }
}

// A sample smaller than its pilot, down to one value: the order statistics
// an interpolation needs next to each other, at the sample's ends.
TEST(BinnedPercentiles, SmallSamplesAfterALargePilot) {
    RandomSource random(7);
    std::vector<double> pilot(5000);
    for (double& v : pilot) v = random.NormalDeviate(1, 0);
    const BinnedPercentiles plan(pilot);
    for (const std::vector<double>& sample :
         {std::vector<double>{0.1}, std::vector<double>{0.3, -0.2}, std::vector<double>{0.5, 0.5, -0.1, 0.0, 0.2}}) {
        BinnedPercentiles binned = plan.EmptyCopy();
        binned.Add(sample);
        std::vector<double> sorted = sample;
        std::sort(sorted.begin(), sorted.end());
        const auto percentiles = binned.Percentiles();
        if (!percentiles) continue;  // values outside the windows: allowed, never wrong
        for (std::size_t q = 0; q < 5; ++q)
            EXPECT_EQ((*percentiles)[q], SortedQuantile(sorted, SUMMARY_PROBABILITIES[q]))
                << sample.size() << " values, percentile " << SUMMARY_PROBABILITIES[q] * 100;
    }
}

}  // namespace
}  // namespace kelmar
