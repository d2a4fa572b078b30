#include "model/climatology_estimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "model/model_fixtures.h"
#include "model/run_model.h"

namespace kelmar {
namespace {

// A weather store of n years from 1990 with smooth, varied values.
std::unique_ptr<TModel> ObservedRecord(int years) {
    auto model = std::make_unique<TModel>();
    model->Settings.YearBeg = 1990;
    model->Settings.YearEnd = 1990 + years - 1;
    model->Weather.FillMissing();
    for (int j = 1; j <= years; ++j)
        for (int m = 1; m <= 12; ++m) {
            model->Weather.Tair[j][m] = -10 + 2.3 * m + std::sin(j * 1.7 + m);
            model->Weather.Prec[j][m] = 40 + 15 * std::cos(j * 2.1 + m * 0.3);
            model->Weather.Tsoil[j][m] = 1 + 1.1 * m + 0.5 * std::sin(j * 0.9 + m);
        }
    return model;
}

bool AllMissing(const MonthArray& a) {
    for (int m = 1; m <= 12; ++m)
        if (a[m] != MISSING_VALUE) return false;
    return true;
}

TEST(EstimateClimatology, JanuaryLacksTheFirstYearsPreviousMonth) {
    auto model = ObservedRecord(4);
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    const TClimatology& c = model->Climate;
    for (const MonthArray* a : {&c.Baa, &c.Bap, &c.Sa, &c.Bss, &c.Bsa, &c.Ss}) {
        EXPECT_EQ((*a)[1], MISSING_VALUE);  // three complete years only
        EXPECT_NE((*a)[2], MISSING_VALUE);  // four complete years
    }
    double sum = 0;
    for (int j = 1; j <= 4; ++j) sum += model->Weather.Tair[j][3];
    EXPECT_NEAR(c.av_Ta[3], sum / 4, 1e-12);
}

TEST(EstimateClimatology, RecordWithoutSoilTemperatures) {
    auto model = ObservedRecord(10);
    for (auto& year : model->Weather.Tsoil) year.fill(MISSING_VALUE);
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    const TClimatology& c = model->Climate;
    for (const MonthArray* a : {&c.av_Ts, &c.std_Ts, &c.Bss, &c.Bsa, &c.Ss})
        EXPECT_TRUE(AllMissing(*a));
    EXPECT_FALSE(AllMissing(c.Baa));
    // Such a climatology stops a run.
    EXPECT_TRUE(ClimatologyLacksSoilTemperature(c));
}

TEST(EstimateClimatology, SoilMeanOfExactlyZeroCountsAsMissing) {
    auto model = ObservedRecord(6);
    for (int j = 1; j <= 6; ++j) model->Weather.Tsoil[j][4] = (j % 2 == 0) ? 0.5 : -0.5;
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    EXPECT_EQ(model->Climate.av_Ts[4], MISSING_VALUE);
    EXPECT_NE(model->Climate.std_Ts[4], MISSING_VALUE);
}

TEST(EstimateClimatology, DryMonthEntersAsOneHundredthOfAMillimetre) {
    auto model = ObservedRecord(5);
    for (int j = 1; j <= 5; ++j) model->Weather.Prec[j][7] = j == 3 ? 0.0 : 10.0;
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    EXPECT_DOUBLE_EQ(model->Climate.av_P[7], (4 * 10.0 + 0.01) / 5);
    const double sd = std::sqrt((4 * 100.0 + 0.0001 - (40.01 * 40.01) / 5) / 4);
    EXPECT_NEAR(model->Climate.Cv_P[7], sd / model->Climate.av_P[7], 1e-12);
}

TEST(EstimateClimatology, MissingPrecipitationDropsOutOfTheAirRegression) {
    auto model = ObservedRecord(5);
    model->Weather.Prec[2][6] = MISSING_VALUE;
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    EXPECT_NE(model->Climate.Baa[6], MISSING_VALUE);  // four complete years left

    // A negative precipitation counts in the mean but has no logarithm.
    model->Weather.Prec[4][6] = -5;
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    EXPECT_EQ(model->Climate.Baa[6], MISSING_VALUE);  // three complete years left
    EXPECT_NE(model->Climate.Bss[6], MISSING_VALUE);  // the soil regression does not use it
    EXPECT_NE(model->Climate.av_P[6], MISSING_VALUE);
}

TEST(EstimateClimatology, KeepsTheLognormalParametersAndDecemberSlots) {
    auto model = ObservedRecord(12);
    model->Climate.mu_P.fill(3.5);
    model->Climate.sigma_P.fill(0.4);
    model->Climate.av_Ta[0] = 42;
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    EXPECT_EQ(model->Climate.mu_P[5], 3.5);
    EXPECT_EQ(model->Climate.sigma_P[9], 0.4);
    EXPECT_EQ(model->Climate.av_Ta[0], 42.0);
}

TEST(EstimateClimatology, EmptyRecordGivesMissingEverywhere) {
    auto model = ObservedRecord(3);
    model->Settings.YearBeg = 0;
    model->Settings.YearEnd = -1;
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    const TClimatology& c = model->Climate;
    for (const MonthArray* a : {&c.av_Ta, &c.std_Ta, &c.av_P, &c.av_Ts, &c.std_Ts, &c.Baa, &c.Bap,
                                &c.Sa, &c.Bss, &c.Bsa, &c.Ss})
        EXPECT_TRUE(AllMissing(*a));
    EXPECT_EQ(c.Cv_P[6], 1.0);  // -99.9 / -99.9
}

// 500 years generated from a known climatology: the estimate recovers it.
TEST(EstimateClimatology, RecoversTheGeneratorsClimatology) {
    auto model = std::make_unique<TModel>();
    model->Site = testing::WorkedSite();
    model->Climate = testing::BorealClimate();
    model->Random.SetState(20261210);
    testing::RecordingNotifier notifier;
    ASSERT_EQ(RunModel(*model, notifier), RunOutcome::Completed);
    const TClimatology truth = model->Climate;

    model->Weather.FillMissing();
    for (int j = 1; j <= MAX_YEARS; ++j)
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = model->Results.At(j, m);
            model->Weather.Tair[j][m] = r.Tair;
            model->Weather.Prec[j][m] = r.Prec;
            model->Weather.Tsoil[j][m] = r.Tsoil;
        }
    EstimateClimatology(model->Climate, model->Weather, model->Settings);
    const TClimatology& e = model->Climate;
    for (int m = 1; m <= 12; ++m) {
        EXPECT_NEAR(e.av_Ta[m], truth.av_Ta[m], 0.6) << "month " << m;
        EXPECT_NEAR(e.av_P[m], truth.av_P[m], 0.1 * truth.av_P[m]) << "month " << m;
        EXPECT_NEAR(e.Cv_P[m], truth.Cv_P[m], 0.1) << "month " << m;
        EXPECT_NEAR(e.av_Ts[m], truth.av_Ts[m], 0.3) << "month " << m;
        EXPECT_NEAR(e.Baa[m], truth.Baa[m], 0.15) << "month " << m;
        // The log precipitation varies little, so its weight is the least certain:
        // allow three standard errors, Sa / (sigma_P sqrt(years)).
        EXPECT_NEAR(e.Bap[m], truth.Bap[m], 3 * truth.Sa[m] / (truth.sigma_P[m] * std::sqrt(500.0)))
            << "month " << m;
        EXPECT_NEAR(e.Sa[m], truth.Sa[m], 0.15 * truth.Sa[m]) << "month " << m;
        EXPECT_NEAR(e.Bss[m], truth.Bss[m], 0.1) << "month " << m;
        EXPECT_NEAR(e.Bsa[m], truth.Bsa[m], 0.1) << "month " << m;
        EXPECT_NEAR(e.Ss[m], truth.Ss[m], 0.15 * truth.Ss[m]) << "month " << m;
    }
}

}  // namespace
}  // namespace kelmar

