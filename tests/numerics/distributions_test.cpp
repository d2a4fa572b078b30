#include "numerics/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace kelmar {
namespace {

// Closed forms of the regularized incomplete beta function (Abramowitz and
// Stegun 26.5: I_x(1, b) = 1 - (1 - x)^b, I_x(a, 1) = x^a, symmetry
// I_0.5(a, a) = 1/2; I_x(2, 2) = 3x^2 - 2x^3 by integrating 6t(1 - t)).
TEST(RegularizedIncompleteBeta, ClosedForms) {
    const struct {
        double a, b, x, expected;
    } cases[] = {
        {1, 5, 0.3, 1 - std::pow(0.7, 5)},   {1, 0.5, 0.99, 1 - std::sqrt(0.01)},
        {4, 1, 0.6, std::pow(0.6, 4)},       {0.5, 1, 0.04, 0.2},
        {2, 2, 0.25, 3 * 0.0625 - 2 * 0.015625}, {2, 2, 0.9, 3 * 0.81 - 2 * 0.729},
        {7.5, 7.5, 0.5, 0.5},                {250, 250, 0.5, 0.5},
        {3, 4, 0, 0},                        {3, 4, 1, 1},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(RegularizedIncompleteBeta(c.a, c.b, c.x), c.expected, 1e-13)
            << "I_" << c.x << "(" << c.a << ", " << c.b << ")";
}

// Student's t: exact forms for 1 degree of freedom (Cauchy: p = 1 - 2 atan(t) / pi)
// and 2 (p = 1 - t / sqrt(2 + t^2)); two-sided critical values of the
// NIST/SEMATECH e-Handbook of Statistical Methods, table 1.3.6.7.2 (three
// decimals, hence the looser tolerances); the normal limit at 1.959964.
TEST(StudentTwoSidedP, ExactFormsAndTableValues) {
    const double pi = std::numbers::pi;
    const struct {
        double t, df, p, tolerance;
    } cases[] = {
        {0.0, 7, 1.0, 1e-14},
        {1.0, 1, 0.5, 1e-14},
        {3.0, 1, 1 - 2 * std::atan(3.0) / pi, 1e-14},
        {-3.0, 1, 1 - 2 * std::atan(3.0) / pi, 1e-14},
        {0.5, 2, 1 - 0.5 / std::sqrt(2.25), 1e-14},
        {4.0, 2, 1 - 4 / std::sqrt(18.0), 1e-14},
        {12.706, 1, 0.05, 2e-6},
        {2.571, 5, 0.05, 5e-5},
        {2.228, 10, 0.05, 3e-5},
        {2.042, 30, 0.05, 5e-5},
        {1.984, 100, 0.05, 2e-5},
        {3.169, 10, 0.01, 1e-5},
        {3.850, 20, 0.001, 2e-6},
        {1.959964, 1e7, 0.05, 1e-6},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(StudentTwoSidedP(c.t, c.df), c.p, c.tolerance) << "t = " << c.t << ", df = " << c.df;
}

// F: upper 5 % and 1 % points of the NIST/SEMATECH e-Handbook, table
// 1.3.6.7.3; F(1, d) is t(d) squared; equal degrees of freedom put the
// median at 1.
TEST(FisherDistribution, TableValuesAndIdentities) {
    const struct {
        double f, d1, d2, upperTail, tolerance;
    } table[] = {
        {161.448, 1, 1, 0.05, 1e-6}, {3.326, 5, 10, 0.05, 2e-5},  {2.348, 10, 20, 0.05, 2e-5},
        {5.636, 5, 10, 0.01, 5e-6},  {3.368, 10, 20, 0.01, 5e-6},
    };
    for (const auto& c : table) {
        EXPECT_NEAR(1 - FisherCdf(c.f, c.d1, c.d2), c.upperTail, c.tolerance)
            << "F = " << c.f << " on (" << c.d1 << ", " << c.d2 << ")";
        EXPECT_NEAR(FisherTwoSidedP(c.f, c.d1, c.d2), 2 * c.upperTail, 2 * c.tolerance)
            << "two-sided, F = " << c.f << " on (" << c.d1 << ", " << c.d2 << ")";
        // The lower tail at 1/F on swapped degrees of freedom is the same test.
        EXPECT_NEAR(FisherTwoSidedP(1 / c.f, c.d2, c.d1), 2 * c.upperTail, 2 * c.tolerance)
            << "two-sided, F = 1/" << c.f << " on (" << c.d2 << ", " << c.d1 << ")";
    }
    for (const double t : {0.3, 1.7, 2.9})
        for (const double d : {3.0, 29.0, 499.0})
            EXPECT_NEAR(1 - FisherCdf(t * t, 1, d), StudentTwoSidedP(t, d), 1e-12) << "t = " << t << ", df = " << d;
    for (const double d : {1.0, 9.0, 49.0, 499.0}) EXPECT_NEAR(FisherCdf(1, d, d), 0.5, 1e-12) << "d = " << d;
    EXPECT_EQ(FisherTwoSidedP(1, 20, 20), 1.0);
}

// Quantiles of Kolmogorov's limiting distribution at 10, 5, 1 and 0.1 %
// (Smirnov 1948, "Table for estimating the goodness of fit of empirical
// distributions", Ann. Math. Stat. 19: 1.2238, 1.3581, 1.6276, 1.9495), and
// Q(1) = 0.2700 from the same table; both series forms meet at 1.18.
TEST(KolmogorovQ, SmirnovTable) {
    const struct {
        double lambda, q, tolerance;
    } cases[] = {
        {1.2238, 0.10, 5e-5}, {1.3581, 0.05, 3e-5}, {1.6276, 0.01, 1e-5},
        {1.9495, 0.001, 1e-6}, {1.0, 0.2700, 5e-5}, {0.0, 1.0, 0},
    };
    for (const auto& c : cases) EXPECT_NEAR(KolmogorovQ(c.lambda), c.q, c.tolerance) << "lambda = " << c.lambda;
    EXPECT_NEAR(KolmogorovQ(1.18 - 1e-9), KolmogorovQ(1.18 + 1e-9), 1e-8);
}

// The exact two-sample law by counting lattice paths by hand: of the
// C(6, 3) = 20 orders of 3 + 3 values, 2 separate the samples (D = 1) and
// 8 keep the counts within one of each other (D <= 1/3); of the C(4, 2) = 6
// orders of 2 + 2, 2 separate them; D >= 1/2 always holds there.
TEST(KolmogorovSmirnovTwoSampleP, CountedPaths) {
    const struct {
        long long k;  // D = k / (n m)
        std::size_t n, m;
        double p;
    } cases[] = {
        {9, 3, 3, 2.0 / 20}, {6, 3, 3, 12.0 / 20}, {3, 3, 3, 1.0},
        {4, 2, 2, 2.0 / 6},  {2, 2, 2, 1.0},       {0, 5, 5, 1.0},
        // One value against two: D = 1 when it lies outside both (2 of 3 orders).
        {2, 1, 2, 2.0 / 3},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(KolmogorovSmirnovTwoSampleP(c.k, c.n, c.m), c.p, 1e-14)
            << "k = " << c.k << ", n = " << c.n << ", m = " << c.m;
    // The exact law meets the limiting one (with Stephens' correction) for large samples.
    const double ne = 30.0 * 500 / 530;
    const double asymptotic = KolmogorovQ((std::sqrt(ne) + 0.12 + 0.11 / std::sqrt(ne)) * 0.25);
    EXPECT_NEAR(KolmogorovSmirnovTwoSampleP(3750, 30, 500), asymptotic, 0.002) << "D = 0.25, n = 30, m = 500";
}

// Holm (1979) by hand: sorted 0.005, 0.01, 0.03, 0.04 times 4, 3, 2, 1 gives
// 0.02, 0.03, 0.06, 0.04, made non-decreasing: 0.02, 0.03, 0.06, 0.06.
TEST(HolmAdjust, HandWorkedExample) {
    const std::vector<double> p = {0.01, 0.04, 0.03, 0.005};
    const std::vector<double> expected = {0.03, 0.06, 0.06, 0.02};
    const std::vector<double> adjusted = HolmAdjust(p);
    ASSERT_EQ(adjusted.size(), expected.size());
    for (std::size_t i = 0; i < p.size(); ++i)
        EXPECT_NEAR(adjusted[i], expected[i], 1e-15) << "p = " << p[i];
    // Capped at 1; ties share their order; an empty family stays empty.
    EXPECT_EQ(HolmAdjust({0.5, 0.5, 0.9}), (std::vector<double>{1.0, 1.0, 1.0}));
    EXPECT_TRUE(HolmAdjust({}).empty());
}

// Welch's statistic and degrees of freedom by hand: x = 1..4 (mean 2.5,
// variance 5/3), y = 2, 4, ..., 12 (mean 7, variance 14); squared standard
// errors 5/12 and 7/3 sum to 11/4, so t = -4.5 / sqrt(2.75) and
// df = (11/4)^2 / ((5/12)^2 / 3 + (7/3)^2 / 5) = 7.5625 / (25/432 + 49/45).
TEST(SampleTests, WelchByHand) {
    const SampleTest t = WelchTest({1, 2, 3, 4}, {2, 4, 6, 8, 10, 12});
    EXPECT_NEAR(t.Statistic, -4.5 / std::sqrt(2.75), 1e-13);
    EXPECT_NEAR(t.Df1, 7.5625 / (25.0 / 432 + 49.0 / 45), 1e-12);
    EXPECT_NEAR(t.P, StudentTwoSidedP(t.Statistic, t.Df1), 1e-15);
    EXPECT_GT(t.P, 0.02);
    EXPECT_LT(t.P, 0.05);
}

// Samples without spread, and ties in the Kolmogorov-Smirnov distance: no
// NaN, no infinity, and the obvious answer.
TEST(SampleTests, DegenerateSamplesStayFinite) {
    const std::vector<double> three = {3, 3, 3}, four = {4, 4};
    const struct {
        const char* what;
        SampleTest result;
        double p;
    } cases[] = {
        {"t, equal constants", WelchTest(three, three), 1},
        {"t, different constants", WelchTest(three, four), 0},
        {"F, both constant", VarianceRatioTest(three, three), 1},
        {"F, one constant", VarianceRatioTest({1, 2, 3}, four), 0},
        {"F, the other constant", VarianceRatioTest(four, {1, 2, 3}), 0},
        {"KS, identical samples", KolmogorovSmirnovTest({1, 2, 2, 3}, {1, 2, 2, 3}), 1},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(std::isfinite(c.result.Statistic) && std::isfinite(c.result.Df1) && std::isfinite(c.result.Df2))
            << c.what << ": statistic " << c.result.Statistic;
        EXPECT_EQ(c.result.P, c.p) << c.what;
    }
    // Ties across the samples count together: at 2 both step at once.
    const SampleTest ks = KolmogorovSmirnovTest({1, 2, 2}, {2, 2, 3});
    EXPECT_NEAR(ks.Statistic, 1.0 / 3, 1e-15) << "x = 1, 2, 2; y = 2, 2, 3";
}

// The F test on samples whose variances are 4 to 1 (s^2 = 10 and 2.5).
TEST(SampleTests, VarianceRatio) {
    const SampleTest f = VarianceRatioTest({2, 4, 6, 8, 10}, {1, 2, 3, 4, 5});
    EXPECT_NEAR(f.Statistic, 4.0, 1e-14);
    EXPECT_EQ(f.Df1, 4);
    EXPECT_EQ(f.Df2, 4);
    EXPECT_NEAR(f.P, 2 * (1 - FisherCdf(4.0, 4, 4)), 1e-14);
}

// Brown-Forsythe by hand: 1..5 (median 3) deviates 2 1 0 1 2, mean 1.2;
// 2, 4, ..., 10 (median 6) deviates 4 2 0 2 4, mean 2.4; grand mean 1.8.
// Between groups 5 (0.6^2) + 5 (0.6^2) = 3.6, within 2.8 + 11.2 = 14, so
// F = 3.6 / (14 / 8) on (1, 8), whose upper tail is the two-sided t of sqrt(F).
// An even count takes the mean of the middle two as the median.
TEST(SampleTests, BrownForsytheByHand) {
    const SampleTest bf = BrownForsytheTest({1, 2, 3, 4, 5}, {2, 4, 6, 8, 10});
    EXPECT_NEAR(bf.Statistic, 3.6 / (14.0 / 8), 1e-13);
    EXPECT_EQ(bf.Df1, 1);
    EXPECT_EQ(bf.Df2, 8);
    EXPECT_NEAR(bf.P, StudentTwoSidedP(std::sqrt(bf.Statistic), 8), 1e-13);
    // 1, 2, 3, 10: median 2.5, deviations 1.5 0.5 0.5 7.5 (mean 2.5); against
    // itself shifted by 100 the spread is the same: F = 0, p = 1.
    const SampleTest same = BrownForsytheTest({1, 2, 3, 10}, {101, 102, 103, 110});
    EXPECT_NEAR(same.Statistic, 0, 1e-13);
    EXPECT_NEAR(same.P, 1, 1e-13);
    // No spread on either side (whatever the values): the same spread.
    EXPECT_EQ(BrownForsytheTest({1, 1, 1}, {2, 2}).P, 1.0);
}

}  // namespace
}  // namespace kelmar
