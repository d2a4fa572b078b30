// Simulated runs of fewer years and from another first year: the first years
// of the full run of the same seed, numbered from the first year asked for,
// and refused before anything changes when they cannot be written.
#include "model/run_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "model/errors.h"
#include "model/model_fixtures.h"
#include "model/record_fields.h"

namespace kelmar {
namespace {

using testing::RecordingNotifier;
using testing::SimulatedModel;

std::unique_ptr<TModel> Simulated(std::int32_t yearBeg, std::int32_t years, double trendT, double trendPrec) {
    auto model = SimulatedModel(77);
    model->Settings.SimulatedYearBeg = yearBeg;
    model->Settings.SimulatedYears = years;
    model->Settings.TrendT = trendT;
    model->Settings.TrendPrec = trendPrec;
    RecordingNotifier notifier;
    EXPECT_EQ(RunModel(*model, notifier), RunOutcome::Completed);
    return model;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SimulatedYears, AShorterRunIsTheStartOfTheFullRunUnderItsOwnYears) {
    const struct {
        std::int32_t yearBeg, years;
        double trendT, trendPrec;  // degC and % per 100 years
    } cases[] = {
        {1961, 30, 0, 0},  {1, 1, 0, 0},      {9999, 1, 0, 0},       {9500, 500, 0, 0},
        {2001, 100, 3, 0}, {1850, 250, 0, -15}, {1, 17, 3.5, 15},
    };
    for (const auto& c : cases) {
        const auto full = Simulated(1, MAX_YEARS, c.trendT, c.trendPrec);
        const auto part = Simulated(c.yearBeg, c.years, c.trendT, c.trendPrec);
        const std::string which = "first year " + std::to_string(c.yearBeg) + ", " + std::to_string(c.years) +
                                  " years, trends " + std::to_string(c.trendT) + " degC and " +
                                  std::to_string(c.trendPrec) + " %";
        EXPECT_EQ(part->AvailableYears, c.years) << which;
        EXPECT_EQ(part->Settings.YearBeg, c.yearBeg) << which;
        EXPECT_EQ(part->Settings.YearEnd, c.yearBeg + c.years - 1) << which;
        // The climatology the trend changed year by year is given back.
        EXPECT_TRUE(SameBits(part->Climate.av_Ta[7], SimulatedModel(77)->Climate.av_Ta[7])) << which;
        for (int i = 1; i <= MAX_YEARS; ++i)
            for (int k = 0; k <= 12; ++k) {
                const TResultRecord& r = part->Results.At(i, k);
                const std::string where = which + ": year index " + std::to_string(i) + ", slot " + std::to_string(k);
                if (i > c.years) {
                    ASSERT_EQ(r.Year, 0) << where << " lies beyond the run";
                    continue;
                }
                const TResultRecord& f = full->Results.At(i, k);
                ASSERT_EQ(r.Year, k == 0 ? 0 : c.yearBeg + i - 1) << where;
                ASSERT_EQ(r.Month, k) << where;
                for (const ResultField& field : RESULT_FIELDS)
                    ASSERT_TRUE(SameBits(r.*field.Value, f.*field.Value))
                        << where << ", " << field.Name << ": " << r.*field.Value << " against the full run's "
                        << f.*field.Value;
            }
    }
}

TEST(SimulatedYears, YearsTheRunCannotWriteAreRefusedBeforeAnythingChanges) {
    const struct {
        std::int32_t yearBeg, years;
        const char* refusal;  // a piece of the message; empty: the run goes ahead
    } cases[] = {
        {1, 500, ""},
        {9500, 500, ""},
        {9991, 9, ""},
        {9999, 1, ""},
        {0, 500, "The first simulated year takes a whole number from 1 to 9500 for a run of 500 years"},
        {-5, 10, "from 1 to 9990 for a run of 10 years"},
        {9501, 500, "from 1 to 9500"},
        {9992, 9, "from 1 to 9991"},
        {1, 0, "The number of simulated years takes a whole number from 1 to 500, not 0."},
        {1, 501, "from 1 to 500, not 501."},
        {1, -1, "not -1."},
    };
    for (const auto& c : cases) {
        const std::string which = "first year " + std::to_string(c.yearBeg) + ", " + std::to_string(c.years) + " years";
        auto model = Simulated(1, 3, 0, 0);  // results a refusal must leave
        model->Settings.SimulatedYearBeg = c.yearBeg;
        model->Settings.SimulatedYears = c.years;
        RecordingNotifier notifier;
        std::string message;
        try {
            RunModel(*model, notifier);
        } catch (const KelmarError& e) {
            message = e.what();
        }
        if (*c.refusal == '\0') {
            EXPECT_EQ(message, "") << which;
            EXPECT_EQ(model->AvailableYears, c.years) << which;
            continue;
        }
        EXPECT_NE(message.find(c.refusal), std::string::npos) << which << ": \"" << message << "\"";
        EXPECT_EQ(model->AvailableYears, 3) << which;
        EXPECT_EQ(model->Results.At(3, 12).Year, 3) << which;
        EXPECT_EQ(model->Settings.YearBeg, 1) << which;
    }
}

}  // namespace
}  // namespace kelmar
