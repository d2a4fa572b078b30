#include "numerics/distributions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <numeric>

namespace kelmar {

namespace {

// The continued fraction of I_x(a, b) (the form of Abramowitz and Stegun
// 26.5.8), evaluated by the modified Lentz method; it converges quickly for
// x < (a + 1) / (a + b + 2).
double BetaContinuedFraction(double a, double b, double x) {
    constexpr int MAX_TERMS = 100000;  // ample: terms grow as sqrt(max(a, b))
    constexpr double EPSILON = 1e-16;
    constexpr double TINY = 1e-300;   // keeps a denominator off zero
    const double qab = a + b, qap = a + 1, qam = a - 1;
    double c = 1;
    double d = 1 - qab * x / qap;
    if (std::fabs(d) < TINY) d = TINY;
    d = 1 / d;
    double h = d;
    for (int m = 1; m <= MAX_TERMS; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1 + aa * d;
        if (std::fabs(d) < TINY) d = TINY;
        c = 1 + aa / c;
        if (std::fabs(c) < TINY) c = TINY;
        d = 1 / d;
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1 + aa * d;
        if (std::fabs(d) < TINY) d = TINY;
        c = 1 + aa / c;
        if (std::fabs(c) < TINY) c = TINY;
        d = 1 / d;
        const double step = d * c;
        h *= step;
        if (std::fabs(step - 1) < EPSILON) break;
    }
    return h;
}

double Clamp01(double p) { return std::clamp(p, 0.0, 1.0); }

double Mean(const std::vector<double>& x) { return std::accumulate(x.begin(), x.end(), 0.0) / double(x.size()); }

// Sample variance in two passes (no cancellation of large sums).
double Variance(const std::vector<double>& x, double mean) {
    double sum = 0;
    for (double v : x) sum += (v - mean) * (v - mean);
    return sum / double(x.size() - 1);
}

constexpr double HUGE_STATISTIC = std::numeric_limits<double>::max();

// Exact P(D >= k / (n m)) for n <= m: the share of the C(n + m, n) equally
// likely lattice paths from (0, 0) to (n, m) that touch a point with
// |i m - j n| >= k. Probabilities flow along the paths instead of counts,
// so nothing overflows; the mass leaving the band is summed directly, so a
// small p keeps its relative accuracy.
double ExactTwoSampleP(long long k, long long n, long long m) {
    std::vector<double> previous(static_cast<std::size_t>(m + 1), 0.0), current(previous.size(), 0.0);
    double left = 0;
    for (long long i = 0; i <= n; ++i) {
        for (long long j = 0; j <= m; ++j) {
            double mass = 0;
            if (i == 0 && j == 0) {
                mass = 1;
            } else {
                // From (i - 1, j) a step in the first sample, from (i, j - 1) one in the second.
                if (i > 0) mass += previous[j] * double(n - i + 1) / double(n - i + 1 + m - j);
                if (j > 0) mass += current[j - 1] * double(m - j + 1) / double(n - i + m - j + 1);
            }
            if (std::llabs(i * m - j * n) >= k) {
                left += mass;
                mass = 0;
            }
            current[j] = mass;
        }
        std::swap(previous, current);
    }
    return Clamp01(left);
}

}  // namespace

double RegularizedIncompleteBeta(double a, double b, double x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    const double logFront =
        std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x);
    const double front = std::exp(logFront);
    if (x < (a + 1) / (a + b + 2)) return Clamp01(front * BetaContinuedFraction(a, b, x) / a);
    return Clamp01(1 - front * BetaContinuedFraction(b, a, 1 - x) / b);
}

double StudentTwoSidedP(double t, double df) {
    if (!std::isfinite(t)) return 0;
    return RegularizedIncompleteBeta(df / 2, 0.5, df / (df + t * t));
}

double FisherCdf(double f, double d1, double d2) {
    if (f <= 0) return 0;
    if (!std::isfinite(f)) return 1;
    return RegularizedIncompleteBeta(d1 / 2, d2 / 2, d1 * f / (d1 * f + d2));
}

double FisherTwoSidedP(double f, double d1, double d2) {
    if (f <= 0 || !std::isfinite(f)) return 0;
    // The upper tail from the complementary argument keeps its accuracy where the cdf is near 1.
    const double lower = FisherCdf(f, d1, d2);
    const double upper = RegularizedIncompleteBeta(d2 / 2, d1 / 2, d2 / (d1 * f + d2));
    return Clamp01(2 * std::min(lower, upper));
}

double KolmogorovQ(double lambda) {
    if (lambda <= 0) return 1;
    constexpr int TERMS = 100;
    if (lambda < 1.18) {
        // The theta-function form converges fast for small lambda:
        // P(K <= lambda) = sqrt(2 pi) / lambda * sum exp(-(2k - 1)^2 pi^2 / (8 lambda^2)).
        const double w = std::numbers::pi * std::numbers::pi / (8 * lambda * lambda);
        double sum = 0;
        for (int k = 1; k <= TERMS; ++k) {
            const double term = std::exp(-double((2 * k - 1) * (2 * k - 1)) * w);
            sum += term;
            if (term < 1e-17 * sum) break;
        }
        return Clamp01(1 - std::sqrt(2 * std::numbers::pi) / lambda * sum);
    }
    // Q = 2 sum (-1)^(k-1) exp(-2 k^2 lambda^2).
    double sum = 0;
    for (int k = 1; k <= TERMS; ++k) {
        const double term = std::exp(-2.0 * k * k * lambda * lambda);
        sum += (k % 2 == 1 ? term : -term);
        if (term < 1e-17) break;
    }
    return Clamp01(2 * sum);
}

