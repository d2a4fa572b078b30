#include "model/run_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "model/errors.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::RecordingNotifier;

using testing::SimulatedModel;

std::unique_ptr<TModel> FileModel() { return testing::ObservedModel(5); }

bool RecordIsFinite(const TResultRecord& r) {
    for (double v : {r.Tair, r.T_ff, r.Tsoil, r.T_ms, r.Prec, r.W_ms_vol, r.W_ff_vol, r.W_ms_mass,
                     r.W_ff_mass})
        if (!std::isfinite(v)) return false;
    return true;
}

bool TableIsZero(const TResultsTable& table) {
    for (int i = 0; i <= MAX_YEARS; ++i)
        for (int k = 0; k <= 12; ++k) {
            const TResultRecord& r = table.At(i, k);
            if (r.Year != 0 || r.Month != 0 || r.Tair != 0 || r.Prec != 0 || r.W_ff_mass != 0)
                return false;
        }
    return true;
}

TEST(RunModel, FiveHundredSimulatedYears) {
    auto model = SimulatedModel(2024);
    model->Settings.YearBeg = 1961;  // ignored with simulated weather
    model->Settings.YearEnd = 1990;
    RecordingNotifier notifier;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::Completed);

    EXPECT_TRUE(notifier.warnings.empty());
    EXPECT_EQ(model->Settings.YearBeg, 1);
    EXPECT_EQ(model->Settings.YearEnd, 500);
    EXPECT_EQ(model->AvailableYears, 500);
    EXPECT_EQ(model->Results.At(500, 12).Year, 500);
    EXPECT_EQ(model->Results.At(500, 12).Month, 12);
    EXPECT_EQ(model->Results.At(1, 1).Year, 1);
    EXPECT_EQ(model->Results.At(7, 0).Year, 0);
    EXPECT_EQ(model->Results.At(7, 0).Month, 0);

    // 2 + 36 x 500 normal deviates of 12 uniforms each.
    RandomSource reference(2024);
    for (int draw = 0; draw < 18002; ++draw) reference.NormalDeviate(1, 0);
    EXPECT_EQ(model->Random.State(), reference.State());

    for (int i = 1; i <= 500; ++i)
        for (int k = 0; k <= 12; ++k)
            ASSERT_TRUE(RecordIsFinite(model->Results.At(i, k))) << "year " << i << " slot " << k;
}

TEST(RunModel, AnnualRecordHoldsMeansAndThePrecipitationSum) {
    auto model = FileModel();
    for (int k = 1; k <= 12; ++k) model->Weather.Prec[2][k] = 10;
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    const TResultRecord& annual = model->Results.At(2, 0);
    EXPECT_DOUBLE_EQ(annual.Prec, 120.0);
    double sumTair = 0, sumWms = 0;
    for (int k = 1; k <= 12; ++k) {
        sumTair += model->Results.At(2, k).Tair;
        sumWms += model->Results.At(2, k).W_ms_vol;
    }
    EXPECT_DOUBLE_EQ(annual.Tair, sumTair / 12);
    EXPECT_DOUBLE_EQ(annual.W_ms_vol, sumWms / 12);
}

TEST(RunModel, WeatherFromFileCoversItsCalendarYears) {
    auto model = FileModel();
    RecordingNotifier notifier;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::Completed);
    EXPECT_EQ(model->AvailableYears, 30);
    for (int i = 1; i <= 30; ++i) {
        EXPECT_EQ(model->Results.At(i, 1).Year, 1949 + i);
        EXPECT_EQ(model->Results.At(i, 12).Month, 12);
    }
    EXPECT_EQ(model->Results.At(31, 1).Year, 0);
    EXPECT_EQ(model->Results.At(31, 0).Tair, 0.0);
    EXPECT_EQ(model->Results.At(1, 4).Tair, model->Weather.Tair[1][4]);
    EXPECT_EQ(model->Results.At(1, 4).Tsoil, model->Weather.Tsoil[1][4]);

    // All soil temperatures present: only the two December draws, and the
    // same results every time.
    RandomSource reference(5);
    reference.NormalDeviate(1, 0);
    reference.NormalDeviate(1, 0);
    EXPECT_EQ(model->Random.State(), reference.State());
    const TResultRecord first = model->Results.At(17, 8);
    RunModel(*model, notifier);
    EXPECT_EQ(model->Results.At(17, 8).W_ms_vol, first.W_ms_vol);
    EXPECT_EQ(model->Results.At(17, 8).T_ff, first.T_ff);
}

