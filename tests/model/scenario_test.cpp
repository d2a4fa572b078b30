// The arithmetic of a climate scenario on a climatology and on an observed
// record, against values worked by hand, and the scenarios it refuses.
#include "model/scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "model/errors.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::BorealClimate;

// April of the boreal climatology: av_Ta 3, std_Ta 2.0, av_P 33, Cv_P 0.55,
// av_Ts 0.6, Bap 0.1, Sa 1.9; sigma_P = sqrt(ln(1 + 0.55^2)) = 0.51408704967678860.
TEST(ScenarioOnClimatology, EachChangeGoesToItsCoefficient) {
    constexpr int APRIL = 4;
    const struct {
        const char* name;
        double deltaT, factor, variability;
        double av_Ta, av_Ts, std_Ta, Sa, av_P, Cv_P, mu_P, sigma_P, Bap;
    } cases[] = {
        // ln(33 / sqrt(1.3025)) = 3.3643648141437880
        {"no change", 0, 1, 1, 3, 0.6, 2.0, 1.9, 33, 0.55, 3.3643648141437880, 0.5140870496767886, 0.1},
        {"+2.5 degC", 2.5, 1, 1, 5.5, 3.1, 2.0, 1.9, 33, 0.55, 3.3643648141437880, 0.5140870496767886, 0.1},
        // ln(16.5 / sqrt(1.3025)) = 2.6712176335838427: the location moves by ln 0.5
        {"precipitation x 0.5", 0, 0.5, 1, 3, 0.6, 2.0, 1.9, 16.5, 0.55, 2.6712176335838427, 0.5140870496767886, 0.1},
        // Cv_P 1.1: sigma = sqrt(ln 2.21) = 0.8905012720539266, mu = ln(33 / sqrt 2.21) = 3.1000113037016495,
        // Bap = 0.1 * 2 * 0.5140870496767886 / 0.8905012720539266 = 0.11546014942596439
        {"variability x 2", 0, 1, 2, 3, 0.6, 4.0, 3.8, 33, 1.1, 3.1000113037016495, 0.8905012720539266,
         0.11546014942596439},
    };
    for (const auto& c : cases) {
        TClimatology climate = BorealClimate();
        TScenario scenario;
        scenario.DeltaT.fill(c.deltaT);
        scenario.PrecFactor.fill(c.factor);
        scenario.Variability = c.variability;
        ApplyScenario(climate, scenario);
        const struct {
            const char* what;
            double got, expected;
        } values[] = {{"av_Ta", climate.av_Ta[APRIL], c.av_Ta},   {"av_Ts", climate.av_Ts[APRIL], c.av_Ts},
                      {"std_Ta", climate.std_Ta[APRIL], c.std_Ta}, {"Sa", climate.Sa[APRIL], c.Sa},
                      {"av_P", climate.av_P[APRIL], c.av_P},       {"Cv_P", climate.Cv_P[APRIL], c.Cv_P},
                      {"mu_P", climate.mu_P[APRIL], c.mu_P},       {"sigma_P", climate.sigma_P[APRIL], c.sigma_P},
                      {"Bap", climate.Bap[APRIL], c.Bap}};
        for (const auto& v : values)
            EXPECT_NEAR(v.got, v.expected, 1e-12) << c.name << ": " << v.what;
        // The soil equation's own coefficients are the same under every scenario.
        EXPECT_EQ(climate.Bss[APRIL], BorealClimate().Bss[APRIL]) << c.name;
        EXPECT_EQ(climate.Ss[APRIL], BorealClimate().Ss[APRIL]) << c.name;
    }
}

TEST(ScenarioOnClimatology, MonthlyValuesGoToTheirMonthsAndMissingValuesStayMissing) {
    TClimatology climate = BorealClimate();
    climate.av_Ts[7] = MISSING_VALUE;
    climate.std_Ta[2] = MISSING_VALUE;
    TScenario scenario;
    for (int k = 1; k <= 12; ++k) scenario.DeltaT[k] = k;
    scenario.Variability = 1.5;
    ApplyScenario(climate, scenario);
    EXPECT_EQ(climate.av_Ta[1], -10 + 1);
    EXPECT_EQ(climate.av_Ta[12], -8 + 12);
    EXPECT_EQ(climate.av_Ts[7], MISSING_VALUE) << "a missing mean soil temperature was changed";
    EXPECT_EQ(climate.std_Ta[2], MISSING_VALUE) << "a missing deviation was scaled";
}

TEST(ScenarioOnRecord, ChangesPresentValuesWithTheTrendAndKeepsGaps) {
    TWeatherStore weather;
    weather.FillMissing();
    for (int i = 1; i <= 3; ++i)
        for (int k = 1; k <= 12; ++k) {
            weather.Tair[i][k] = -5;
            weather.Prec[i][k] = 40;
            weather.Tsoil[i][k] = 1;
        }
    weather.Tsoil[2][3] = MISSING_VALUE;
    weather.Prec[3][1] = MISSING_VALUE;
    TScenario scenario;
    scenario.DeltaT.fill(1.5);
    scenario.PrecFactor.fill(0.5);
    scenario.TrendT = 10;      // year 3: +0.2 degC
    scenario.TrendPrec = -50;  // year 3: factor 1 - 0.01
    ApplyScenario(weather, 3, scenario);
    EXPECT_DOUBLE_EQ(weather.Tair[1][6], -3.5);
    EXPECT_DOUBLE_EQ(weather.Tsoil[1][6], 2.5) << "the soil follows the air";
    EXPECT_DOUBLE_EQ(weather.Prec[1][6], 20);
    EXPECT_DOUBLE_EQ(weather.Tair[3][6], -5 + 1.5 + 0.2);
    EXPECT_DOUBLE_EQ(weather.Tsoil[3][6], 1 + 1.5 + 0.2);
    EXPECT_DOUBLE_EQ(weather.Prec[3][6], 40 * 0.5 * 0.99);
    EXPECT_EQ(weather.Tsoil[2][3], MISSING_VALUE);
    EXPECT_EQ(weather.Prec[3][1], MISSING_VALUE);
    EXPECT_EQ(weather.Tair[4][1], MISSING_VALUE) << "a year beyond the record was changed";
}

