// Ensembles and batches of fewer simulated years from another first year:
// each replicate and each simulated site is the start of its full run,
// summaries are of the years run, and what the folders record keeps the
// bytes of full runs and refuses to be joined with other years.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "app/batch/batch_records.h"
#include "app/batch/batch_run.h"
#include "app/ensemble.h"
#include "batch_fixture.h"
#include "io/io_test_support.h"
#include "model/model_fixtures.h"
#include "model/record_fields.h"
#include "numerics/summary_statistics.h"

namespace kelmar {
namespace {

using kelmar::testing::ErrorText;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;

const std::string EXAMPLES = KELMAR_EXAMPLES_DIR;

// Every replicate's results table, by replicate.
class KeepingSink : public ReplicateSink {
public:
    void Take(int replicate, const TModel& model, std::uint64_t) override {
        std::lock_guard<std::mutex> guard(Lock);
        Tables[replicate] = std::make_unique<TResultsTable>(model.Results);
        Years[replicate] = model.AvailableYears;
    }
    std::map<int, std::unique_ptr<TResultsTable>> Tables;
    std::map<int, int> Years;

private:
    std::mutex Lock;
};

std::unique_ptr<TModel> Prepared(std::int32_t yearBeg, std::int32_t years) {
    auto model = testing::SimulatedModel(0);
    model->Settings.SimulatedYearBeg = yearBeg;
    model->Settings.SimulatedYears = years;
    return model;
}

EnsembleOptions Replicates(int count) {
    EnsembleOptions o;
    o.Replicates = count;
    o.Seed = 2024;
    o.Jobs = 2;
    o.SiteId = "worked";
    o.ScenarioName = "none";
    o.Version = "test";
    return o;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SimulatedYearsEnsemble, EachReplicateIsTheStartOfItsFullRun) {
    TScenario trend;
    trend.TrendT = 3;
    trend.TrendPrec = -15;
    for (const TScenario* scenario : std::initializer_list<const TScenario*>{nullptr, &trend}) {
        for (const RandomKind rng : {RandomKind::Lcg32, RandomKind::Pcg64}) {
            EnsembleOptions options = Replicates(4);
            options.Rng = rng;
            KeepingSink full, part;
            RunReplicates(*Prepared(1, MAX_YEARS), scenario, options, full);
            RunReplicates(*Prepared(1991, 40), scenario, options, part);
            for (const int r : {1, 3}) {
                const std::string which = std::string(RandomKindName(rng)) + (scenario ? ", trend" : "") +
                                          ", replicate " + std::to_string(r);
                ASSERT_EQ(part.Years[r], 40) << which;
                for (int i = 1; i <= 40; ++i)
                    for (int k = 0; k <= 12; ++k) {
                        const TResultRecord &p = part.Tables[r]->At(i, k), &f = full.Tables[r]->At(i, k);
                        ASSERT_EQ(p.Year, k == 0 ? 0 : 1990 + i) << which << ", year index " << i;
                        for (const ResultField& field : RESULT_FIELDS)
                            ASSERT_TRUE(SameBits(p.*field.Value, f.*field.Value))
                                << which << ", year index " << i << ", slot " << k << ", " << field.Name << ": "
                                << p.*field.Value << " against " << f.*field.Value;
                    }
            }
        }
    }
}

// A trend is checked over the years the run has: one that would take the
// temperature beyond 20 degC over 500 years may run 40.
TEST(SimulatedYearsEnsemble, ATrendIsCheckedOverTheYearsRun) {
    TScenario steep;
    steep.TrendT = 10;
    KeepingSink full, part;
    const std::string refused = ErrorText([&] { RunReplicates(*Prepared(1, MAX_YEARS), &steep, Replicates(2), full); });
    EXPECT_NE(refused.find("over 500 years"), std::string::npos) << refused;
    EXPECT_EQ(ErrorText([&] { RunReplicates(*Prepared(1, 40), &steep, Replicates(2), part); }), "");
    EXPECT_EQ(part.Years[1], 40);
}

// The summaries of N years against the replicates' own values, for few
// replicates (every value kept) and for many (percentiles from bins).
TEST(SimulatedYearsEnsemble, SummariesAreOfTheYearsRun) {
    constexpr int YEARS = 6, FIRST = 1901;
    for (const int replicates : {5, 70}) {
        const auto prepared = Prepared(FIRST, YEARS);
        const EnsembleOptions options = Replicates(replicates);
        const EnsembleSummaries summaries = SummarizeReplicates(*prepared, nullptr, options);
        KeepingSink sink;
        RunReplicates(*prepared, nullptr, options, sink);
        const std::string which = std::to_string(replicates) + " replicates";
        ASSERT_EQ(summaries.Years, YEARS) << which;
        ASSERT_EQ(summaries.YearOf.size(), YEARS + 1u) << which;
        for (int i = 1; i <= YEARS; ++i) EXPECT_EQ(summaries.YearOf[i], FIRST + i - 1) << which;
        ASSERT_EQ(summaries.ByYear.size(), RESULT_FIELDS.size() * YEARS) << which;
        for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f) {
            const auto value = RESULT_FIELDS[f].Value;
            for (int k = 1; k <= 12; ++k) {
                std::vector<double> values;
                for (int r = 0; r < replicates; ++r)
                    for (int i = 1; i <= YEARS; ++i) values.push_back(sink.Tables[r]->At(i, k).*value);
                std::sort(values.begin(), values.end());
                const SampleSummary& s = summaries.ByMonth[f * 12 + k - 1];
                const std::string where = which + ", " + RESULT_FIELDS[f].Name + ", month " + std::to_string(k);
                ASSERT_EQ(s.Count, values.size()) << where;
                for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q)
                    EXPECT_EQ(s.Percentiles[q], SortedQuantile(values, SUMMARY_PROBABILITIES[q]))
                        << where << ", percentile " << SUMMARY_PROBABILITIES[q] * 100;
            }
            for (int i = 1; i <= YEARS; ++i) {
                std::vector<double> values;
                for (int r = 0; r < replicates; ++r) values.push_back(sink.Tables[r]->At(i, 0).*value);
                std::sort(values.begin(), values.end());
                const SampleSummary& s = summaries.ByYear[f * YEARS + i - 1];
                EXPECT_EQ(s.Count, static_cast<std::size_t>(replicates)) << which << ", year index " << i;
                EXPECT_EQ(s.Percentiles[2], SortedQuantile(values, 0.5))
                    << which << ", " << RESULT_FIELDS[f].Name << ", year index " << i;
            }
        }
    }
}

