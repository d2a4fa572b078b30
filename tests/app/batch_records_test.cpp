// The batch's own files and its order of work: the manifest and the
// done-files read back only when whole and of this batch, in the bytes
// finished batches on the disk hold; and the tasks of the pending chunks in
// list order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_inputs.h"
#include "app/batch/batch_records.h"
#include "app/batch/sinks/sink_list.h"
#include "app/batch/task_cursor.h"
#include "io/io_test_support.h"
#include "model/errors.h"

namespace kelmar::batch {
namespace {

using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;

Manifest PlainManifest() {
    Manifest m;
    m.Version = "test";
    m.ListHash = "00000000000000ff";
    m.Sites = 150;
    m.BaseSeed = 2024;
    m.Format = "csv";
    return m;
}

Manifest EnsembleManifest() {
    Manifest m = PlainManifest();
    m.ScenariosHash = "0000000000000abc";
    m.Scenarios = 2;
    m.ScenarioNames = {"warm", "dry, \"hot\""};
    m.Replicates = 3;
    m.Summary = true;
    m.Rng = "pcg64";
    return m;
}

Manifest NetcdfManifest() {
    Manifest m = PlainManifest();
    m.Format = "netcdf";
    m.NetcdfPrecision = "single";
    m.NetcdfDeflate = 9;
    return m;
}

const std::vector<std::string> CSV_STREAMS = {"monthly", "annual", "errors"};

ChunkRecord SomeChunk() {
    ChunkRecord record;
    record.Failed = 2;
    record.SiteCount = 64;
    record.Shard = "1/3";
    record.Stream = "shard-1-of-3";
    record.Ranges = {{10, 200}, {20, 30}, {16, 0}};
    record.Checks = {{0x0123456789abcdefull, 4}, {0xfedcba9876543210ull, 1}, {0x2d06800538d394c2ull, 0}};
    record.FirstYear = 1961;
    record.LastYear = 2020;
    return record;
}

// The bytes batches already on the disk hold: a change here leaves them
// unreadable to --resume and merge.
TEST(BatchRecords, TextsKeepTheBytesOfFinishedBatches) {
    EXPECT_EQ(PlainManifest().Text(),
              "kelmar-batch-manifest 1\nversion=test\nsite_list_fnv1a64=00000000000000ff\nsites=150\nchunk_sites=64\n"
              "base_seed=2024\nformat=csv\n");
    EXPECT_EQ(EnsembleManifest().Text(),
              "kelmar-batch-manifest 1\nversion=test\nsite_list_fnv1a64=00000000000000ff\nsites=150\nchunk_sites=64\n"
              "base_seed=2024\nscenario_list_fnv1a64=0000000000000abc\nscenarios=2\nreplicates=3\nsummary=1\nrng=pcg64\n"
              "format=csv\nscenario_names=warm,\"dry, \"\"hot\"\"\"\n");
    EXPECT_EQ(NetcdfManifest().Text(),
              "kelmar-batch-manifest 1\nversion=test\nsite_list_fnv1a64=00000000000000ff\nsites=150\nchunk_sites=64\n"
              "base_seed=2024\nnetcdf_precision=single\nnetcdf_deflate=9\nformat=netcdf\n");
    EXPECT_EQ(ChunkText(PlainManifest(), 1, SomeChunk(), CSV_STREAMS),
              "kelmar-batch-chunk 3\nversion=test\nsite_list_fnv1a64=00000000000000ff\nsites=150\nchunk_sites=64\n"
              "base_seed=2024\nchunk=1\nfirst_site=64\nsite_count=64\nfailed=2\nstream=shard-1-of-3\n"
              "monthly_offset=10\nmonthly_bytes=200\nmonthly_xxh3=0123456789abcdef\nmonthly_lines=4\n"
              "annual_offset=20\nannual_bytes=30\nannual_xxh3=fedcba9876543210\nannual_lines=1\n"
              "errors_offset=16\nerrors_bytes=0\nerrors_xxh3=2d06800538d394c2\nerrors_lines=0\n"
              "first_year=1961\nlast_year=2020\nshard=1/3\ndone_xxh3=87120aba1f117c44\n");
}

TEST(BatchRecords, ReadBackWholeAndRefusedWhenCutShort) {
    // Names keep every byte, a leading byte-order mark too.
    Manifest marked = EnsembleManifest();
    marked.ScenarioNames = {"\xEF\xBB\xBFwarm", "\xEF\xBB\xBF"};
    marked.InputIdentities = {"120:0123456789abcdef", "missing"};
    marked.InputsHash = FoldIdentities(marked.InputIdentities);
    std::string changed = marked.Text();
    changed.replace(changed.find("120:"), 4, "121:");
    EXPECT_FALSE(Manifest::Parse(changed).has_value()) << "an input's identity changed without the digest";
    Manifest rounded = PlainManifest();
    rounded.CsvDigits = 6;
    Manifest estimated = EnsembleManifest();
    estimated.EstimateClimate = true;
    estimated.Reference = "1961-1990";
    estimated.SaveClimate = true;
    for (const Manifest& manifest : {PlainManifest(), EnsembleManifest(), marked, NetcdfManifest(), rounded, estimated}) {
        const std::string text = manifest.Text();
        const std::optional<Manifest> back = Manifest::Parse(text);
        ASSERT_TRUE(back.has_value()) << text;
        EXPECT_EQ(back->Text(), text);
        EXPECT_EQ(back->ScenarioNames, manifest.ScenarioNames);
        for (std::size_t cut = 0; cut < text.size(); ++cut)
            EXPECT_FALSE(Manifest::Parse(text.substr(0, cut)).has_value()) << "cut at " << cut << ":\n" << text.substr(0, cut);
    }

    // Values the options refuse are no manifest either.
    Manifest both = NetcdfManifest();
    both.EstimateClimate = true;
    both.Reference = "1961-1990";
    for (const auto& [from, to] : {std::pair{"netcdf_precision=single", "netcdf_precision=half"},
                                   {"netcdf_deflate=9", "netcdf_deflate=10"}, {"netcdf_deflate=9", "netcdf_deflate=x"},
                                   {"reference=1961-1990", "reference=1990-1961"},
                                   {"reference=1961-1990", "reference=1961"},
                                   {"estimate_climate=1", "estimate_climate=0"},  // a reference without the estimate
                                   {"estimate_climate=1", "estimate_climate=yes"}}) {
        std::string text = both.Text();
        text.replace(text.find(from), std::string(from).size(), to);
        EXPECT_FALSE(Manifest::Parse(text).has_value()) << text;
    }

    const Manifest manifest = EnsembleManifest();
    const std::string done = ChunkText(manifest, 1, SomeChunk(), CSV_STREAMS);
    ChunkRecord record;
    ASSERT_EQ(ParseChunk(done, manifest, 1, CSV_STREAMS, record), ChunkVerdict::Recorded);
    EXPECT_EQ(ChunkText(manifest, 1, record, CSV_STREAMS), done);
    // A file cut anywhere, even within the lines it shares with the
    // manifest, is this batch's but no record: the chunk runs again.
    for (std::size_t cut = 0; cut < done.size(); ++cut)
        EXPECT_EQ(ParseChunk(done.substr(0, cut), manifest, 1, CSV_STREAMS, record), ChunkVerdict::Broken)
            << "cut at " << cut << ":\n" << done.substr(0, cut);
}

// The digits of the tables are of the batch's identity (the done-files
// repeat them); the mark of a joined batch comes last, after every line a
// batch without it has, and is no identity.
TEST(BatchRecords, DigitsAndTheJoinedMarkAreWrittenOnlyWhenSet) {
    Manifest m = PlainManifest();
    m.CsvDigits = 6;
    const std::string identity = "version=test\nsite_list_fnv1a64=00000000000000ff\nsites=150\nchunk_sites=64\n"
                                 "base_seed=2024\ncsv_digits=6\n";
    EXPECT_EQ(m.IdentityLines(), identity);
    const std::string unmarked = m.Text();
    m.JoinedFailed = 3;
    EXPECT_EQ(m.IdentityLines(), identity);
    EXPECT_EQ(m.Text(), unmarked + "joined_failed_sites=3\n");
    const std::optional<Manifest> back = Manifest::Parse(m.Text());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->CsvDigits, 6);
    EXPECT_EQ(back->JoinedFailed, std::optional<std::int64_t>(3));
    EXPECT_FALSE(Manifest::Parse(unmarked)->JoinedFailed.has_value());
    const struct {
        const char* from;
        const char* to;
    } refused[] = {
        {"csv_digits=6", "csv_digits=0"},      {"csv_digits=6", "csv_digits=18"},
        {"csv_digits=6", "csv_digits=six"},    {"joined_failed_sites=3", "joined_failed_sites=-1"},
        {"joined_failed_sites=3", "joined_failed_sites=151"},  // more than the 150 sites
    };
    for (const auto& c : refused) {
        std::string text = m.Text();
        text.replace(text.find(c.from), std::string(c.from).size(), c.to);
        EXPECT_FALSE(Manifest::Parse(text).has_value()) << c.to;
    }
}

// A done-file with its last line, the digest of the lines before it, made
// anew: what a hand that knew the digest would write.
std::string Resealed(const std::string& text) {
    const std::size_t last = text.rfind("done_xxh3=");
    return text.substr(0, last) + "done_xxh3=" + DigestHex(DigestOf(text.substr(0, last))) + "\n";
}

TEST(BatchRecords, DoneFilesOfAnotherBatchOrTamperedWithAreNoRecord) {
    const Manifest manifest = PlainManifest();
    const std::string done = ChunkText(manifest, 1, SomeChunk(), CSV_STREAMS);
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = done;
        return text.replace(text.find(from), from.size(), to);
    };
    const struct {
        std::string text;
        ChunkVerdict verdict;
    } cases[] = {
        {replaced("base_seed=2024", "base_seed=1"), ChunkVerdict::Foreign},
        {replaced("version=test", "version=other"), ChunkVerdict::Foreign},
        {replaced("kelmar-batch-chunk 3", "kelmar-batch-chunk 2"), ChunkVerdict::Foreign},
        // Edited by hand: the digest line no longer matches.
        {replaced("failed=2", "failed=0"), ChunkVerdict::Broken},
        {replaced("monthly_bytes=200", "monthly_bytes=100"), ChunkVerdict::Broken},
        {replaced("annual_xxh3=fedcba9876543210", "annual_xxh3=fedcba9876543211"), ChunkVerdict::Broken},
        // Edited and sealed anew: still refused where the fields make no record.
        {Resealed(replaced("chunk=1", "chunk=2")), ChunkVerdict::Broken},
        {Resealed(replaced("stream=shard-1-of-3", "stream=../elsewhere")), ChunkVerdict::Broken},
        {Resealed(replaced("stream=shard-1-of-3", "stream=.hidden")), ChunkVerdict::Broken},
        {Resealed(replaced("annual_bytes=30", "annual_bytes=-30")), ChunkVerdict::Broken},
        {Resealed(replaced("errors_offset=16\n", "")), ChunkVerdict::Broken},
        {Resealed(replaced("errors_xxh3=2d06800538d394c2\n", "")), ChunkVerdict::Broken},
        {Resealed(replaced("monthly_lines=4", "monthly_lines=-4")), ChunkVerdict::Broken},
        {Resealed(replaced("last_year=2020\n", "")), ChunkVerdict::Broken},
        {Resealed(replaced("shard=1/3", "shard=3/3")), ChunkVerdict::Broken},
        {Resealed(replaced("site_count=64", "site_count=63")), ChunkVerdict::Broken},
        {Resealed(replaced("failed=2", "failed=65")), ChunkVerdict::Broken},
        {Resealed(replaced("failed=2", "failed=1")), ChunkVerdict::Recorded},
    };
    for (const auto& c : cases) {
        ChunkRecord record;
        EXPECT_EQ(ParseChunk(c.text, manifest, 1, CSV_STREAMS, record), c.verdict) << c.text;
    }
    // Read from the folder: a record is finished only where its streams
    // reach as far as it records, and, checked by their digests, hold the
    // bytes it records.
    TempDir dir;
    std::filesystem::create_directories(dir.Folder() / PARTS_FOLDER);
    const std::vector<StreamSpec> streams = {{"monthly", ".monthly.csv", "h"}, {"annual", ".annual.csv", "h"},
                                             {"errors", ".errors.csv", "h"}};
    RecordChunk(dir.Folder(), manifest, 1, SomeChunk(), streams);
    for (const auto& [suffix, bytes] : {std::pair{".monthly.csv", 210}, {".annual.csv", 50}, {".errors.csv", 16}})
        WriteBytes(dir.File(std::string("parts/shard-1-of-3") + suffix), std::string(bytes, 'x'));
    EXPECT_TRUE(FinishedChunk(dir.Folder(), manifest, 1, streams, nullptr, nullptr, ByteCheck::Sizes).has_value());
    std::string fault;
    EXPECT_FALSE(FinishedChunk(dir.Folder(), manifest, 1, streams, nullptr, &fault).has_value());
    EXPECT_NE(fault.find("bytes 10 to 210 of its stream monthly"), std::string::npos) << fault;
    WriteBytes(dir.File("parts/shard-1-of-3.annual.csv"), std::string(49, 'x'));
    EXPECT_FALSE(FinishedChunk(dir.Folder(), manifest, 1, streams, nullptr, nullptr, ByteCheck::Sizes).has_value())
        << "a stream shorter than its record";
    bool foreign = false;
    EXPECT_FALSE(FinishedChunk(dir.Folder(), EnsembleManifest(), 1, streams, &foreign).has_value());
    EXPECT_TRUE(foreign);
}