TEST(RunModel, MissingJanuarySoilTemperatureStartsFromTheDrawnDecember) {
    auto model = FileModel();
    model->Weather.Tsoil[1][1] = MISSING_VALUE;
    RecordingNotifier notifier;
    RunModel(*model, notifier);

    const TClimatology& c = model->Climate;
    RandomSource reference(5);
    const double z1 = reference.NormalDeviate(1, 0);
    const double z2 = reference.NormalDeviate(1, 0);
    const double december = c.std_Ts[12] * z2 + c.av_Ts[12];
    (void)z1;
    const double z3 = reference.NormalDeviate(1, 0);
    const double expected = c.av_Ts[1] + c.Bss[1] * (december - c.av_Ts[12]) +
                            c.Bsa[1] * (model->Weather.Tair[1][1] - c.av_Ta[1]) + c.Ss[1] * z3;
    EXPECT_EQ(model->Results.At(1, 1).Tsoil, expected);
    EXPECT_EQ(model->Weather.Tsoil[1][1], MISSING_VALUE);
}

TEST(RunModel, ClimatologyWithoutSoilTemperatureStopsTheRun) {
    auto model = SimulatedModel(8);
    model->AvailableYears = 7;
    model->Climate.av_Ts[3] = MISSING_VALUE;
    RecordingNotifier notifier;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::ClimatologyError);
    ASSERT_EQ(notifier.warnings.size(), 1u);
    EXPECT_EQ(notifier.warnings[0], "Climatologycal file error");
    EXPECT_TRUE(TableIsZero(model->Results));
    EXPECT_EQ(model->AvailableYears, 7);
    // The first year's precipitation and air temperature draws were made.
    RandomSource reference(8);
    for (int draw = 0; draw < 2 + 24; ++draw) reference.NormalDeviate(1, 0);
    EXPECT_EQ(model->Random.State(), reference.State());

    // A climatology of zeros (nothing loaded) is not missing.
    model->Climate.av_Ts.fill(0);
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::Completed);
}

TEST(RunModel, EmptyRangeClearsTheTableOnly) {
    auto model = FileModel();
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    model->Settings.YearBeg = 1960;
    model->Settings.YearEnd = 1959;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::EmptyRange);
    EXPECT_TRUE(TableIsZero(model->Results));
    EXPECT_EQ(model->AvailableYears, 30);
}

TEST(RunModel, RangeLongerThanTheStoresStopsAfterMaxYears) {
    auto model = FileModel();
    model->Settings.YearEnd = model->Settings.YearBeg + 700;
    for (int i = 31; i <= MAX_YEARS; ++i) {  // the stores hold weather for every year they can
        model->Weather.Tair[i] = model->Weather.Tair[1];
        model->Weather.Prec[i] = model->Weather.Prec[1];
        model->Weather.Tsoil[i] = model->Weather.Tsoil[1];
    }
    RecordingNotifier notifier;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::Completed);
    EXPECT_EQ(model->AvailableYears, MAX_YEARS);
    EXPECT_EQ(model->Results.At(MAX_YEARS, 12).Year, 1950 + MAX_YEARS - 1);
}

