// The summary of a sample across an ensemble: count, mean, standard
// deviation and five percentiles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// The count, mean and standard deviation of a summary from the moments,
// without percentiles.
SampleSummary MomentsSummary(const Moments& moments);

// The summary of `values` whose moments are known already.
SampleSummary Summarize(std::span<double> values, const Moments& moments);

// The summary of `values` (not empty), whose order it may change: the
// percentiles in O(n) time (a histogram locates each one, a selection
// within its bin finds it), with the very values SortedQuantile gives on
// the sorted sample. The mean and the deviation are taken in two passes,
// for accuracy with large means.
SampleSummary Summarize(std::span<double> values);

// The exact percentiles (as SortedQuantile gives them) of a sample too large
// to keep whole, seen piece by piece. Bins fixed beforehand over the range
// of a pilot part of the sample are grouped into windows, one around where
// the pilot puts each percentile, and the gaps between them; a value in a
// window is kept, a value in a gap only counted. The order statistic a
// percentile needs lies in a window when the pilot was like the rest, and
// is then selected from the window's values; when it lies in a gap,
// Percentiles says so and the caller must find it from the whole sample.
// Parts of the sample seen separately (by threads) are joined with Merge;
// the result depends neither on the order of the values nor of the parts.
class BinnedPercentiles {
public:
    // Bins over the span of the pilot's windows: their segments (a byte
    // each) stay in the first-level cache while a piece is added, and a
    // bin's width adds little to the values kept.
    static constexpr std::size_t BINS = 1024;

    BinnedPercentiles() = default;
    // Plans the windows from `pilot` (not empty; its order may change).
    explicit BinnedPercentiles(std::span<double> pilot);

    // The same plan with nothing counted: for another part of the sample,
    // with room for `expected` values in the windows' shares of the values
    // added so far (and a quarter more), so that the kept values are not
    // moved as they grow. Room not written to takes no memory.
    BinnedPercentiles EmptyCopy(std::size_t expected = 0) const;

    void Add(std::span<const double> values);
    void Merge(BinnedPercentiles&& part);

    std::size_t Count() const;
    // Values kept, of Count().
    std::size_t Kept() const;

    // The percentiles at SUMMARY_PROBABILITIES of every value added, or none
    // when one of them lies in a gap. May reorder the kept values. Needs at
    // least one value.
    std::optional<std::array<double, 5>> Percentiles();

private:
    double low_ = 0;
    double scale_ = 0;  // bins per unit of the value
    // The segment of each bin, in the order of the values: gap 0, window 0,
    // gap 1, ..., window W - 1, gap W (even: gap j at 2 j, odd: window w at
    // 2 w + 1).
    std::vector<std::uint8_t> segmentOf_;
    std::vector<std::uint64_t> gapCounts_;   // W + 1
    std::vector<std::vector<double>> kept_;  // W
};

}  // namespace kelmar