// The digests are XXH3 64-bit, streamed or whole alike: the empty input's
// value is the one the algorithm's authors publish.
TEST(BatchRecords, DigestsAreXxh3WhetherStreamedOrWhole) {
    EXPECT_EQ(DigestHex(DigestOf("")), "2d06800538d394c2");
    const std::string text = "site_id,message\nalpha,\"one\ntwo\"\n";
    StreamDigest digest;
    for (const char c : text) digest.Update(std::string_view(&c, 1));
    EXPECT_EQ(digest.Value(), DigestOf(text));
    EXPECT_EQ(digest.Lines(), 3);
    digest.Reset();
    EXPECT_EQ(digest.Value(), DigestOf(""));
    EXPECT_EQ(digest.Lines(), 0);
}

// The streams of each format under the names and in the order the done-files
// and parts of finished batches have them, so that --resume and merge find them.
TEST(BatchSinks, EachFormatHasTheStreamsOfFinishedBatches) {
    const struct {
        const char* format;
        bool summary;
        const char* streams;
        bool saveClimate = false;
    } cases[] = {
        {"csv", false, "monthly.monthly.csv annual.annual.csv errors.errors.csv"},
        {"netcdf", false, "errors.errors.csv values.values.bin"},
        {"both", false, "monthly.monthly.csv annual.annual.csv errors.errors.csv values.values.bin"},
        {"csv", true, "errors.errors.csv summary_monthly.summary_monthly.csv summary_annual.summary_annual.csv"},
        // The climatologies come last, after every stream a batch without them has; their
        // values for climatologies.nc only with a netCDF format.
        {"both", false,
         "monthly.monthly.csv annual.annual.csv errors.errors.csv values.values.bin climatologies.climatologies.csv "
         "climatology_values.climatologies.bin",
         true},
        {"csv", false, "monthly.monthly.csv annual.annual.csv errors.errors.csv climatologies.climatologies.csv", true},
        {"netcdf", false,
         "errors.errors.csv values.values.bin climatologies.climatologies.csv climatology_values.climatologies.bin",
         true},
    };
    for (const auto& c : cases) {
        Manifest manifest = PlainManifest();
        manifest.Format = c.format;
        manifest.Summary = c.summary;
        manifest.EstimateClimate = manifest.SaveClimate = c.saveClimate;
        manifest.Replicates = c.summary ? 3 : 0;
        std::string streams;
        for (const StreamSpec& stream : StreamsOf(MakeSinks(manifest))) {
            if (!streams.empty()) streams += ' ';
            streams += stream.Name + stream.Suffix;
        }
        EXPECT_EQ(streams, c.streams) << c.format << (c.summary ? " --summary" : "");
    }
    Manifest unknown = PlainManifest();
    unknown.Format = "zarr";
    EXPECT_THROW(MakeSinks(unknown), KelmarError);
    // The first of them a folder without a manifest holds is the one named.
    EXPECT_EQ(EveryOutputName(), (std::vector<std::string>{"monthly.csv", "annual.csv", "errors.csv", "summary_monthly.csv",
                                                           "summary_annual.csv", "results.nc", "results_annual.nc",
                                                           "climatologies.csv", "climatologies.nc"}));
}

