#include "model/monthly_balance.h"

#include <gtest/gtest.h>

#include "model/model_fixtures.h"
#include "model/site_constants.h"
#include "numerics/evapotranspiration.h"

namespace kelmar {
namespace {

// The worked site with a critical storage of 128.775 mm (season class 1) in month 2.
struct BalanceFixture : ::testing::Test {
    TSiteParams site = testing::WorkedSite();
    TSiteConstants constants = ComputeSiteConstants(site, TClimatology{});
    TYearWork work;

    void SetUp() override { constants.S_crit[2] = 128.775; }

    void ThawedFebruary(double sStart, double prec, double pet) {
        work.S_end[1] = sStart;
        work.Tair[1] = 5;
        work.Tair[2] = 12;
        work.Prec[2] = prec;
        work.PET[2] = pet;
        MonthWaterBalance(work, site, constants, 2);
    }
};

TEST_F(BalanceFixture, DryMonthBelowCriticalStorage) {
    ThawedFebruary(104, 60, 80);
    EXPECT_EQ(work.RunoffCoef, 0.2);
    EXPECT_NEAR(work.S_end[2], 94.4857, 5e-5);
    EXPECT_NEAR(work.S_mean[2], 99.2428, 5e-5);
    EXPECT_NEAR(work.ET[2], 61.6535, 5e-5);
    EXPECT_NEAR(work.W_ms_vol[2], 14.5381, 5e-5);
    EXPECT_NEAR(work.W_ff_vol[2], 21.8072, 5e-5);
    EXPECT_NEAR(work.W_ms_mass[2], work.W_ms_vol[2] / 1.2, 1e-12);
    EXPECT_NEAR(work.W_ff_mass[2], work.W_ff_vol[2] / 0.1, 1e-12);
}

TEST_F(BalanceFixture, WetMonthRecomputedAtThePotentialRate) {
    ThawedFebruary(140, 120, 60);
    EXPECT_NEAR(work.DryRatio, 0.5, 1e-15);
    EXPECT_NEAR(work.RunoffCoef, 0.529150, 5e-7);
    EXPECT_NEAR(work.S_end[2], 141.0929, 5e-5);
    EXPECT_NEAR(work.S_mean[2], 140.5465, 5e-5);
    EXPECT_EQ(work.ET[2], 60.0);
}

TEST_F(BalanceFixture, StorageAboveSaturationIsCutButMoistureUsesTheMean) {
    // With ground water the runoff term is scaled by the saturation storage,
    // so a very wet month can lift the storage past saturation.
    constants.S_lim = constants.S_Sat;
    ThawedFebruary(368, 100000, 10);
    EXPECT_EQ(work.S_end[2], constants.S_Sat);
    EXPECT_GT(work.S_mean[2], (368 + constants.S_Sat) * 0.5);
    EXPECT_NEAR(work.W_ms_vol[2], (work.S_mean[2] + constants.S_WP) * 0.1 / 1.03, 1e-12);
}

TEST_F(BalanceFixture, ThawedMonthWithoutAnyWaterInput) {
    ThawedFebruary(104, 0, 80);
    EXPECT_EQ(work.WaterInput, 0.0);
    EXPECT_EQ(work.RunoffCoef, 0.2);
    EXPECT_TRUE(std::isfinite(work.S_end[2]));
    EXPECT_LT(work.S_end[2], 104.0);
}

TEST_F(BalanceFixture, SnowAccumulatesWhileFrozenAndMeltsIntoTheFirstThaw) {
    // January frozen: storage still, precipitation less evapotranspiration to snow.
    work.S_end[12] = 104;
    work.Tair[0] = -3;
    work.Tair[1] = -6;
    work.Prec[1] = 40;
    work.PET[1] = 5;
    MonthWaterBalance(work, site, constants, 1);
    EXPECT_EQ(work.S_start[1], 104.0);
    EXPECT_EQ(work.S_end[1], 104.0);
    EXPECT_EQ(work.S_mean[1], 104.0);
    EXPECT_EQ(work.ET[1], 5.0);
    UpdateSnow(work, 1);
    EXPECT_EQ(work.SnowStore, 35.0);

    // February thawed after a frozen month: receives the snow, then snow is gone.
    work.Tair[2] = 4;
    work.Prec[2] = 20;
    work.PET[2] = 10;
    MonthWaterBalance(work, site, constants, 2);
    EXPECT_EQ(work.WaterInput, 55.0);
    UpdateSnow(work, 2);
    EXPECT_EQ(work.SnowStore, 0.0);
}

TEST_F(BalanceFixture, MonthAtExactlyZeroIsFrozenButItsSnowIsNotPassedOn) {
    work.S_end[12] = 104;
    work.Tair[0] = 2;
    work.Tair[1] = 0;
    work.Prec[1] = 30;
    work.PET[1] = 0;
    MonthWaterBalance(work, site, constants, 1);
    UpdateSnow(work, 1);
    EXPECT_EQ(work.SnowStore, 30.0);
    work.Tair[2] = 3;
    work.Prec[2] = 10;
    work.PET[2] = 5;
    MonthWaterBalance(work, site, constants, 2);
    EXPECT_EQ(work.WaterInput, 10.0);  // January was not below 0
    UpdateSnow(work, 2);
    EXPECT_EQ(work.SnowStore, 0.0);
}

TEST(MonthTemperatures, ForestFloorFollowsAirOrFrozenSoil) {
    struct Case {
        double tAir, tMs, expectedTff;
    } cases[] = {{5, -1, 0}, {-5, -2, -2}, {5, 3, 5}, {0, 3, 0}, {0, -3, 0}, {-5, 0, 0}};
    TSiteConstants constants;  // no forest offset, so T_ms = Tsoil
    constants.DaylightShare = MonthArray{};
    for (const Case& c : cases) {
        TYearWork work;
        work.Tair[3] = c.tAir;
        work.Tsoil[3] = c.tMs;
        MonthTemperatures(work, constants, 3);
        EXPECT_EQ(work.T_ff[3], c.expectedTff) << "Tair " << c.tAir << ", T_ms " << c.tMs;
    }
}

TEST(MonthTemperatures, MineralSoilTakesTheForestOffset) {
    TSiteParams site = testing::WorkedSite();
    const TSiteConstants constants = ComputeSiteConstants(site, TClimatology{});
    TYearWork work;
    work.Tair[5] = 10;
    work.Tsoil[5] = 8;
    MonthTemperatures(work, constants, 5);
    EXPECT_EQ(work.T_ms[5], 8 + -4.4);  // spruce, May
    EXPECT_EQ(work.PET[5], MonthlyPET(5, site.Lat, 10));
}

}  // namespace
}  // namespace kelmar