TEST(SimulatedYearsEnsemble, TheFolderRecordsYearsOnlyWhenAskedFor) {
    TempDir dir;
    const struct {
        std::int32_t yearBeg, years;
        const char* recorded;  // the lines after "scenario: none\n"
        const char* firstRow;  // of annual.csv, to its values
    } cases[] = {
        {1, MAX_YEARS, "", "worked,none,0,1,"},
        {1961, MAX_YEARS, "start_year: 1961\n", "worked,none,0,1961,"},
        {1, 30, "run_years: 30\n", "worked,none,0,1,"},
        {2021, 80, "start_year: 2021\nrun_years: 80\n", "worked,none,0,2021,"},
    };
    for (const auto& c : cases) {
        EnsembleOptions options = Replicates(2);
        options.OutDir = dir.File("e" + std::to_string(c.yearBeg) + "-" + std::to_string(c.years));
        RunEnsemble(*Prepared(c.yearBeg, c.years), nullptr, options);
        const std::string manifest = ReadBytes(options.OutDir + "/ensemble.txt");
        const std::string expected = std::string("scenario: none\n") + c.recorded + "outputs: ";
        EXPECT_NE(manifest.find(expected), std::string::npos) << manifest;
        const std::string annual = ReadBytes(options.OutDir + "/annual.csv");
        EXPECT_EQ(std::count(annual.begin(), annual.end(), '\n'), 1 + 2 * c.years) << options.OutDir;
        EXPECT_EQ(annual.find('\n' + std::string(c.firstRow)), annual.find('\n')) << annual.substr(0, 300);
    }
}