double KolmogorovSmirnovTwoSampleP(long long k, std::size_t n, std::size_t m) {
    if (n == 0 || m == 0 || k <= 0) return 1;
    const long long small = static_cast<long long>(std::min(n, m)), large = static_cast<long long>(std::max(n, m));
    if (double(small) * double(large) <= KS_EXACT_LIMIT) return ExactTwoSampleP(k, small, large);
    // Stephens (1970), as given in Numerical Recipes (2nd ed., 14.3): the
    // effective size sharpens the limiting law for finite samples.
    const double effective = double(n) * double(m) / double(n + m);
    const double root = std::sqrt(effective);
    const double d = double(k) / (double(n) * double(m));
    return KolmogorovQ((root + 0.12 + 0.11 / root) * d);
}

std::vector<double> HolmAdjust(const std::vector<double>& p) {
    std::vector<std::size_t> order(p.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return p[a] < p[b]; });
    std::vector<double> adjusted(p.size());
    double running = 0;
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        const double scaled = double(p.size() - rank) * p[order[rank]];
        running = std::max(running, std::min(1.0, scaled));
        adjusted[order[rank]] = running;
    }
    return adjusted;
}

SampleTest WelchTest(const std::vector<double>& x, const std::vector<double>& y) {
    const double nx = double(x.size()), ny = double(y.size());
    const double mx = Mean(x), my = Mean(y);
    const double qx = Variance(x, mx) / nx, qy = Variance(y, my) / ny;  // squared standard errors
    const double se2 = qx + qy;
    SampleTest result;
    if (se2 == 0) {
        // No spread in either sample: the means either agree or differ for certain.
        result.Statistic = mx == my ? 0 : std::copysign(HUGE_STATISTIC, mx - my);
        result.P = mx == my ? 1 : 0;
        return result;
    }
    result.Statistic = (mx - my) / std::sqrt(se2);
    // Welch-Satterthwaite degrees of freedom.
    result.Df1 = se2 * se2 / (qx * qx / (nx - 1) + qy * qy / (ny - 1));
    result.P = StudentTwoSidedP(result.Statistic, result.Df1);
    return result;
}

SampleTest VarianceRatioTest(const std::vector<double>& x, const std::vector<double>& y) {
    const double vx = Variance(x, Mean(x)), vy = Variance(y, Mean(y));
    SampleTest result;
    result.Df1 = double(x.size() - 1);
    result.Df2 = double(y.size() - 1);
    if (vx == 0 || vy == 0) {
        result.Statistic = vx == vy ? 1 : (vy == 0 ? HUGE_STATISTIC : 0);
        result.P = vx == vy ? 1 : 0;
        return result;
    }
    result.Statistic = vx / vy;
    result.P = FisherTwoSidedP(result.Statistic, result.Df1, result.Df2);
    return result;
}

namespace {

double Median(std::vector<double> values) {
    const std::size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(half), values.end());
    if (values.size() % 2 == 1) return values[half];
    const double upper = values[half];
    return (*std::max_element(values.begin(), values.begin() + std::ptrdiff_t(half)) + upper) / 2;
}

std::vector<double> AbsoluteDeviations(const std::vector<double>& values) {
    const double median = Median(values);
    std::vector<double> deviations;
    deviations.reserve(values.size());
    for (double v : values) deviations.push_back(std::fabs(v - median));
    return deviations;
}

}  // namespace

SampleTest BrownForsytheTest(const std::vector<double>& x, const std::vector<double>& y) {
    const std::vector<double> zx = AbsoluteDeviations(x), zy = AbsoluteDeviations(y);
    const double nx = double(zx.size()), ny = double(zy.size()), total = nx + ny;
    const double mx = Mean(zx), my = Mean(zy), grand = (nx * mx + ny * my) / total;
    const double between = nx * (mx - grand) * (mx - grand) + ny * (my - grand) * (my - grand);
    double within = 0;
    for (double z : zx) within += (z - mx) * (z - mx);
    for (double z : zy) within += (z - my) * (z - my);
    SampleTest result;
    result.Df1 = 1;
    result.Df2 = total - 2;
    if (within == 0) {
        result.Statistic = between == 0 ? 0 : HUGE_STATISTIC;
        result.P = between == 0 ? 1 : 0;
        return result;
    }
    result.Statistic = between / (within / result.Df2);
    // The upper tail from the complementary argument, accurate for a small p.
    result.P = RegularizedIncompleteBeta(result.Df2 / 2, result.Df1 / 2,
                                         result.Df2 / (result.Df1 * result.Statistic + result.Df2));
    return result;
}

SampleTest KolmogorovSmirnovTest(std::vector<double> x, std::vector<double> y) {
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    const long long n = static_cast<long long>(x.size()), m = static_cast<long long>(y.size());
    // Distances in units of 1 / (n m): |i / n - j / m| = |i m - j n| / (n m).
    long long i = 0, j = 0, largest = 0;
    while (i < n || j < m) {
        const double next = i == n ? y[j] : j == m ? x[i] : std::min(x[i], y[j]);
        while (i < n && x[i] == next) ++i;
        while (j < m && y[j] == next) ++j;
        largest = std::max(largest, std::llabs(i * m - j * n));
    }
    SampleTest result;
    result.Statistic = double(largest) / (double(n) * double(m));
    result.P = KolmogorovSmirnovTwoSampleP(largest, x.size(), y.size());
    return result;
}

}  // namespace kelmar
