// The summary of a sample across an ensemble: count, mean, standard
// deviation and five percentiles.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace kelmar {

// The percentiles of a summary, as probabilities.
inline constexpr std::array<double, 5> SUMMARY_PROBABILITIES = {0.05, 0.25, 0.50, 0.75, 0.95};

struct SampleSummary {
    std::size_t Count = 0;
    double Mean = 0;
    double Sd = 0;        // sample standard deviation (divisor n - 1); 0 below two values
    std::array<double, 5> Percentiles{};  // at SUMMARY_PROBABILITIES
};

// The p-quantile (0 <= p <= 1) of a sorted sample by linear interpolation
// between order statistics: with h = (n - 1) p, x[floor h] + (h - floor h)
// (x[floor h + 1] - x[floor h]) (Hyndman and Fan's definition 7, the default
// of R's quantile and of NumPy's percentile). `sorted` must not be empty.
double SortedQuantile(const std::vector<double>& sorted, double p);

// Count, mean, sum of squared deviations (M2) and range of a sample, made
// from its pieces: each piece in two passes, pieces joined by the pairwise
// formula of Chan, Golub and LeVeque, so that a large sample's moments are
// taken while its pieces are still in the cache.
struct Moments {
    std::size_t Count = 0;
    double Mean = 0;
    double M2 = 0;
    double Low = 0;
    double High = 0;

    static Moments Of(const double* values, std::size_t count);
    void Merge(const Moments& piece);
};

// The summary of `values` whose moments are known already.
SampleSummary Summarize(std::span<double> values, const Moments& moments);

// The summary of `values` (not empty), whose order it may change: the
// percentiles in O(n) time (a histogram locates each one, a selection
// within its bin finds it), with the very values SortedQuantile gives on
// the sorted sample. The mean and the deviation are taken in two passes,
// for accuracy with large means.
SampleSummary Summarize(std::span<double> values);

}  // namespace kelmar
