// Runs under a scenario: what changes in the results, what is given back
// after the run, and soil temperatures that stay consistent with the air.
#include <gtest/gtest.h>

#include <cmath>

#include "app/run_sequence.h"
#include "model/errors.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

using testing::ObservedModel;
using testing::RecordingNotifier;
using testing::SimulatedModel;

// Observed soil temperatures and those the generator fills in move with the
// air by the same change, so a gap never stands out of its record.
TEST(ScenarioRun, ObservedAndFilledSoilTemperaturesFollowTheAir) {
    RecordingNotifier notifier;
    auto base = ObservedModel(5), warm = ObservedModel(5);
    for (auto* model : {base.get(), warm.get()}) {
        model->Weather.Tsoil[4][2] = MISSING_VALUE;  // filled by the soil equation, one draw
        model->Weather.Tsoil[9][7] = MISSING_VALUE;
    }
    TScenario scenario;
    scenario.DeltaT.fill(3);
    RunUnderScenario(*base, notifier, nullptr);
    RunUnderScenario(*warm, notifier, &scenario);
    for (int i = 1; i <= 30; ++i)
        for (int k = 1; k <= 12; ++k) {
            const TResultRecord &b = base->Results.At(i, k), &w = warm->Results.At(i, k);
            ASSERT_NEAR(w.Tair - b.Tair, 3, 1e-9) << "year index " << i << ", month " << k;
            ASSERT_NEAR(w.Tsoil - b.Tsoil, 3, 1e-9) << "year index " << i << ", month " << k
                                                   << (b.Tsoil == base->Weather.Tsoil[i][k] ? "" : " (filled)");
            ASSERT_EQ(w.Prec, b.Prec) << "year index " << i << ", month " << k;
        }
    // The record read is given back as it was read.
    EXPECT_EQ(warm->Weather.Tair[1][1], base->Weather.Tair[1][1]);
    EXPECT_EQ(warm->Weather.Tsoil[4][2], MISSING_VALUE);
}

// A trend changes the climatology year by year; with the same draws, the air
// and soil temperatures differ from the stationary run by exactly the
// year's change and precipitation by the year's factor.
TEST(ScenarioRun, ATrendAddsTheYearsChangeToSimulatedWeather) {
    RecordingNotifier notifier;
    auto stationary = SimulatedModel(9), transient = SimulatedModel(9);
    TScenario scenario;
    scenario.TrendT = 4;        // degC per 100 years
    scenario.TrendPrec = -10;   // % per 100 years
    RunUnderScenario(*stationary, notifier, nullptr);
    RunUnderScenario(*transient, notifier, &scenario);
    for (int i : {1, 2, 101, 500})
        for (int k : {1, 7, 12}) {
            const TResultRecord &s = stationary->Results.At(i, k), &t = transient->Results.At(i, k);
            const double change = 4.0 * (i - 1) / 100, factor = 1 - 10.0 * (i - 1) / 10000;
            EXPECT_NEAR(t.Tair - s.Tair, change, 1e-9) << "year index " << i << ", month " << k;
            EXPECT_NEAR(t.Tsoil - s.Tsoil, change, 1e-9) << "year index " << i << ", month " << k;
            EXPECT_NEAR(t.Prec / s.Prec, factor, 1e-12) << "year index " << i << ", month " << k;
        }
    // The climatology and the settings are the run's own again.
    for (int k = 1; k <= 12; ++k) {
        EXPECT_EQ(transient->Climate.av_Ta[k], stationary->Climate.av_Ta[k]) << "month " << k;
        EXPECT_EQ(transient->Climate.mu_P[k], stationary->Climate.mu_P[k]) << "month " << k;
    }
    EXPECT_EQ(transient->Settings.TrendT, 0);
}

TEST(ScenarioRun, ARefusedScenarioChangesNothing) {
    RecordingNotifier notifier;
    auto model = SimulatedModel(3);
    const std::uint32_t state = model->Random.State();
    TScenario scenario;
    scenario.PrecFactor[5] = -1;
    EXPECT_THROW(RunUnderScenario(*model, notifier, &scenario), KelmarError);
    EXPECT_EQ(model->Random.State(), state) << "the run had started";
    EXPECT_EQ(model->AvailableYears, 0);
    EXPECT_EQ(model->Climate.av_P[5], testing::BorealClimate().av_P[5]);
}

// Refused before the first run of the record: nothing of the record's run
// without the scenario is left to be shown as if it were the run.
TEST(ScenarioRun, ARecordRefusesAScenarioBeforeItsCountingRun) {
    struct Sources : RunSources {
        testing::RecordingNotifier Notes;
        std::unique_ptr<TModel> Record = ObservedModel(4);
        Notifier& Messages() override { return Notes; }
        bool ReadSite(TModel&) override { return true; }
        std::optional<std::string> ReadWeather(TModel& model) override {
            model.Weather = Record->Weather;
            model.Settings = Record->Settings;
            return "record.wed";
        }
        std::optional<std::string> ReadClimatology(TModel&) override { return std::nullopt; }
        std::string ReadGapClimatology(TModel&, const std::string&) override { return {}; }
    } sources;
    auto model = ObservedModel(4);
    TScenario scenario;
    scenario.Variability = 1.5;  // a record keeps its own variability
    EXPECT_THROW(RunFromWeatherSequence(*model, sources, &scenario), KelmarError);
    EXPECT_EQ(model->AvailableYears, 0);
    EXPECT_EQ(model->Results.At(1, 1).Year, 0) << "the counting run stayed";
}

}  // namespace
}  // namespace kelmar
