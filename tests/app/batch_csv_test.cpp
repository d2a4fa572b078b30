// The batch's CSV tables as every reader takes them: numbers at the digits
// asked for, each error on one physical line, and a finished batch that
// leaves no parts behind, whatever command meets its folder next.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_run.h"
#include "app/batch/batch_tables.h"
#include "io/csv_text.h"
#include "batch_fixture.h"
#include "io/io_test_support.h"

namespace kelmar::batch {
namespace {

namespace fs = std::filesystem;
using kelmar::testing::ErrorText;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;

const std::string EXAMPLES = KELMAR_EXAMPLES_DIR;

TEST(CsvNumbers, SignificantDigitsAsAskedAndTheShortestByDefault) {
    const struct {
        double value;
        int digits;
        const char* text;
    } cases[] = {
        {1.0 / 3, SHORTEST_DIGITS, "0.3333333333333333"},
        {1.0 / 3, 6, "0.333333"},
        {20.0, 6, "20"},
        {-12.345678, 4, "-12.35"},
        {99.99996, 6, "100"},
        {123456789.125, 6, "1.23457e+08"},
        {0.000012345, 3, "1.23e-05"},
        {-0.0, 6, "-0"},
        {0.1, 17, "0.10000000000000001"},
        {5e-324, SHORTEST_DIGITS, "5e-324"},
    };
    for (const auto& c : cases) {
        std::string text;
        AppendNumber(text, c.value, c.digits);
        EXPECT_EQ(text, c.text) << c.value << " at " << c.digits << " digits";
    }
    // Any double at any digits fits the rows' buffers, and 17 digits read back.
    std::mt19937_64 random(7);
    for (int k = 0; k < 20000; ++k) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        const int digits = k % (MAX_CSV_DIGITS + 1);
        char buffer[MAX_NUMBER_CHARS];
        const char* const start = buffer;
        const char* end = PutNumber(buffer, value, digits);
        ASSERT_TRUE(end > buffer && end <= buffer + MAX_NUMBER_CHARS) << value << " at " << digits << " digits";
        if (digits == MAX_CSV_DIGITS || digits == SHORTEST_DIGITS)
            ASSERT_EQ(std::strtod(std::string(start, end).c_str(), nullptr), value)
                << std::string(start, end) << " at " << digits << " digits";
    }
    for (const int bad : {-1, 18}) {
        const std::string message = ErrorText([&] { CheckCsvDigits(bad); });
        EXPECT_NE(message.find("--csv-digits needs 1 to 17"), std::string::npos) << bad << ": " << message;
    }
}

TEST(ErrorRows, EveryMessageIsOnePhysicalLine) {
    const struct {
        const char* message;
        const char* line;
    } cases[] = {
        {"File soil parameters \"x.sit\" not found\nfor the site on line 77 of \"sites.csv\"",
         "File soil parameters \"x.sit\" not found; for the site on line 77 of \"sites.csv\""},
        // After a stop or a comma, a space.
        {"No whole year\nunder the scenario \"warm\", replicate 3,\nfor the site on line 2 of \"l.csv\"",
         "No whole year; under the scenario \"warm\", replicate 3, for the site on line 2 of \"l.csv\""},
        {"a\r\nb\rc", "a; b; c"},
        {"File soil parameters (x.sit) not found.\nfor the site on line 2 of \"l.csv\"",
         "File soil parameters (x.sit) not found. for the site on line 2 of \"l.csv\""},
        {"faults:\n  line 2\n\n  line 5  \n", "faults: line 2; line 5"},
        {"  one line, kept as it is  ", "  one line, kept as it is  "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OneLine(c.message), c.line) << c.message;
        std::string row;
        AppendErrorRow(row, "p,1", c.message);
        EXPECT_EQ(row.find_first_of("\r\n"), row.size() - 1) << row;
        CsvReader reader(row, "errors.csv");
        std::vector<std::string> fields;
        ASSERT_TRUE(reader.Next(fields)) << row;
        EXPECT_EQ(fields, (std::vector<std::string>{"p,1", c.line})) << row;
    }
}

// Observed-weather sites (30 years each, fast) with one whose site file is
// missing, in the second of three chunks.
struct FinishedBatch : ::testing::Test {
    static constexpr int SITES = 150;
    TempDir dir;
    std::ostringstream err;

    void SetUp() override {
        std::string text = "site_id,site_file,climate_file,weather_file\n";
        for (int i = 0; i < SITES; ++i)
            text += "p" + std::to_string(i) + "," + EXAMPLES + (i == 75 ? "/missing.sit," : "/soil.sit,") + EXAMPLES +
                    "/climat.cld," + EXAMPLES + "/weather.wed\n";
        WriteBytes(dir.File("sites.csv"), text);
    }