TEST(RunModel, SiteThatWouldDivideByZeroLeavesEverythingAsItWas) {
    auto model = FileModel();
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    const TResultRecord before = model->Results.At(3, 3);
    const std::uint32_t stateBefore = model->Random.State();
    model->Site.D_ms = 0;
    try {
        RunModel(*model, notifier);
        ADD_FAILURE() << "the run started with D_ms = 0";
    } catch (const KelmarError& e) {
        EXPECT_NE(std::string(e.what()).find("D_ms"), std::string::npos) << e.what();
    }
    EXPECT_EQ(model->Results.At(3, 3).W_ms_vol, before.W_ms_vol);
    EXPECT_EQ(model->AvailableYears, 30);
    EXPECT_EQ(model->Random.State(), stateBefore);
}

// Extreme but valid sites and climates never put NaN or infinity in a record.
TEST(RunModel, ExtremeInputsStayFinite) {
    struct Variant {
        const char* name;
        void (*apply)(TModel&);
    } variants[] = {
        {"north pole", [](TModel& m) { m.Site.Lat = 90; }},
        {"south pole", [](TModel& m) { m.Site.Lat = -90; }},
        {"polar night", [](TModel& m) { m.Site.Lat = 80; }},
        {"permafrost", [](TModel& m) { m.Site.Permafr = 1; }},
        {"ground water", [](TModel& m) { m.Site.Saturat = 1; }},
        {"forest type other", [](TModel& m) { m.Site.Fortype = 0; }},
        {"forest type pine", [](TModel& m) { m.Site.Fortype = 2; }},
        {"forest type birch", [](TModel& m) { m.Site.Fortype = 3; }},
        {"forest type oak", [](TModel& m) { m.Site.Fortype = 4; }},
        {"unknown forest type", [](TModel& m) { m.Site.Fortype = 200; }},
        {"no forest floor", [](TModel& m) { m.Site.M_ff = 0; }},
        {"huge precipitation",
         [](TModel& m) {
             m.Climate.av_P.fill(5000);
             m.Climate.Cv_P.fill(3);
             testing::DeriveLognormal(m.Climate);
         }},
        {"hot desert",
         [](TModel& m) {
             for (int k = 0; k <= 12; ++k) m.Climate.av_Ta[k] = 35;
             m.Climate.av_P.fill(0.5);
             testing::DeriveLognormal(m.Climate);
         }},
        {"arctic",
         [](TModel& m) {
             for (int k = 0; k <= 12; ++k) m.Climate.av_Ta[k] -= 25;
             m.Site.Lat = 78;
         }},
        {"observed dry months, soil temperatures missing",
         [](TModel& m) {
             m.Settings.InpDat = true;
             m.Settings.YearBeg = 1900;
             m.Settings.YearEnd = 2399;
             m.Weather.FillMissing();
             for (int i = 1; i <= MAX_YEARS; ++i)
                 for (int k = 1; k <= 12; ++k) {
                     m.Weather.Tair[i][k] = m.Climate.av_Ta[k] + 3;
                     m.Weather.Prec[i][k] = (i % 2 == 0) ? 0.0 : 4000.0;
                 }
         }},
    };
    for (const Variant& v : variants) {
        auto model = SimulatedModel(31337);
        v.apply(*model);
        RecordingNotifier notifier;
        ASSERT_EQ(RunModel(*model, notifier), RunOutcome::Completed) << v.name;
        for (int i = 1; i <= model->AvailableYears; ++i)
            for (int k = 0; k <= 12; ++k)
                ASSERT_TRUE(RecordIsFinite(model->Results.At(i, k)))
                    << v.name << ": year " << i << " slot " << k;
    }
}

TEST(RunModel, SuccessiveSimulatedRunsContinueTheRandomSequence) {
    auto model = SimulatedModel(77);
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    const double firstJuly = model->Results.At(1, 7).Tair;
    RunModel(*model, notifier);
    EXPECT_NE(model->Results.At(1, 7).Tair, firstJuly);
}

}  // namespace
}  // namespace kelmar
