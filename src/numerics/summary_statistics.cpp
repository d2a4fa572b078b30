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

SampleSummary Summarize(std::vector<double>& values) {
    SampleSummary summary;
    const std::size_t n = values.size();
    summary.Count = n;
    double sum = 0;
    for (const double v : values) sum += v;
    summary.Mean = sum / static_cast<double>(n);
    if (n > 1) {
        double squares = 0;
        for (const double v : values) squares += (v - summary.Mean) * (v - summary.Mean);
        summary.Sd = std::sqrt(squares / static_cast<double>(n - 1));
    }
    // Ascending probabilities: each selection works on the part at and above
    // the last one, which holds every value not below it.
    std::size_t from = 0;
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const QuantilePosition at = Position(n, SUMMARY_PROBABILITIES[q]);
        const auto nth = values.begin() + static_cast<std::ptrdiff_t>(at.Index);
        std::nth_element(values.begin() + static_cast<std::ptrdiff_t>(from), nth, values.end());
        const double upper = at.Fraction != 0 && at.Index + 1 < n ? *std::min_element(nth + 1, values.end()) : *nth;
        summary.Percentiles[q] = Interpolate(*nth, upper, at.Fraction);
        from = at.Index;
    }
    return summary;
}

}  // namespace kelmar