    BatchOptions Options(const std::string& out) { return testing::TestBatch(dir, out); }
    std::string Outputs(const std::string& out) { return testing::TableBytes(dir, out); }
};

// Every number of the tables is the shortest one's rounded to the digits
// asked for; the rest of each row (ids, years, months, seeds) is as it was.
TEST_F(FinishedBatch, CsvDigitsRoundEveryNumberAndBindTheBatch) {
    RunBatch(Options("full"), err);
    BatchOptions six = Options("six");
    six.CsvDigits = 6;
    RunBatch(six, err);
    EXPECT_EQ(ReadBytes(dir.File("six/errors.csv")), ReadBytes(dir.File("full/errors.csv")));
    for (const char* table : {"monthly.csv", "annual.csv"}) {
        const std::string full = ReadBytes(dir.File(std::string("full/") + table));
        const std::string rounded = ReadBytes(dir.File(std::string("six/") + table));
        EXPECT_LT(rounded.size() * 3, full.size() * 2) << table << " is hardly smaller";
        CsvReader fullRows(full, table), roundedRows(rounded, table);
        std::vector<std::string> a, b;
        ASSERT_TRUE(fullRows.Next(a) && roundedRows.Next(b));
        ASSERT_EQ(a, b) << "the header of " << table;
        const std::size_t firstValue = std::string(table) == "monthly.csv" ? 3 : 2;
        int rows = 0;
        while (fullRows.Next(a)) {
            ASSERT_TRUE(roundedRows.Next(b)) << table << " ends early";
            ASSERT_EQ(a.size(), b.size());
            for (std::size_t k = 0; k < a.size(); ++k) {
                std::string expected = a[k];
                if (k >= firstValue && k < firstValue + RESULT_FIELDS.size()) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%.6g", std::strtod(a[k].c_str(), nullptr));
                    expected = text;
                }
                ASSERT_EQ(b[k], expected) << table << " line " << fullRows.LineNumber() << " column " << k << ": " << a[k];
            }
            ++rows;
        }
        EXPECT_FALSE(roundedRows.Next(b)) << table << " has more rows";
        EXPECT_GT(rows, 0);
    }
    EXPECT_NE(ReadBytes(dir.File("six/manifest.txt")).find("\ncsv_digits=6\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir.File("full/manifest.txt")).find("csv_digits"), std::string::npos);

    // A shard or a resume with other digits than the batch's is refused, naming both.
    const struct {
        int first, second;
        bool resume;
        const char* named[2];
    } refusals[] = {
        {6, 8, false, {"--csv-digits 6", "this run asks for --csv-digits 8"}},
        {SHORTEST_DIGITS, 6, true, {"the shortest numbers (no --csv-digits)", "asks for --csv-digits 6"}},
        {6, SHORTEST_DIGITS, true, {"--csv-digits 6", "asks for the shortest numbers"}},
    };
    int k = 0;
    for (const auto& c : refusals) {
        const std::string out = "refused" + std::to_string(k++);
        BatchOptions first = Options(out), second = Options(out);
        first.Share = Shard{0, 3};
        first.CsvDigits = c.first;
        RunBatch(first, err);
        second.Share = Shard{1, 3};
        second.Resume = c.resume;
        second.CsvDigits = c.second;
        const std::string message = ErrorText([&] { RunBatch(second, err); });
        for (const char* name : c.named) EXPECT_NE(message.find(name), std::string::npos) << out << ": " << message;
    }
    BatchOptions netcdf = Options("netcdf");
    netcdf.Format = OutputFormat::NetCdf;
    netcdf.CsvDigits = 6;
    EXPECT_NE(ErrorText([&] { RunBatch(netcdf, err); }).find("--format netcdf writes none"), std::string::npos);
}

// Before, a finished batch left every stream and done-file in parts/ (with
// --format netcdf a second copy of all its numbers) with nothing saying
// they could go.
TEST_F(FinishedBatch, PartsGoOnceTheOutputsAreInPlaceAndLaterCommandsSaySo) {
    BatchOptions kept = Options("kept");
    kept.KeepParts = true;
    RunBatch(kept, err);
    EXPECT_TRUE(fs::exists(dir.File("kept/parts/chunk-000002.done")));
    const std::string manifest = ReadBytes(dir.File("kept/manifest.txt"));
    EXPECT_EQ(manifest.find("joined"), std::string::npos) << "--keep-parts changed the manifest";

    BatchOptions both = Options("both");
    both.Format = OutputFormat::Both;
    const BatchSummary summary = RunBatch(both, err);
    EXPECT_EQ(summary.Failed, 1);
    EXPECT_FALSE(fs::exists(dir.File("both/parts")));
    EXPECT_TRUE(fs::exists(dir.File("both/results.nc")));
    EXPECT_EQ(Outputs("both"), Outputs("kept"));

    RunBatch(Options("removed"), err);
    EXPECT_FALSE(fs::exists(dir.File("removed/parts")));
    EXPECT_EQ(ReadBytes(dir.File("removed/manifest.txt")), manifest + "joined_failed_sites=1\n");

    // What later commands on the finished folder do: never run it again.
    const auto resume = [&](BatchOptions o) {
        o.Resume = true;
        return o;
    };
    BatchOptions otherSeed = resume(Options("removed"));
    otherSeed.Seed = 7;
    BatchOptions shard = Options("removed");
    shard.Share = Shard{1, 3};
    const struct {
        const char* what;
        std::function<BatchSummary()> command;
        const char* refusal;  // nullptr: the batch's summary again, nothing run
    } commands[] = {
        {"--resume", [&] { return RunBatch(resume(Options("removed")), err); }, nullptr},
        {"merge", [&] { return MergeBatch(dir.File("removed"), "test", err); }, nullptr},
        {"a late shard", [&] { return RunBatch(shard, err); }, nullptr},
        {"a new run", [&] { return RunBatch(Options("removed"), err); }, "already holds a finished batch"},
        {"--resume with another seed", [&] { return RunBatch(otherSeed, err); }, "was started with --seed 2024"},
    };
    const std::string outputs = Outputs("removed");
    for (const auto& c : commands) {
        err.str("");
        if (c.refusal) {
            const std::string message = ErrorText([&] { c.command(); });
            EXPECT_NE(message.find(c.refusal), std::string::npos) << c.what << ": " << message;
        } else {
            const BatchSummary again = c.command();
            EXPECT_EQ(again.Failed, 1) << c.what;
            EXPECT_EQ(again.Ran, 0) << c.what;
            EXPECT_NE(err.str().find("is finished: its outputs are joined and its parts removed"), std::string::npos)
                << c.what << ": " << err.str();
        }
        EXPECT_EQ(Outputs("removed"), outputs) << c.what;
        EXPECT_FALSE(fs::exists(dir.File("removed/parts"))) << c.what;
    }

    // Killed halfway through the removal: the manifest marked, a done-file
    // and a stream gone, the rest there. A --resume ends the removal.
    fs::copy(dir.File("kept"), dir.File("halfway"), fs::copy_options::recursive);
    Manifest marked = *Manifest::Parse(manifest);
    MarkJoined(dir.File("halfway"), marked, 1);
    fs::remove(dir.File("halfway/parts/chunk-000000.done"));
    fs::remove(dir.File("halfway/parts/shard-0-of-1.monthly.csv"));
    EXPECT_EQ(RunBatch(resume(Options("halfway")), err).Failed, 1);
    EXPECT_FALSE(fs::exists(dir.File("halfway/parts")));
    EXPECT_EQ(Outputs("halfway"), Outputs("kept"));

    // Killed before the mark: the parts whole, the outputs there. A
    // --resume joins again, then removes them.
    fs::copy(dir.File("kept"), dir.File("unmarked"), fs::copy_options::recursive);
    EXPECT_EQ(RunBatch(resume(Options("unmarked")), err).Failed, 1);
    EXPECT_FALSE(fs::exists(dir.File("unmarked/parts")));
    EXPECT_EQ(Outputs("unmarked"), Outputs("kept"));
}

// A merge removes every shard's parts, but none while another process
// holds a shard's lock (a shard started again); the next merge does.
TEST_F(FinishedBatch, AMergeRemovesTheShardsPartsUnlessAShardIsAtWork) {
    for (int k = 0; k < 3; ++k) {
        BatchOptions shard = Options("shards");
        shard.Share = Shard{k, 3};
        RunBatch(shard, err);
    }
    const int held = ::open(dir.File("shards/parts/shard-2-of-3.lock").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(MergeBatch(dir.File("shards"), "test", err).Failed, 1);
    EXPECT_NE(err.str().find("parts kept: another kelmar-cli holds"), std::string::npos) << err.str();
    EXPECT_TRUE(fs::exists(dir.File("shards/parts/chunk-000001.done")));
    ::close(held);
    EXPECT_EQ(MergeBatch(dir.File("shards"), "test", err).Failed, 1);
    EXPECT_FALSE(fs::exists(dir.File("shards/parts")));

    RunBatch(Options("one"), err);
    EXPECT_EQ(Outputs("shards"), Outputs("one"));

    // --keep-parts: the merge leaves the folder as it was, the manifest too.
    for (int k = 0; k < 3; ++k) {
        BatchOptions shard = Options("kept");
        shard.Share = Shard{k, 3};
        RunBatch(shard, err);
    }
    const std::string manifest = ReadBytes(dir.File("kept/manifest.txt"));
    MergeBatch(dir.File("kept"), "test", err, true);
    EXPECT_TRUE(fs::exists(dir.File("kept/parts/chunk-000002.done")));
    EXPECT_EQ(ReadBytes(dir.File("kept/manifest.txt")), manifest);
    EXPECT_EQ(Outputs("kept"), Outputs("one"));
}

}  // namespace
}  // namespace kelmar::batch
