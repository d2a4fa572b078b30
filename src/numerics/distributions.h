// Distribution functions and two-sample tests for comparing an observed
// series with a simulated one: Student's t (Welch's test of means), Fisher's
// F (the ratio of variances), Kolmogorov-Smirnov (whole distributions), and
// Holm's adjustment of p-values for testing many hypotheses at once.
//
// The special functions are written here (no library of the build has them):
// the regularized incomplete beta function by its continued fraction, the
// exact two-sample Kolmogorov-Smirnov distribution by lattice paths.
#pragma once

#include <cstddef>
#include <vector>

namespace kelmar {

// I_x(a, b) for a, b > 0 and 0 <= x <= 1 (x outside is clamped).
double RegularizedIncompleteBeta(double a, double b, double x);

// P(|T| >= |t|) for Student's t with df > 0 degrees of freedom (df need not
// be whole: Welch's test has fractional ones).
double StudentTwoSidedP(double t, double df);

// P(F <= f) for Fisher's F with d1, d2 > 0 degrees of freedom.
double FisherCdf(double f, double d1, double d2);

// Twice the smaller tail of F at f, at most 1: the two-sided p of a variance ratio.
double FisherTwoSidedP(double f, double d1, double d2);

// Kolmogorov's limiting distribution: P(sqrt(n) D_n > lambda) as n grows.
double KolmogorovQ(double lambda);

// P(D >= d) for the two-sample Kolmogorov-Smirnov statistic of samples of
// n and m values without ties, where d = k / (n m) for a whole k (the
// statistic is always of that form). Exact (lattice paths) while n m is at
// most KS_EXACT_LIMIT, otherwise the limiting distribution with Stephens'
// correction for the effective size n m / (n + m).
inline constexpr double KS_EXACT_LIMIT = 1e7;
double KolmogorovSmirnovTwoSampleP(long long k, std::size_t n, std::size_t m);

// Holm's step-down adjustment: the i-th smallest p times (count - i + 1),
// kept non-decreasing in that order and at most 1, returned in input order.
// Rejecting where the adjusted p is below alpha holds the chance of any
// false rejection in the family at alpha or below.
std::vector<double> HolmAdjust(const std::vector<double>& p);

// The outcome of a two-sample test. Every field is finite.
struct SampleTest {
    double Statistic = 0;
    double Df1 = 0;  // degrees of freedom where the test has them (t: Df1; F: Df1, Df2)
    double Df2 = 0;
    double P = 1;
};

// Welch's t test of equal means (unequal sizes and variances allowed); both
// samples need at least two values. Two samples without spread give p = 1
// when their means agree and 0 otherwise.
SampleTest WelchTest(const std::vector<double>& x, const std::vector<double>& y);

// The F test of equal variances: F = s_x^2 / s_y^2 on (n_x - 1, n_y - 1)
// degrees of freedom, two-sided. Both need two values; where a variance is
// 0 the statistic is reported as 0 (or, with both 0, 1) and p is 1 when both
// are 0, else 0.
SampleTest VarianceRatioTest(const std::vector<double>& x, const std::vector<double>& y);

// The Brown-Forsythe test of equal spread: the one-way analysis of variance
// of the absolute deviations from each sample's median, F on (1, n_x + n_y
// - 2) degrees of freedom, upper tail. Unlike the F test of the variances
// it keeps its level for skewed samples. Both need two values; deviations
// without spread in both samples give F = 0 and p = 1 when their means
// agree, and the largest double and p = 0 otherwise.
SampleTest BrownForsytheTest(const std::vector<double>& x, const std::vector<double>& y);

// The two-sample Kolmogorov-Smirnov test: D, the largest distance between
// the empirical distribution functions (ties counted together), and its p.
// Both need at least one value.
SampleTest KolmogorovSmirnovTest(std::vector<double> x, std::vector<double> y);

}  // namespace kelmar
