#include "numerics/summary_statistics.h"

#include <algorithm>
#include <cmath>

namespace kelmar {

namespace {

// Position h = (n - 1) p split into its order statistic and fraction.
struct QuantilePosition {
    std::size_t Index;
    double Fraction;
};

QuantilePosition Position(std::size_t n, double p) {
    const double h = static_cast<double>(n - 1) * p;
    const double below = std::floor(h);
    const std::size_t index = std::min(static_cast<std::size_t>(below), n - 1);
    return {index, h - below};
}

double Interpolate(double lower, double upper, double fraction) {
    return fraction == 0 ? lower : lower + fraction * (upper - lower);
}

}  // namespace

double SortedQuantile(const std::vector<double>& sorted, double p) {
    const QuantilePosition at = Position(sorted.size(), p);
    const double upper = at.Index + 1 < sorted.size() ? sorted[at.Index + 1] : sorted[at.Index];
    return Interpolate(sorted[at.Index], upper, at.Fraction);
}

namespace {

// Below this many values the percentiles are selected directly.
constexpr std::size_t HISTOGRAM_FROM = 4096;
// Bins of the histogram that finds each percentile's neighbourhood: small
// enough to stay in the cache, many enough that a bin holds a few dozen of
// a million values.
constexpr std::size_t BINS = std::size_t{1} << 14;

// The percentiles by repeated selection on the part at and above the last
// one, which holds every value not below it.
void SelectPercentiles(std::span<double> values, SampleSummary& summary) {
    const std::size_t n = values.size();
    std::size_t from = 0;
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const QuantilePosition at = Position(n, SUMMARY_PROBABILITIES[q]);
        const auto nth = values.begin() + static_cast<std::ptrdiff_t>(at.Index);
        std::nth_element(values.begin() + static_cast<std::ptrdiff_t>(from), nth, values.end());
        const double upper = at.Fraction != 0 && at.Index + 1 < n ? *std::min_element(nth + 1, values.end()) : *nth;
        summary.Percentiles[q] = Interpolate(*nth, upper, at.Fraction);
        from = at.Index;
    }
}

// The order statistics the percentiles need, through a histogram: the bin of
// a value never decreases with the value, so the value of rank k lies in
// the bin where the running count passes k; only the values of those bins
// are then selected from. Linear passes instead of selections over the
// whole sample.
void HistogramPercentiles(std::span<const double> values, double low, double high, SampleSummary& summary) {
    const std::size_t n = values.size();
    if (low == high) {
        summary.Percentiles.fill(low);
        return;
    }
    const double scale = static_cast<double>(BINS) / (high - low);
    const auto binOf = [low, scale](double v) {
        return std::min(static_cast<std::size_t>((v - low) * scale), BINS - 1);
    };
    std::vector<std::size_t> counts(BINS, 0);
    for (const double v : values) ++counts[binOf(v)];

    // The ranks wanted and the bin of each, with the values before that bin.
    struct Wanted {
        std::size_t Rank, Bin, Before;
    };
    std::vector<Wanted> wanted;
    for (const double p : SUMMARY_PROBABILITIES) {
        const QuantilePosition at = Position(n, p);
        wanted.push_back({at.Index, 0, 0});
        if (at.Fraction != 0 && at.Index + 1 < n) wanted.push_back({at.Index + 1, 0, 0});
    }
    std::size_t bin = 0, before = 0;
    for (Wanted& w : wanted) {  // ranks ascend
        while (before + counts[bin] <= w.Rank) before += counts[bin++];
        w.Bin = bin;
        w.Before = before;
    }
    // At most ten bins are needed: each gets a slot of its own.
    std::vector<int> slotOf(BINS, -1);
    int slots = 0;
    for (const Wanted& w : wanted)
        if (slotOf[w.Bin] < 0) slotOf[w.Bin] = slots++;
    std::vector<std::vector<double>> inBin(static_cast<std::size_t>(slots));
    for (const double v : values) {
        const int slot = slotOf[binOf(v)];
        if (slot >= 0) inBin[static_cast<std::size_t>(slot)].push_back(v);
    }
    const auto rankValue = [&](std::size_t rank) {
        for (const Wanted& w : wanted)
            if (w.Rank == rank) {
                std::vector<double>& part = inBin[static_cast<std::size_t>(slotOf[w.Bin])];
                const auto nth = part.begin() + static_cast<std::ptrdiff_t>(rank - w.Before);
                std::nth_element(part.begin(), nth, part.end());
                return *nth;
            }
        return 0.0;  // every rank asked for is wanted
    };
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const QuantilePosition at = Position(n, SUMMARY_PROBABILITIES[q]);
        const double lower = rankValue(at.Index);
        const double upper = at.Fraction != 0 && at.Index + 1 < n ? rankValue(at.Index + 1) : lower;
        summary.Percentiles[q] = Interpolate(lower, upper, at.Fraction);
    }
}

}  // namespace

Moments Moments::Of(const double* values, std::size_t count) {
    Moments m;
    m.Count = count;
    if (count == 0) return m;
    double sum = 0;
    m.Low = m.High = values[0];
    for (std::size_t i = 0; i < count; ++i) {
        sum += values[i];
        m.Low = std::min(m.Low, values[i]);
        m.High = std::max(m.High, values[i]);
    }
    m.Mean = sum / static_cast<double>(count);
    for (std::size_t i = 0; i < count; ++i) m.M2 += (values[i] - m.Mean) * (values[i] - m.Mean);
    return m;
}

void Moments::Merge(const Moments& piece) {
    if (piece.Count == 0) return;
    if (Count == 0) {
        *this = piece;
        return;
    }
    const double n = static_cast<double>(Count), k = static_cast<double>(piece.Count);
    const double delta = piece.Mean - Mean;
    Mean += delta * k / (n + k);
    M2 += piece.M2 + delta * delta * n * k / (n + k);
    Count += piece.Count;
    Low = std::min(Low, piece.Low);
    High = std::max(High, piece.High);
}

SampleSummary Summarize(std::span<double> values, const Moments& moments) {
    SampleSummary summary;
    summary.Count = moments.Count;
    summary.Mean = moments.Mean;
    if (moments.Count > 1) summary.Sd = std::sqrt(moments.M2 / static_cast<double>(moments.Count - 1));
    if (values.size() < HISTOGRAM_FROM)
        SelectPercentiles(values, summary);
    else
        HistogramPercentiles(values, moments.Low, moments.High, summary);
    return summary;
}

SampleSummary Summarize(std::span<double> values) {
    return Summarize(values, Moments::Of(values.data(), values.size()));
}

}  // namespace kelmar