namespace kelmar {
namespace {

// Four complete years per regression, and January's the December before:
// five years of record are the fewest with every coefficient.
TEST(RegressionShortfall, NamesTheFirstMissingCoefficientUnderFiveYears) {
    const struct {
        int years;
        const char* warning;  // part of it; nullptr for none
    } cases[] = {
        {1, "with 1 year, is too short"},
        {4, "Baa for January could not be estimated and is missing (-99.90): the weather record, with 4 years"},
        {5, nullptr},
        {30, nullptr},
    };
    for (const auto& c : cases) {
        auto model = ObservedRecord(c.years);
        EstimateClimatology(model->Climate, model->Weather, model->Settings);
        EXPECT_EQ(YearsForEstimate(model->Weather, model->Settings), c.years);
        const auto warning = RegressionShortfall(model->Climate, YearsForEstimate(model->Weather, model->Settings));
        if (c.warning == nullptr) {
            EXPECT_FALSE(warning) << c.years << " years: " << warning.value_or("");
        } else {
            ASSERT_TRUE(warning) << c.years << " years";
            EXPECT_NE(warning->find(c.warning), std::string::npos) << c.years << " years: " << *warning;
        }
    }
    // Years after the record's data (a month given twice counts one) are not used.
    auto model = ObservedRecord(3);
    model->Settings.YearEnd += 1;
    EXPECT_EQ(YearsForEstimate(model->Weather, model->Settings), 3);
}

}  // namespace
}  // namespace kelmar