namespace batch_years {

using batch::BatchOptions;
using batch::MergeBatch;
using batch::RunBatch;

// The rows of `table` whose first field is `site`, without it.
std::vector<std::string> SiteRows(const std::string& table, const std::string& site) {
    std::istringstream in(table);
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(site + ",", 0) == 0) rows.push_back(line.substr(site.size() + 1));
    return rows;
}

// A row's fields after the first `skip`, which name the task and the year.
std::string Values(const std::string& row, int skip) {
    std::size_t at = 0;
    for (int i = 0; i < skip; ++i) at = row.find(',', at) + 1;
    return row.substr(at);
}

struct BatchYears : ::testing::Test {
    TempDir dir;
    std::ostringstream err;

    void SetUp() override {
        // Site s simulated, site o observed weather (1961 on).
        WriteBytes(dir.File("sites.csv"), "site_id,site_file,climate_file,weather_file\n"
                                          "s," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld,\n"
                                          "o," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld," + EXAMPLES +
                                          "/weather.wed\n");
        WriteBytes(dir.File("trend.csv"), "scenario,trend_t,trend_precip\nrising,3,-15\n");
    }

    BatchOptions Options(const std::string& out, std::int32_t yearBeg, std::int32_t years) {
        BatchOptions o = batch::testing::TestBatch(dir, out, 2, 7);
        o.StartYear = yearBeg;
        o.RunYears = years;
        return o;
    }
};

TEST_F(BatchYears, ASimulatedSiteIsTheStartOfItsFullRunAndAnObservedOneKeepsItsYears) {
    for (const bool trend : {false, true}) {
        BatchOptions full = Options(trend ? "full-trend" : "full", 1, MAX_YEARS);
        BatchOptions part = Options(trend ? "part-trend" : "part", 2001, 25);
        if (trend) full.ScenariosFile = part.ScenariosFile = dir.File("trend.csv");
        ASSERT_EQ(RunBatch(full, err).Failed, 0) << err.str();
        ASSERT_EQ(RunBatch(part, err).Failed, 0) << err.str();
        const int skip = trend ? 3 : 1;  // scenario, replicate and year, or the year
        for (const char* table : {"monthly.csv", "annual.csv"}) {
            const std::string which = std::string(table) + (trend ? " under a trend" : "");
            const auto whole = SiteRows(ReadBytes(full.OutDir + "/" + table), "s");
            const auto start = SiteRows(ReadBytes(part.OutDir + "/" + table), "s");
            const std::size_t perYear = table[0] == 'm' ? 12 : 1;
            ASSERT_EQ(start.size(), 25 * perYear) << which;
            for (std::size_t n = 0; n < start.size(); ++n) {
                const std::string year = std::to_string(2001 + n / perYear);
                EXPECT_NE(start[n].find(year + ","), std::string::npos) << which << " row " << n << ": " << start[n];
                ASSERT_EQ(Values(start[n], skip), Values(whole[n], skip)) << which << " row " << n;
            }
            EXPECT_TRUE(SiteRows(ReadBytes(full.OutDir + "/" + table), "o") ==
                        SiteRows(ReadBytes(part.OutDir + "/" + table), "o"))
                << which << ": the observed site's rows changed with the simulated years";
        }
    }
}