TEST(ScenarioValidation, RefusesValuesThatMakeNoClimate) {
    const struct {
        const char* name;
        std::function<void(TScenario&)> change;
        bool observed;
        int years;
        const char* expected;  // a piece of the message
    } cases[] = {
        {"change just beyond 20 degC", [](TScenario& s) { s.DeltaT[3] = 20.01; }, false, 500,
         "temperature change of 20.01 for month 3; a change lies within -20 to 20 \u00b0C."},
        {"cooling beyond 20 degC", [](TScenario& s) { s.DeltaT[12] = -21; }, false, 500, "of -21 for month 12"},
        {"change not a number", [](TScenario& s) { s.DeltaT[1] = std::nan(""); }, false, 500, "temperature change"},
        {"factor 0", [](TScenario& s) { s.PrecFactor[8] = 0; }, false, 500, "precipitation factor of 0 for month 8"},
        {"factor below 0.1", [](TScenario& s) { s.PrecFactor[2] = 0.09; }, false, 500,
         "precipitation factor of 0.09 for month 2; a factor lies within 0.1 to 10."},
        {"factor that overflows", [](TScenario& s) { s.PrecFactor[5] = 1e300; }, false, 500,
         "precipitation factor of 1e+300 for month 5"},
        {"infinite factor", [](TScenario& s) { s.PrecFactor[1] = INFINITY; }, false, 500, "factor of inf"},
        {"negative variability", [](TScenario& s) { s.Variability = -1; }, false, 500, "variability factor of -1"},
        {"variability beyond 10", [](TScenario& s) { s.Variability = 11; }, false, 500,
         "variability factor of 11; a factor lies within 0.1 to 10."},
        {"variability on a record", [](TScenario& s) { s.Variability = 1.2; }, true, 30, "only simulated weather"},
        {"precipitation trend to zero", [](TScenario& s) { s.TrendPrec = -25; }, false, 500,
         "precipitation trend of -25 % per 100 years, which over 500 years takes month 1's precipitation factor "
         "to -0.2475; a factor lies within 0.1 to 10."},
        {"precipitation trend beyond 10 with the month's factor",
         [](TScenario& s) { s.PrecFactor[6] = 5; s.TrendPrec = 25; }, false, 500, "month 6's precipitation factor"},
        {"temperature trend beyond 20 degC", [](TScenario& s) { s.TrendT = 4.1; }, false, 500,
         "temperature trend of 4.1 \u00b0C per 100 years, which over 500 years changes month 1 by 20.459 \u00b0C"},
        {"trend beyond 20 degC with the month's change", [](TScenario& s) { s.DeltaT[7] = 1; s.TrendT = 4; }, false,
         500, "changes month 7 by 20.96"},
        {"cooling trend of a short record", [](TScenario& s) { s.TrendT = -100; }, true, 30, "over 30 years"},
        {"trend that overflows", [](TScenario& s) { s.TrendT = 1e308; }, false, 500, "temperature trend of 1e+308"},
    };
    for (const auto& c : cases) {
        TScenario scenario;
        scenario.Name = "test";
        c.change(scenario);
        try {
            ValidateScenario(scenario, c.observed, c.years);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const KelmarError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.name << " -> " << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("The scenario \"test\" ", 0), 0u)
                << c.name << " -> " << e.what();
        }
    }
}

// The bounds themselves and values of real studies run.
TEST(ScenarioValidation, TakesEveryValueWithinTheBounds) {
    const struct {
        const char* name;
        std::function<void(TScenario&)> change;
        bool observed;
        int years;
    } cases[] = {
        {"changes of 20 degC either way", [](TScenario& s) { s.DeltaT[1] = 20; s.DeltaT[7] = -20; }, false, 500},
        {"factors 0.1 and 10", [](TScenario& s) { s.PrecFactor[1] = 0.1; s.PrecFactor[7] = 10; s.Variability = 0.1; },
         false, 500},
        {"variability 10", [](TScenario& s) { s.Variability = 10; }, false, 500},
        {"4 degC per 100 years over 500 years", [](TScenario& s) { s.TrendT = 4; }, false, 500},
        {"a strong trend over a short record", [](TScenario& s) { s.TrendT = 50; s.DeltaT.fill(5); }, true, 30},
        {"30 years of -25 % per 100 years", [](TScenario& s) { s.TrendPrec = -25; }, true, 30},
        {"a trend under a scenario list's reading (one year)", [](TScenario& s) { s.TrendT = 1e6; }, false, 1},
    };
    for (const auto& c : cases) {
        TScenario scenario;
        c.change(scenario);
        EXPECT_NO_THROW(ValidateScenario(scenario, c.observed, c.years)) << c.name;
    }
}

}  // namespace
}  // namespace kelmar
