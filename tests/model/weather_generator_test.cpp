#include "model/weather_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "model/model_fixtures.h"
#include "model/run_model.h"

namespace kelmar {
namespace {

TEST(WeatherGenerator, SimulatedYearFollowsTheEquationsInDrawOrder) {
    TModel model;
    model.Climate = testing::BorealClimate();
    model.Climate.av_Ta[0] = model.Climate.av_Ta[12];
    model.Climate.av_Ts[0] = model.Climate.av_Ts[12];
    model.Work.Tair[12] = -6.5;
    model.Work.Tsoil[12] = -0.2;
    model.Random.SetState(4242);
    RandomSource reference(4242);
    const TClimatology& c = model.Climate;

    GenerateAirAndPrecipitation(model, 1);
    EXPECT_EQ(model.Work.Tair[0], -6.5);
    EXPECT_EQ(model.Work.Tsoil[0], -0.2);
    double prec[13], tair[13], tsoil[13];
    for (int k = 1; k <= 12; ++k) prec[k] = std::exp(reference.NormalDeviate(c.sigma_P[k], c.mu_P[k]));
    tair[0] = -6.5;
    for (int k = 1; k <= 12; ++k) {
        const double z = reference.NormalDeviate(1, 0);
        tair[k] = c.av_Ta[k] + c.Baa[k] * (tair[k - 1] - c.av_Ta[k - 1]) +
                  c.Bap[k] * (std::log(prec[k]) - c.mu_P[k]) + c.Sa[k] * z;
    }
    for (int k = 1; k <= 12; ++k) {
        EXPECT_EQ(model.Work.Prec[k], prec[k]) << "month " << k;
        EXPECT_EQ(model.Work.Tair[k], tair[k]) << "month " << k;
    }
    tsoil[0] = -0.2;
    for (int k = 1; k <= 12; ++k) {
        GenerateSoilTemperature(model, 1, k);
        const double z = reference.NormalDeviate(1, 0);
        tsoil[k] = c.av_Ts[k] + c.Bss[k] * (tsoil[k - 1] - c.av_Ts[k - 1]) +
                   c.Bsa[k] * (tair[k] - c.av_Ta[k]) + c.Ss[k] * z;
        EXPECT_EQ(model.Work.Tsoil[k], tsoil[k]) << "month " << k;
    }
    EXPECT_EQ(model.Random.State(), reference.State());
}

TEST(WeatherGenerator, ZeroDeviationsGiveTheClimatologicalMeans) {
    TModel model;
    model.Climate = testing::BorealClimate();
    TClimatology& c = model.Climate;
    for (MonthArray* a : {&c.Baa, &c.Bap, &c.Sa, &c.Bss, &c.Bsa, &c.Ss, &c.std_Ta, &c.std_Ts, &c.sigma_P})
        a->fill(0);
    c.mu_P.fill(3);
    model.Random.SetState(1);
    GenerateAirAndPrecipitation(model, 1);
    for (int k = 1; k <= 12; ++k) {
        GenerateSoilTemperature(model, 1, k);
        EXPECT_EQ(model.Work.Prec[k], std::exp(3.0));
        EXPECT_NEAR(model.Work.Prec[k], 20.0855, 5e-5);
        EXPECT_EQ(model.Work.Tair[k], c.av_Ta[k]);
        EXPECT_EQ(model.Work.Tsoil[k], c.av_Ts[k]);
    }
    RandomSource reference(1);
    for (int draw = 0; draw < 36; ++draw) reference.NormalDeviate(1, 0);
    EXPECT_EQ(model.Random.State(), reference.State());
}

TEST(WeatherGenerator, WeatherFromFileFillsOnlyMissingSoilTemperatures) {
    TModel model;
    model.Settings.InpDat = true;
    model.Climate = testing::BorealClimate();
    model.Climate.av_Ta[0] = model.Climate.av_Ta[12];
    model.Climate.av_Ts[0] = model.Climate.av_Ts[12];
    model.Weather.FillMissing();
    for (int k = 1; k <= 12; ++k) {
        model.Weather.Tair[3][k] = k - 6.0;
        model.Weather.Prec[3][k] = 10.0 * k;
        model.Weather.Tsoil[3][k] = k;
    }
    model.Weather.Tsoil[3][1] = MISSING_VALUE;  // drawn, from the carried December
    model.Weather.Tsoil[3][2] = -90.0;          // the run treats only values below -90 as missing
    model.Weather.Tsoil[3][5] = -90.1;          // below -90: drawn
    model.Work.Tair[12] = -7;
    model.Work.Tsoil[12] = -0.5;
    model.Random.SetState(777);

    GenerateAirAndPrecipitation(model, 3);
    RandomSource reference(777);
    const TClimatology& c = model.Climate;
    for (int k = 1; k <= 12; ++k) GenerateSoilTemperature(model, 3, k);

    const double z1 = reference.NormalDeviate(1, 0);
    EXPECT_EQ(model.Work.Tsoil[1], c.av_Ts[1] + c.Bss[1] * (-0.5 - c.av_Ts[0]) +
                                       c.Bsa[1] * (-5.0 - c.av_Ta[1]) + c.Ss[1] * z1);
    EXPECT_EQ(model.Work.Tsoil[2], -90.0);
    const double z5 = reference.NormalDeviate(1, 0);
    EXPECT_EQ(model.Work.Tsoil[5], c.av_Ts[5] + c.Bss[5] * (4.0 - c.av_Ts[4]) +
                                       c.Bsa[5] * (-1.0 - c.av_Ta[5]) + c.Ss[5] * z5);
    EXPECT_EQ(model.Random.State(), reference.State());  // two draws, no more
    EXPECT_EQ(model.Weather.Tsoil[3][1], MISSING_VALUE);  // the store keeps its gap
    for (int k = 1; k <= 12; ++k) {
        EXPECT_EQ(model.Work.Tair[k], k - 6.0);
        EXPECT_EQ(model.Work.Prec[k], 10.0 * k);
    }
}

// The weather alone is the weather of a whole simulated run from the same
// random state, draw for draw; without soil only its soil stays missing.
TEST(WeatherGenerator, SimulatedWeatherIsTheRunsWeather) {
    auto run = testing::SimulatedModel(77);
    testing::RecordingNotifier notifier;
    ASSERT_EQ(RunModel(*run, notifier), RunOutcome::Completed);

    auto model = testing::SimulatedModel(77);
    model->Settings.InpDat = true;  // set back to simulated weather by the call
    auto weather = std::make_unique<TWeatherStore>();
    SimulateWeather(*model, MAX_YEARS, true, *weather);
    EXPECT_FALSE(model->Settings.InpDat);
    for (int i = 1; i <= MAX_YEARS; ++i)
        for (int k = 1; k <= 12; ++k) {
            const TResultRecord& r = run->Results.At(i, k);
            ASSERT_EQ(weather->Tair[i][k], r.Tair) << "year " << i << ", month " << k;
            ASSERT_EQ(weather->Prec[i][k], r.Prec) << "year " << i << ", month " << k;
            ASSERT_EQ(weather->Tsoil[i][k], r.Tsoil) << "year " << i << ", month " << k;
        }

    auto airOnly = testing::SimulatedModel(77);
    SimulateWeather(*airOnly, 3, false, *weather);
    for (int k = 1; k <= 12; ++k) {
        EXPECT_EQ(weather->Tair[1][k], run->Results.At(1, k).Tair) << "month " << k;
        EXPECT_FALSE(IsPresent(weather->Tsoil[1][k])) << "month " << k;
        EXPECT_FALSE(IsPresent(weather->Tair[4][k])) << "year 4 was not simulated, month " << k;
    }
}

}  // namespace
}  // namespace kelmar