TEST_F(BatchYears, TheManifestRecordsYearsOnlyWhenAskedForAndAResumeMustKeepThem) {
    RunBatch(Options("plain", 1, MAX_YEARS), err);
    const std::string plain = ReadBytes(dir.File("plain/manifest.txt"));
    for (const char* key : {"start_year", "run_years"}) EXPECT_EQ(plain.find(key), std::string::npos) << plain;

    BatchOptions years = Options("years", 1850, 30);
    years.KeepParts = true;  // the done-files are looked into
    RunBatch(years, err);
    const std::string manifest = ReadBytes(dir.File("years/manifest.txt"));
    EXPECT_NE(manifest.find("\nstart_year=1850\nrun_years=30\n"), std::string::npos) << manifest;
    EXPECT_NE(ReadBytes(dir.File("years/parts/chunk-000000.done")).find("\nstart_year=1850\nrun_years=30\n"),
              std::string::npos);

    const struct {
        std::int32_t yearBeg, years;
        const char* named;  // what the refusal says, the batch's values first
    } cases[] = {
        {1, 30, "was started with --start-year 1850 (this run: --start-year 1)"},
        {1850, MAX_YEARS, "was started with --run-years 30 (this run: --run-years 500)"},
        {1900, 40, "--start-year 1850 --run-years 30 (this run: --start-year 1900 --run-years 40)"},
    };
    for (const auto& c : cases) {
        BatchOptions resume = Options("years", c.yearBeg, c.years);
        resume.Resume = true;
        const std::string message = ErrorText([&] { RunBatch(resume, err); });
        EXPECT_NE(message.find(c.named), std::string::npos) << message;
        BatchOptions late = Options("years", c.yearBeg, c.years);
        late.Share = batch::Shard{1, 2};
        EXPECT_NE(ErrorText([&] { RunBatch(late, err); }).find(c.named), std::string::npos) << "a late shard";
    }
    BatchOptions same = Options("years", 1850, 30);
    same.Resume = true;
    EXPECT_EQ(RunBatch(same, err).Failed, 0);

    // Shards with the same years merge; the merge takes the years of the manifest.
    for (int k = 0; k < 2; ++k) {
        BatchOptions shard = Options("shards", 1850, 30);
        shard.Share = batch::Shard{k, 2};
        RunBatch(shard, err);
    }
    EXPECT_EQ(MergeBatch(dir.File("shards"), "test", err).Failed, 0);
    EXPECT_EQ(ReadBytes(dir.File("shards/annual.csv")), ReadBytes(dir.File("years/annual.csv")));

    BatchOptions bad = Options("bad", 9990, 11);
    EXPECT_NE(ErrorText([&] { RunBatch(bad, err); }).find("--start-year takes a whole number from 1 to 9989"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad")));
}

// A manifest's years read back, refused out of range, and told apart in
// the done-files: a chunk of other years is another batch's.
TEST(SimulatedYearsManifest, ReadBackRefusedOutOfRangeAndTellingChunksApart) {
    batch::Manifest m;
    m.Version = "test";
    m.ListHash = "00000000000000ff";
    m.Sites = 3;
    m.BaseSeed = 9;
    m.Format = "csv";
    m.StartYear = 1850;
    m.RunYears = 30;
    const std::string text = m.Text();
    const std::optional<batch::Manifest> back = batch::Manifest::Parse(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(back->StartYear, 1850);
    EXPECT_EQ(back->RunYears, 30);
    EXPECT_EQ(back->Text(), text);
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        return changed.replace(changed.find(from), from.size(), to);
    };
    for (const std::string& bad :
         {replaced("start_year=1850", "start_year=abc"), replaced("start_year=1850", "start_year=0"),
          replaced("start_year=1850", "start_year=9971"), replaced("run_years=30", "run_years=0"),
          replaced("run_years=30", "run_years=501"), replaced("run_years=30", "run_years=3x")})
        EXPECT_FALSE(batch::Manifest::Parse(bad).has_value()) << bad;
    EXPECT_TRUE(batch::Manifest::Parse(replaced("start_year=1850", "start_year=9970")).has_value());

    batch::ChunkRecord record;
    record.SiteCount = 3;
    record.Shard = "0/1";
    record.Stream = "shard-0-of-1";
    record.Ranges = {{0, 10}};
    record.Checks = {{0x0123456789abcdefull, 1}};
    const std::vector<std::string> streams = {"monthly"};
    const std::string done = batch::ChunkText(m, 0, record, streams);
    batch::ChunkRecord read;
    EXPECT_EQ(batch::ParseChunk(done, m, 0, streams, read), batch::ChunkVerdict::Recorded);
    for (const auto& [yearBeg, years] : {std::pair{1, 30}, std::pair{1850, MAX_YEARS}, std::pair{1851, 30}}) {
        batch::Manifest other = m;
        other.StartYear = yearBeg;
        other.RunYears = years;
        EXPECT_EQ(batch::ParseChunk(done, other, 0, streams, read), batch::ChunkVerdict::Foreign)
            << "a chunk of years 1850 + 30 read for " << yearBeg << " + " << years;
    }
}

}  // namespace batch_years

}  // namespace
}  // namespace kelmar
