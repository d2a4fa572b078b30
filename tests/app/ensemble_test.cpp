// Ensembles: replicates on their own streams, the same whatever the jobs,
// each repeatable alone, and summaries that agree with the climatology.
#include "app/ensemble.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>

#include "app/random_streams.h"
#include "io/io_test_support.h"
#include "model/errors.h"
#include "model/model_fixtures.h"
#include "model/run_model.h"
#include "numerics/summary_statistics.h"

namespace kelmar {
namespace {

using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
    return fields;
}

struct Ensemble : ::testing::Test {
    TempDir dir;
    std::unique_ptr<TModel> prepared = testing::SimulatedModel(0);

    EnsembleOptions Options(const std::string& out, int replicates, int jobs) {
        EnsembleOptions o;
        o.Replicates = replicates;
        o.Seed = 2024;
        o.Jobs = jobs;
        o.SiteId = "worked";
        o.ScenarioName = "none";
        o.OutDir = dir.File(out);
        o.Version = "test";
        return o;
    }
};

// Every replicate is the same with one thread or two, for both generators,
// and replicate r is the single run started where its stream starts: with
// lcg32 from the state annual.csv gives it.
TEST_F(Ensemble, ReplicatesAreTheSameWhateverTheJobsAndRepeatAlone) {
    for (const RandomKind rng : {RandomKind::Lcg32, RandomKind::Pcg64}) {
        const std::string name = RandomKindName(rng);
        EnsembleOptions one = Options("one", 5, 1), two = Options("two", 5, 2);
        one.Rng = two.Rng = rng;
        RunEnsemble(*prepared, nullptr, one);
        RunEnsemble(*prepared, nullptr, two);
        const std::string monthly = ReadBytes(dir.File("one/monthly.csv"));
        ASSERT_EQ(monthly, ReadBytes(dir.File("two/monthly.csv"))) << name;
        ASSERT_EQ(ReadBytes(dir.File("one/annual.csv")), ReadBytes(dir.File("two/annual.csv"))) << name;
        EXPECT_NE(ReadBytes(dir.File("one/ensemble.txt")).find(name), std::string::npos) << name;

        // Replicate 3, January of year 1, against a single run.
        const std::string row = "\nworked,none,3,1,1,";
        const std::size_t at = monthly.find(row);
        ASSERT_NE(at, std::string::npos) << name;
        const double tair = std::stod(Split(monthly.substr(at + 1, monthly.find('\n', at + 1) - at - 1))[5]);
        auto single = std::make_unique<TModel>(*prepared);
        if (rng == RandomKind::Lcg32) {
            const std::string annual = ReadBytes(dir.File("one/annual.csv"));
            const std::size_t year1 = annual.find("\nworked,none,3,1,");
            ASSERT_NE(year1, std::string::npos);
            const auto fields = Split(annual.substr(year1 + 1, annual.find('\n', year1 + 1) - year1 - 1));
            single->Random.SetState(static_cast<std::uint32_t>(std::stoul(fields.back())));
            EXPECT_EQ(single->Random.State(), RandomSource::Jump(2024, 3 * streams::UNIFORMS_PER_RUN));
        } else {
            single->Random.SetPcg64(2024);
            for (std::uint64_t i = 0; i < 3 * streams::UNIFORMS_PER_RUN; ++i) single->Random.UniformRandom();
        }
        testing::RecordingNotifier notifier;
        RunModel(*single, notifier);
        EXPECT_EQ(tair, single->Results.At(1, 1).Tair) << name << ": replicate 3 is not its stream's single run";
    }
}

// The ensemble mean of the monthly air temperature, over 200 replicates of
// 500 years, lies within three standard errors (sd / sqrt(n)) of the
// climatology's mean, with and without a change of +2 degC.
TEST_F(Ensemble, MeanOfTwoHundredReplicatesIsTheClimatologysMean) {
    for (const double change : {0.0, 2.0}) {
        TScenario scenario;
        scenario.DeltaT.fill(change);
        EnsembleOptions o = Options("summary", 200, 2);
        o.Summary = true;
        RunEnsemble(*prepared, &scenario, o);
        std::stringstream summary(ReadBytes(dir.File("summary/summary_monthly.csv")));
        std::string line;
        std::getline(summary, line);
        EXPECT_EQ(line, "site_id,scenario,month,variable,n,mean,sd,p05,p25,p50,p75,p95");
        int months = 0;
        while (std::getline(summary, line)) {
            const auto f = Split(line);
            if (f[3] != "tair_degC") continue;
            const int month = std::stoi(f[2]);
            const double n = std::stod(f[4]), mean = std::stod(f[5]), sd = std::stod(f[6]);
            EXPECT_EQ(n, 200 * 500);
            const double expected = prepared->Climate.av_Ta[month] + change;
            const double error = sd / std::sqrt(n);
            EXPECT_LE(std::fabs(mean - expected), 3 * error)
                << "month " << month << ", change " << change << ": mean " << mean << ", climatology " << expected
                << ", standard error " << error;
            EXPECT_LT(std::stod(f[7]), std::stod(f[9])) << "5th percentile above the median, month " << month;
            ++months;
        }
        EXPECT_EQ(months, 12);
    }
    const std::string annual = ReadBytes(dir.File("summary/summary_annual.csv"));
    EXPECT_EQ(std::count(annual.begin(), annual.end(), '\n'), 1 + 500 * 9);
}

// The summaries' percentiles are the very values of each month's sorted
// sample of every replicate's table, and the same with one thread or two:
// up to 64 replicates from every value kept, past 64 from bins a pilot of
// the first replicates planned.
TEST_F(Ensemble, SummaryPercentilesAreTheSortedTablesPercentiles) {
    for (const int replicates : {20, 65}) {
        const std::string name = std::to_string(replicates);
        EnsembleOptions one = Options(name + "one", replicates, 1), two = Options(name + "two", replicates, 2);
        one.Summary = two.Summary = true;
        RunEnsemble(*prepared, nullptr, one);
        RunEnsemble(*prepared, nullptr, two);
        const std::string summary = ReadBytes(dir.File(name + "one/summary_monthly.csv"));
        ASSERT_EQ(summary, ReadBytes(dir.File(name + "two/summary_monthly.csv"))) << replicates << " replicates";
        ASSERT_EQ(ReadBytes(dir.File(name + "one/summary_annual.csv")), ReadBytes(dir.File(name + "two/summary_annual.csv")))
            << replicates << " replicates";

        RunEnsemble(*prepared, nullptr, Options(name + "tables", replicates, 2));
        std::stringstream tables(ReadBytes(dir.File(name + "tables/monthly.csv")));
        std::string line;
        std::getline(tables, line);
        const std::vector<std::string> columns = Split(line);
        // [column][month - 1]: every year of every replicate.
        std::vector<std::array<std::vector<double>, 12>> samples(columns.size());
        while (std::getline(tables, line)) {
            const auto f = Split(line);
            const int month = std::stoi(f[4]);
            for (std::size_t c = 5; c < f.size(); ++c) samples[c][month - 1].push_back(std::stod(f[c]));
        }

        std::stringstream rows(summary);
        std::getline(rows, line);
        int checked = 0;
        while (std::getline(rows, line)) {
            const auto f = Split(line);
            const int month = std::stoi(f[2]);
            const std::size_t column = std::find(columns.begin(), columns.end(), f[3]) - columns.begin();
            ASSERT_LT(column, columns.size()) << f[3];
            std::vector<double>& values = samples[column][month - 1];
            const std::string where = f[3] + ", month " + f[2] + ", " + name + " replicates";
            ASSERT_EQ(std::stoul(f[4]), values.size()) << where;
            std::sort(values.begin(), values.end());
            for (std::size_t q = 0; q < 5; ++q)
                EXPECT_EQ(std::stod(f[7 + q]), SortedQuantile(values, SUMMARY_PROBABILITIES[q]))
                    << where << ", percentile " << SUMMARY_PROBABILITIES[q] * 100;
            double sum = 0;
            for (const double v : values) sum += v;
            const double mean = sum / static_cast<double>(values.size());
            EXPECT_NEAR(std::stod(f[5]), mean, 1e-9 * (1 + std::fabs(mean))) << where;
            ++checked;
        }
        EXPECT_EQ(checked, 12 * 9) << replicates << " replicates";
    }
}

TEST_F(Ensemble, RefusesMoreLcg32ReplicatesThanItsPeriodHoldsApart) {
    const std::string message =
        testing::ErrorText([&] { RunEnsemble(*prepared, nullptr, Options("big", 19882, 1)); });
    EXPECT_NE(message.find("use --rng pcg64"), std::string::npos) << message;
}

// A pcg64 seed takes all 64 bits: the seed column of annual.csv holds it
// whole, not wrapped to a negative number, so that it repeats the run.
TEST_F(Ensemble, Pcg64SeedColumnKeepsAllSixtyFourBits) {
    EnsembleOptions options = Options("wide", 1, 1);
    options.Rng = RandomKind::Pcg64;
    options.Seed = 18446744073709551615u;  // 2^64 - 1
    RunEnsemble(*prepared, nullptr, options);
    const std::string annual = ReadBytes(dir.File("wide/annual.csv"));
    const std::size_t year1 = annual.find("\nworked,none,0,1,");
    ASSERT_NE(year1, std::string::npos) << annual.substr(0, 300);
    const auto fields = Split(annual.substr(year1 + 1, annual.find('\n', year1 + 1) - year1 - 1));
    EXPECT_EQ(fields.back(), "18446744073709551615") << "seed column of year 1, base seed 2^64 - 1";
}

}  // namespace
}  // namespace kelmar
