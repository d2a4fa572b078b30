// The run refuses what would give a wrong result that looks like a result:
// observed months without weather, a climatology without the generator's
// coefficients, and years whose records are not finite.
#include "model/run_checks.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "model/errors.h"
#include "model/model_fixtures.h"
#include "model/run_model.h"

namespace kelmar {
namespace {

using testing::RecordingNotifier;

std::unique_ptr<TModel> SimulatedModel() { return testing::SimulatedModel(99); }
std::unique_ptr<TModel> ObservedModel() { return testing::ObservedModel(99); }

bool TableIsZero(const TResultsTable& table) {
    for (int i = 0; i <= MAX_YEARS; ++i)
        for (int k = 0; k <= 12; ++k) {
            const TResultRecord& r = table.At(i, k);
            if (r.Year != 0 || r.Month != 0 || r.Tair != 0 || r.T_ff != 0 || r.W_ms_mass != 0) return false;
        }
    return true;
}

// Runs the model expecting KelmarError; gives its text ("" when none came).
std::string RefusalOf(TModel& model) {
    RecordingNotifier notifier;
    try {
        RunModel(model, notifier);
    } catch (const KelmarError& e) {
        return e.what();
    }
    return "";
}

struct Case {
    const char* name;
    std::function<void(TModel&)> apply;
    std::vector<std::string> expected;  // parts of the error text
};

void ExpectRefusals(const std::function<std::unique_ptr<TModel>()>& make, const std::vector<Case>& cases,
                    bool tableStaysZero) {
    for (const Case& c : cases) {
        auto model = make();
        model->AvailableYears = 7;
        c.apply(*model);
        const std::uint32_t stateBefore = model->Random.State();
        const std::string text = RefusalOf(*model);
        ASSERT_FALSE(text.empty()) << c.name << ": the run was not refused";
        for (const std::string& part : c.expected)
            EXPECT_NE(text.find(part), std::string::npos) << c.name << ": expected \"" << part << "\" in: " << text;
        EXPECT_TRUE(TableIsZero(model->Results)) << c.name;
        EXPECT_EQ(model->AvailableYears, 7) << c.name;
        if (tableStaysZero) EXPECT_EQ(model->Random.State(), stateBefore) << c.name << ": the run had started";
    }
}

TEST(RunChecks, ObservedMonthsWithoutWeatherStopTheRunBeforeItStarts) {
    ExpectRefusals(ObservedModel,
                   {
                       {"a gap in the air temperature", [](TModel& m) { m.Weather.Tair[10][6] = MISSING_VALUE; },
                        {"for 6.1959 (1 month in all)"}},
                       {"a gap in the precipitation", [](TModel& m) { m.Weather.Prec[3][12] = MISSING_VALUE; },
                        {"for 12.1952 (1 month in all)"}},
                       {"a short final year",
                        [](TModel& m) {
                            for (int k = 7; k <= 12; ++k) m.Weather.Tair[30][k] = m.Weather.Prec[30][k] = MISSING_VALUE;
                        },
                        {"for 7.1979, 8.1979, 9.1979, ... (6 months in all)"}},
                       {"a month given twice counts an extra year", [](TModel& m) { m.Settings.YearEnd = 1980; },
                        {"for 1.1980, 2.1980, 3.1980, ... (12 months in all)", "from 1.1950 to 12.1980"}},
                   },
                   true);

    // Missing soil temperatures are the generator's to fill.
    auto model = ObservedModel();
    model->Weather.Tsoil[4][4] = MISSING_VALUE;
    EXPECT_EQ(RefusalOf(*model), "");
    EXPECT_EQ(model->AvailableYears, 30);
}

TEST(RunChecks, ClimatologyWithoutAGeneratorCoefficientIsRefused) {
    std::vector<Case> cases;
    for (const auto& [key, field] : std::initializer_list<std::pair<const char*, MonthArray TClimatology::*>>{
             {"av_Ta", &TClimatology::av_Ta}, {"std_Ta", &TClimatology::std_Ta}, {"av_P", &TClimatology::av_P},
             {"Cv_P", &TClimatology::Cv_P},   {"std_Ts", &TClimatology::std_Ts}, {"Baa", &TClimatology::Baa},
             {"Bap", &TClimatology::Bap},     {"Sa", &TClimatology::Sa},         {"Bss", &TClimatology::Bss},
             {"Bsa", &TClimatology::Bsa},     {"Ss", &TClimatology::Ss}})
        cases.push_back({key, [f = field](TModel& m) { (m.Climate.*f)[5] = MISSING_VALUE; },
                         {std::string("has no ") + key + " (", ") for May (-99.9 marks a missing value)"}});
    ExpectRefusals(SimulatedModel, cases, true);

    // With weather from file only the soil equation's coefficients count, and
    // only when the record has soil temperatures to fill.
    auto model = ObservedModel();
    model->Climate.Bss[2] = MISSING_VALUE;
    model->Climate.Baa[2] = MISSING_VALUE;
    EXPECT_NO_THROW(ValidateClimatologyForRun(*model));
    model->Weather.Tsoil[5][9] = MISSING_VALUE;
    try {
        ValidateClimatologyForRun(*model, "short.cld");
        ADD_FAILURE() << "a climatology without Bss filled soil temperatures";
    } catch (const KelmarError& e) {
        EXPECT_NE(std::string(e.what()).find("The climatology file \"short.cld\" has no Bss"), std::string::npos)
            << e.what();
    }

    // Without a mean soil temperature the run's own warning comes first, as before.
    model = SimulatedModel();
    model->Climate.av_Ts[3] = MISSING_VALUE;
    model->Climate.Baa[3] = MISSING_VALUE;
    RecordingNotifier notifier;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::ClimatologyError);
}

TEST(RunChecks, AYearThatIsNotFiniteStopsTheRunNamingItsCause) {
    const auto climate = [](MonthArray TClimatology::*field, double value) {
        return [field, value](TModel& m) {
            (m.Climate.*field).fill(value);
            testing::DeriveLognormal(m.Climate);
        };
    };
    ExpectRefusals(SimulatedModel,
                   {
                       {"Sa near the largest double", climate(&TClimatology::Sa, 1e308),
                        {"is not a finite number in", "Sa = 1e+308"}},
                       {"Baa near the largest double", climate(&TClimatology::Baa, 1e308),
                        {"air temperature (Tair) is not a finite number in", "Baa = 1e+308"}},
                       {"av_P near the largest double", climate(&TClimatology::av_P, 1e308),
                        {"precipitation (Prec) is not a finite number in", "av_P = 1e+308"}},
                       {"D_ms a denormal", [](TModel& m) { m.Site.D_ms = 1e-320; },
                        {"(W_ms_mass) is not a finite number in January of simulated year 1", "D_ms = 9.99989e-321"}},
                       {"D_ff a denormal with no forest floor", [](TModel& m) { m.Site.M_ff = 0; m.Site.D_ff = 1e-320; },
                        {"(W_ff_mass) is not a finite number in January of simulated year 1", "D_ff ="}},
                   },
                   false);
    ExpectRefusals(ObservedModel,
                   {
                       {"observed air temperature near the largest double",
                        [](TModel& m) { m.Weather.Tair[2][7] = 1e308; },
                        {"potential evapotranspiration is not a finite number in 7.1951", "1e+308 degC"}},
                       {"observed precipitation near the largest double",
                        [](TModel& m) { m.Weather.Prec[2][7] = m.Weather.Prec[2][8] = 1e308; },
                        {"is not a finite number in", "1951", "precipitation"}},
                   },
                   false);
}

}  // namespace
}  // namespace kelmar