// Sites a and c simulated (two realizations), b observed (one); chunks of
// two sites, of which the second is done: the cursor gives the first and
// third chunks' tasks, site by site, scenario by scenario, replicate by
// replicate. Flags: F/L first and last of the chunk, f/l of the site, e the
// scenario's last replicate.
TEST(TaskCursor, GivesThePendingChunksTasksInListOrder) {
    TempDir dir;
    std::string list = "site_id,site_file,climate_file,weather_file\n";
    for (const char* row : {"a,s.sit,c.cld,", "b,s.sit,c.cld,w.wed", "x,s.sit,c.cld,", "y,s.sit,c.cld,", "c,s.sit,c.cld,"})
        list += row + std::string("\n");
    WriteBytes(dir.File("sites.csv"), list);
    const SiteListFile sites(dir.File("sites.csv"), 2);
    ScenarioList scenarios;
    scenarios.Scenarios.resize(2);
    scenarios.Scenarios[0].Name = "warm";
    scenarios.Scenarios[1].Name = "dry";

    TaskCursor cursor(sites, {0, 2}, 2, &scenarios, 2);
    std::vector<std::string> seen;
    Task task;
    while (cursor.Next(task)) {
        std::string flags;
        for (const auto& [on, letter] : {std::pair{task.First, 'F'}, {task.Last, 'L'}, {task.FirstOfSite, 'f'},
                                         {task.LastOfSite, 'l'}, {task.LastOfScenario, 'e'}})
            if (on) flags += letter;
        seen.push_back(task.Site.Id + std::to_string(task.Index) + " " + *task.ScenarioName + " " +
                       std::to_string(task.Replicate) + " " + flags + " " + std::to_string(task.ChunkSiteCount));
        EXPECT_EQ(task.Changes, &scenarios.Scenarios[static_cast<std::size_t>(task.Scenario)]);
    }
    const std::vector<std::string> expected = {
        "a0 warm 0 Ff 2", "a0 warm 1 e 2", "a0 dry 0  2",  "a0 dry 1 le 2", "b1 warm 0 fe 2",
        "b1 dry 0 Lle 2", "c4 warm 0 Ff 1", "c4 warm 1 e 1", "c4 dry 0  1",  "c4 dry 1 Lle 1",
    };
    EXPECT_EQ(seen, expected);

    // Without scenarios the rows name none.
    TaskCursor plain(sites, {1}, 2, nullptr, 1);
    ASSERT_TRUE(plain.Next(task));
    EXPECT_EQ(*task.ScenarioName, "none");
    EXPECT_EQ(task.Changes, nullptr);
    ASSERT_TRUE(plain.Next(task));
    EXPECT_EQ(task.Site.Id, "y");
    EXPECT_TRUE(task.Last);
    EXPECT_FALSE(plain.Next(task));
}

}  // namespace
}  // namespace kelmar::batch
