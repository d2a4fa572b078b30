// The session's rules without a window: Step, the step box, Initialisation,
// what the chart and the weather save read, and "Save file".
#include "app/session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "io/io_test_support.h"
#include "io/results_file.h"
#include "model/model_fixtures.h"
#include "model/run_model.h"

namespace kelmar {
namespace {

using testing::ReadBytes;
using testing::TempDir;

std::string Text(const char* text) { return text ? text : "(none)"; }

// A model whose last run made results: simulated weather (500 years), or
// weather from file with a record of `recordYears` years from 1961.
std::unique_ptr<TModel> RunModelFor(bool fromFile, int recordYears = 30) {
    auto model = std::make_unique<TModel>();
    model->Site = testing::WorkedSite();
    model->Climate = testing::BorealClimate();
    model->Random.SetState(11);
    model->Settings.InpDat = fromFile;
    if (fromFile) {
        model->Settings.YearBeg = 1961;
        model->Settings.YearEnd = 1961 + recordYears - 1;
        model->Weather.FillMissing();
        for (int i = 1; i <= recordYears; ++i)
            for (int m = 1; m <= 12; ++m) {
                model->Weather.Tair[i][m] = model->Climate.av_Ta[m];
                model->Weather.Prec[i][m] = model->Climate.av_P[m];
                model->Weather.Tsoil[i][m] = model->Climate.av_Ts[m];
            }
    }
    testing::RecordingNotifier notifier;
    RunModel(*model, notifier);
    return model;
}

TEST(SessionStep, ReleasesCutsAndRefusesByTheRules) {
    using Kind = StepOutcome::Kind;
    const struct {
        const char* what;
        bool fromFile;
        bool results;      // false: the results table as a run without results leaves it
        int released;      // before the Step
        int requested;
        Kind kind;
        int cutTo;         // -1: not cut
        const char* notice;
        const char* status;
        int releasedAfter;
    } cases[] = {
        {"simulated, first step", false, true, 0, 25, Kind::Released, -1, nullptr, nullptr, 25},
        {"simulated, all at once", false, true, 0, 500, Kind::Released, -1, nullptr, nullptr, 500},
        {"simulated, past the end: cut without a notice", false, true, 490, 25, Kind::Released, 10, nullptr, nullptr,
         500},
        {"file, within the record", true, true, 0, 25, Kind::Released, -1, nullptr, nullptr, 25},
        {"file, up to the end exactly", true, true, 25, 5, Kind::Released, -1, nullptr, nullptr, 30},
        {"file, past the end: cut with the notice", true, true, 25, 25, Kind::Released, 5, WHOLE_INPUT_NOTICE, nullptr,
         30},
        {"file, nothing left", true, true, 30, 25, Kind::Nothing, 0, WHOLE_INPUT_NOTICE, nullptr, 30},
        {"file, nothing left, step 0", true, true, 30, 0, Kind::Nothing, -1, nullptr, nullptr, 30},
        {"simulated, no results", false, false, 0, 5, Kind::NoResults, -1, nullptr, NO_YEARS_TO_SHOW, 0},
    };
    for (const auto& c : cases) {
        auto model = RunModelFor(c.fromFile);
        if (!c.results) model->Results.Clear();
        Session session(*model);
        session.SetReleasedYears(c.released);
        const StepOutcome outcome = session.Step(c.requested);
        EXPECT_EQ(outcome.kind, c.kind) << c.what;
        EXPECT_EQ(outcome.cutTo.value_or(-1), c.cutTo) << c.what;
        EXPECT_EQ(Text(outcome.notice), Text(c.notice)) << c.what;
        EXPECT_EQ(Text(outcome.status), Text(c.status)) << c.what;
        EXPECT_EQ(session.ReleasedYears(), c.releasedAfter) << c.what;
        EXPECT_EQ(session.StepSize(), c.cutTo >= 0 ? c.cutTo : c.requested) << c.what << ": the step size held";
    }

    // While years are left a step of fewer than one year is refused, naming
    // the range; nothing changes.
    for (const auto& [what, fromFile, results, released, requested, message] :
         {std::tuple{"simulated, step 0", false, true, 3, 0, "from 1 to 497, not 0."},
          std::tuple{"simulated, negative step", false, true, 3, -2, "from 1 to 497, not -2."},
          std::tuple{"file, step 0", true, true, 25, 0, "from 1 to 5, not 0."},
          std::tuple{"simulated, no results, step 0", false, false, 0, 0, "from 1 to 500, not 0."}}) {
        auto model = RunModelFor(fromFile);
        if (!results) model->Results.Clear();
        Session session(*model);
        session.SetReleasedYears(released);
        const int step = requested;  // clang 14 cannot capture a structured binding
        const std::string refusal = testing::ErrorText([&] { session.Step(step); });
        EXPECT_EQ(refusal, std::string("A Step takes a whole number of years ") + message) << what;
        EXPECT_EQ(session.ReleasedYears(), released) << what;
    }
}

TEST(SessionStep, TheYearCountReadsAsEnglish) {
    for (const auto& [years, text] : {std::pair{0, "    0 years"}, std::pair{1, "    1 year"}, std::pair{2, "    2 years"},
                                      std::pair{500, "    500 years"}})
        EXPECT_EQ(YearCountText(years), text);
}

// With weather from file and a record without a year the maximum is 0:
// every step is cut to nothing, and nothing is released.
TEST(SessionStep, ARecordWithoutYearsReleasesNothing) {
    TModel model;
    model.Settings.InpDat = true;
    Session session(model);
    EXPECT_EQ(session.StepMaximum(), 0);
    const StepOutcome outcome = session.Step(5);
    EXPECT_EQ(outcome.kind, StepOutcome::Kind::Nothing);
    EXPECT_EQ(outcome.cutTo, 0);
    EXPECT_EQ(session.ReleasedYears(), 0);
}

TEST(SessionStep, StepsAddUpAndARunStartsOver) {
    auto model = RunModelFor(false);
    Session session(*model);
    EXPECT_EQ(session.StepSize(), 1) << "the step box starts at one year";
    EXPECT_FALSE(session.InitialisationRestarts());
    EXPECT_THROW(session.Step(0), KelmarError);
    EXPECT_FALSE(session.InitialisationRestarts()) << "a refused step releases nothing";
    for (int step : {1, 7, 42}) session.Step(step);
    EXPECT_EQ(session.ReleasedYears(), 50);
    EXPECT_TRUE(session.InitialisationRestarts());
    session.RunReplacedResults();
    EXPECT_EQ(session.ReleasedYears(), 0);
    EXPECT_FALSE(session.InitialisationRestarts());
}

TEST(SessionStepBox, ClampsToTheMaximumOfTheInputMode) {
    using Kind = StepBoxEdit::Kind;
    const struct {
        bool fromFile;
        const char* text;
        Kind kind;
        int value;
        int stepSize;  // held afterwards, from 1
    } cases[] = {
        {true, "", Kind::Ignored, 0, 1},
        {true, "7", Kind::Accepted, 7, 7},
        {true, "0", Kind::Accepted, 0, 0},
        {true, "007", Kind::Accepted, 7, 7},
        {true, "30", Kind::Accepted, 30, 30},
        {true, "45", Kind::Corrected, 30, 1},
        {false, "45", Kind::Accepted, 45, 45},
        {false, "501", Kind::Corrected, 500, 1},
        {false, "99999999999", Kind::Corrected, 500, 1},  // too long for an int
        // Text that is no string of digits stays as typed, for Step to refuse.
        {false, "12a", Kind::Ignored, 0, 1},
        {false, "-5", Kind::Ignored, 0, 1},
        {true, "2.5", Kind::Ignored, 0, 1},
    };
    for (const auto& c : cases) {
        auto model = RunModelFor(c.fromFile);
        Session session(*model);
        const StepBoxEdit edit = session.EditStepBox(c.text);
        const std::string what = std::string(c.fromFile ? "file" : "simulated") + ", \"" + c.text + "\"";
        EXPECT_EQ(edit.kind, c.kind) << what;
        EXPECT_EQ(edit.value, c.value) << what;
        EXPECT_EQ(session.StepSize(), c.stepSize) << what;
    }
}

TEST(SessionChart, CalendarOffsetAndYearsInTheTable) {
    const struct {
        bool fromFile;
        int released;
        int offset;
        int inTable;
    } cases[] = {
        {true, 0, 0, 0},       // no year released: no offset yet
        {true, 5, 1960, 5},    // year index 1 is 1961
        {false, 5, 0, 5},      // simulated years count from 1
        {false, 600, 0, 500},  // never beyond the results table
        {false, -3, 0, 0},
    };
    for (const auto& c : cases) {
        auto model = RunModelFor(c.fromFile);
        Session session(*model);
        session.SetReleasedYears(c.released);
        EXPECT_EQ(session.CalendarOffset(), c.offset) << (c.fromFile ? "file, " : "simulated, ") << c.released;
        EXPECT_EQ(session.ReleasedInTable(), c.inTable) << (c.fromFile ? "file, " : "simulated, ") << c.released;
    }
}

TEST(SessionWeatherSave, WritesTheObservedRecordOrTheReleasedYears) {
    auto model = RunModelFor(true, 30);
    Session session(*model);
    session.SetReleasedYears(4);
    EXPECT_EQ(session.WeatherYearsToWrite(), 30);
    model->Settings.InpDat = false;
    EXPECT_EQ(session.WeatherYearsToWrite(), 4);
}

TEST(SessionResultsSave, HasYearsOnlyWhenReleasedAndRunMadeResults) {
    const struct {
        int released;
        bool results;
        bool expected;
    } cases[] = {{0, true, false}, {-1, true, false}, {3, false, false}, {3, true, true}};
    for (const auto& c : cases) {
        auto model = RunModelFor(false);
        if (!c.results) model->Results.Clear();
        Session session(*model);
        session.SetReleasedYears(c.released);
        EXPECT_EQ(session.HasYearsToSave(), c.expected) << c.released << " released, results " << c.results;
    }
}

// "Save file" adds ".csv" and moves off an existing file, which stays as
// it was; kelmar-cli writes the name it was given exactly.
TEST(SessionResultsSave, WritesTheReleasedYearsUnderAFreeNameOrExactly) {
    auto model = RunModelFor(false);
    Session session(*model);
    session.Step(3);
    const std::string expected = FormatResultsFile(model->Results, 3);
    ASSERT_FALSE(expected.empty());
    TempDir dir;
    testing::WriteBytes(dir.File("results.csv"), "kept");

    EXPECT_EQ(session.SaveResults(dir.File("results")), dir.File("results1.csv"));
    EXPECT_EQ(ReadBytes(dir.File("results1.csv")), expected);
    EXPECT_EQ(ReadBytes(dir.File("results.csv")), "kept");

    EXPECT_EQ(session.WriteResults(dir.File("exact.txt")), dir.File("exact.txt"));
    EXPECT_EQ(ReadBytes(dir.File("exact.txt")), expected);
}

}  // namespace
}  // namespace kelmar
