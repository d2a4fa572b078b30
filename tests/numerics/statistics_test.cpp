#include "numerics/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "model/model_state.h"

namespace kelmar {
namespace {

TEST(MeanPresent, SkipsMissingIncludingExactlyMinus90) {
    const double values[] = {-99.9, -90.0, 4.5};
    EXPECT_EQ(MeanPresent(3, values), 4.5);
    const double onlyMissing[] = {-99.9, -95.0};
    EXPECT_EQ(MeanPresent(2, onlyMissing), MISSING_VALUE);
    EXPECT_EQ(MeanPresent(0, values), MISSING_VALUE);
    const double justPresent[] = {-89.9, -99.9};
    EXPECT_DOUBLE_EQ(MeanPresent(2, justPresent), -89.9);
}

TEST(MeanPresent, ReadsOnlyTheFirstNValues) {
    const double values[] = {1, 2, 3, 1000};
    EXPECT_EQ(MeanPresent(3, values), 2.0);
}

TEST(StdDevPresent, SampleDeviationAndTooFewValues) {
    const double values[] = {1, 2, 3, 4};
    EXPECT_NEAR(StdDevPresent(4, values), std::sqrt(5.0 / 3.0), 1e-15);
    const double one[] = {5, -99.9};
    EXPECT_EQ(StdDevPresent(2, one), MISSING_VALUE);
    EXPECT_EQ(StdDevPresent(0, one), MISSING_VALUE);
}

TEST(StdDevPresent, ConstantSeriesGivesZeroNotNaN) {
    // Twenty equal values of 0.01: the one-pass difference rounds below zero.
    const std::vector<double> values(20, 0.01);
    EXPECT_EQ(StdDevPresent(20, values.data()), 0.0);
}

// y = 2 x1 - 3 x2 + 1 + small noise.
struct RegressionData {
    std::vector<double> x1{1, 2, 3, 4, 5, 6};
    std::vector<double> x2{2, 1, 4, 3, 7, 5};
    std::vector<double> y{-2.9, 1.9, -4.95, 0.05, -9.9, -2.1};
};

TEST(Regression2, NeedsFourCompleteTriples) {
    RegressionData d;
    double b1 = 0, b2 = 0, s = 0;
    d.y[3] = MISSING_VALUE;  // x1 and x2 present here, but the triple is incomplete
    Regression2(4, d.x1.data(), d.x2.data(), d.y.data(), b1, b2, s);
    EXPECT_EQ(b1, MISSING_VALUE);
    EXPECT_EQ(b2, MISSING_VALUE);
    EXPECT_EQ(s, MISSING_VALUE);

    Regression2(5, d.x1.data(), d.x2.data(), d.y.data(), b1, b2, s);
    EXPECT_NE(b1, MISSING_VALUE);
    EXPECT_NE(b2, MISSING_VALUE);
    EXPECT_NE(s, MISSING_VALUE);
}

TEST(Regression2, RecoversCoefficientsAndResidual) {
    RegressionData d;
    double b1 = 0, b2 = 0, s = 0;
    Regression2(6, d.x1.data(), d.x2.data(), d.y.data(), b1, b2, s);
    EXPECT_NEAR(b1, 1.9396061269146627, 1e-12);
    EXPECT_NEAR(b2, -2.9464442013129113, 1e-12);
    // sY sqrt(D) / (1 - r12^2): the divisor stands outside the square root
    // (inside it the result would be 0.0567).
    EXPECT_NEAR(s, 0.09284821924026422, 1e-12);

    // An exact fit leaves no residual.
    std::vector<double> exact(6);
    for (int i = 0; i < 6; ++i) exact[i] = 2 * d.x1[i] - 3 * d.x2[i] + 1;
    Regression2(6, d.x1.data(), d.x2.data(), exact.data(), b1, b2, s);
    EXPECT_NEAR(b1, 2.0, 1e-12);
    EXPECT_NEAR(b2, -3.0, 1e-12);
    EXPECT_NEAR(s, 0.0, 1e-6);
}

TEST(Regression2, DegenerateSeriesGiveMissingNotNaN) {
    RegressionData d;
    const std::vector<double> constant(6, 7.25);
    double b1 = 0, b2 = 0, s = 0;

    // A constant predictor: no coefficients and no residual can be formed.
    Regression2(6, constant.data(), d.x2.data(), d.y.data(), b1, b2, s);
    EXPECT_EQ(b1, MISSING_VALUE);
    EXPECT_EQ(b2, MISSING_VALUE);
    EXPECT_EQ(s, MISSING_VALUE);

    // Collinear predictors.
    std::vector<double> twice(6);
    for (int i = 0; i < 6; ++i) twice[i] = 2 * d.x1[i];
    Regression2(6, d.x1.data(), twice.data(), d.y.data(), b1, b2, s);
    EXPECT_EQ(b1, MISSING_VALUE);
    EXPECT_EQ(b2, MISSING_VALUE);
    EXPECT_EQ(s, MISSING_VALUE);

    // A constant predictand: the coefficients are zero, the residual undefined.
    Regression2(6, d.x1.data(), d.x2.data(), constant.data(), b1, b2, s);
    EXPECT_EQ(b1, 0.0);
    EXPECT_EQ(b2, 0.0);
    EXPECT_EQ(s, MISSING_VALUE);
}

}  // namespace
}  // namespace kelmar
