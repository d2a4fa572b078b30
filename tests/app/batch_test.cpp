// Batches of many sites: the site list's refusals, the tables' columns and
// seeds, and outputs that do not depend on how the work was split.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/batch/batch_run.h"
#include "app/random_streams.h"
#include "app/batch/batch_tables.h"
#include "app/batch/scenario_list.h"
#include "app/batch/site_list.h"
#include "batch_fixture.h"
#include "io/io_test_support.h"
#include "io/netcdf_contents.h"
#include "numerics/random_source.h"

namespace kelmar::batch {
namespace {

namespace fs = std::filesystem;
using kelmar::testing::ErrorText;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;

const std::string EXAMPLES = KELMAR_EXAMPLES_DIR;

TEST(SiteList, RefusesFaultsNamingTheirLinesBeforeAnyRun) {
    const struct {
        const char* text;
        const char* expected;  // a piece of the message
    } cases[] = {
        {"site_id,site_file,climate_file,colour\n", "\"colour\" is unknown"},
        {"site_id,site_file,M_ff,climate_file\n", "both site_file and site parameters"},
        {"site_file,climate_file\n", "no column \"site_id\""},
        {"site_id,climate_file\n", "neither site_file nor any site parameter"},
        {"site_id,M_ff,lat,climate_file\n", "the column \"Lat\""},
        {"site_id,site_file,climate_file\na,s.sit,c.cld\na,s.sit,c.cld\n", "line 3"},
        {"site_id,site_file,climate_file\n,s.sit,c.cld\n", "site_id is empty.\nin \"list.csv\", line 2"},
        {"site_id,Lat,M_ff,climate_file\na,61,3.x,c.cld\n", "'3.x' is not a valid floating point value\nin \"list.csv\", line 2, column M_ff"},
        {"site_id,site_file,climate_file,seed\na,s.sit,c.cld,-4\n", "line 2"},
        {"site_id,site_file,climate_file,lat\na,s.sit,c.cld,91\n", "lies outside"},
        // The netCDF file's longitudes run from -180 or from 0 degrees east.
        {"site_id,site_file,climate_file,lon\na,s.sit,c.cld,-200\n", "lon -200 lies outside -180 to 360 degrees"},
        {"site_id,site_file,climate_file,weather_file\na,s.sit,,\n", "neither a climate_file nor a weather_file"},
        {"site_id,site_file,climate_file\na,s.sit\n", "2 fields"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string message = ErrorText([&] { ParseSiteList(c.text, "list.csv", ""); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.text << "\n-> " << message;
        // The batch's reader in two passes refuses the same, in the same words.
        WriteBytes(dir.File("list.csv"), c.text);
        const std::string streamed = ErrorText([&] { SiteListFile(dir.File("list.csv"), 64); });
        const std::string located = std::string(c.expected).find("list.csv") == std::string::npos
                                        ? c.expected
                                        : std::string(c.expected).replace(std::string(c.expected).find("list.csv"), 8, dir.File("list.csv"));
        EXPECT_NE(streamed.find(located), std::string::npos) << c.text << "\n-> " << streamed;
    }
    // Every fault of a list is reported at once, each with its line.
    const std::string message = ErrorText([] {
        ParseSiteList("site_id,site_file,climate_file\na,s.sit,\n,s.sit,c\nb,s.sit,c\nb,s.sit,c\n", "list.csv", "");
    });
    for (const char* line : {"line 2", "line 3", "line 5"}) EXPECT_NE(message.find(line), std::string::npos) << message;
    EXPECT_NE(message.find("3 faults"), std::string::npos) << message;
}

TEST(SiteList, ParameterColumnsOverTheSiteFileDefaultsAndPathsFromTheListsFolder) {
    const SiteList list = ParseSiteList("site_id,Lat,M_ff,Fortype,climate_file\nx,61.5,3.2,2,clim/c.cld\n", "l.csv", "/data");
    ASSERT_EQ(list.Sites.size(), 1u);
    const SiteEntry& site = list.Sites[0];
    EXPECT_EQ(site.Params.Lat, 61.5);
    EXPECT_EQ(site.Params.M_ff, 3.2);
    EXPECT_EQ(site.Params.Fortype, 2);
    EXPECT_EQ(site.Params.W_Sat_ff, 97);  // the site file's default
    EXPECT_EQ(site.ClimateFile, "/data/clim/c.cld");
}

// A list longer than one read of the two-pass reader (a mebibyte), with
// quoted ids that hold commas and quotes and quoted file names that hold
// line ends, so that records cross the reads' boundaries: every block holds
// the sites the whole read gives.
TEST(SiteList, ReadInTwoPassesGivesTheSitesOfTheWholeRead) {
    TempDir dir;
    std::string text = "\xEF\xBB\xBFsite_id,site_file,climate_file,seed,lat\r\n";
    for (int i = 0; i < 30000; ++i) {
        const std::string id = i % 2 == 1 ? "\"id " + std::to_string(i) + ",\"\"quoted\"\"\"" : "plot-" + std::to_string(i);
        const std::string site = i % 2 == 1 ? "\"sites/plot\n" + std::to_string(i) + ".sit\"" : "sites/plot-" + std::to_string(i) + ".sit";
        text += id + "," + site + ",climate/long-name-of-a-climatology-file.cld," +
                (i % 3 == 0 ? std::to_string(i) : "") + "," + std::to_string(i % 90) + ".25" + (i % 11 ? "\n" : "\r\n");
        if (i % 1000 == 999) text += "\n";  // an empty line, skipped but counted
    }
    ASSERT_GT(text.size(), std::size_t{1} << 21);
    WriteBytes(dir.File("list.csv"), text);
    const SiteList whole = ParseSiteList(text, dir.File("list.csv"), dir.Folder().string());
    const SiteListFile list(dir.File("list.csv"), 64);
    ASSERT_EQ(list.Count(), static_cast<std::int64_t>(whole.Sites.size()));
    EXPECT_EQ(list.Hash(), Fnv1a64(text));
    EXPECT_EQ(list.LastWithoutSeed(), 29999);
    for (std::int64_t b = 0; b * 64 < list.Count(); ++b) {
        const std::vector<SiteEntry> block = list.ReadBlock(b);
        ASSERT_EQ(static_cast<std::int64_t>(block.size()), std::min<std::int64_t>(64, list.Count() - b * 64)) << "block " << b;
        for (std::size_t k = 0; k < block.size(); ++k) {
            const SiteEntry& expected = whole.Sites[static_cast<std::size_t>(b * 64) + k];
            const SiteEntry& got = block[k];
            ASSERT_TRUE(got.Id == expected.Id && got.Line == expected.Line && got.SiteFile == expected.SiteFile &&
                        got.Seed == expected.Seed && got.Lat == expected.Lat)
                << "block " << b << " site " << k << ": \"" << got.Id << "\" line " << got.Line << ", expected \""
                << expected.Id << "\" line " << expected.Line;
        }
    }
}

TEST(SiteList, RepeatedIdsFarApartAndAListChangedUnderTheBatch) {
    TempDir dir;
    std::string text = "site_id,site_file,climate_file\n";
    for (int i = 0; i < 500; ++i) text += "s" + std::to_string(i) + ",a.sit,c.cld\n";
    WriteBytes(dir.File("list.csv"), text + "s17,a.sit,c.cld\n");
    const std::string message = ErrorText([&] { SiteListFile(dir.File("list.csv"), 64); });
    EXPECT_NE(message.find("The site_id \"s17\" was given before, on line 19.\nin \"" + dir.File("list.csv") + "\", line 502"),
              std::string::npos)
        << message;

    WriteBytes(dir.File("list.csv"), text);
    const SiteListFile list(dir.File("list.csv"), 64);
    std::string edited = text;
    edited.replace(edited.find("s70,"), 4, "t70,");  // same length, second block
    WriteBytes(dir.File("list.csv"), edited);
    EXPECT_EQ(list.ReadBlock(0).size(), 64u);
    EXPECT_NE(ErrorText([&] { list.ReadBlock(1); }).find("has changed since the batch checked it"), std::string::npos);
}

TEST(BatchTables, ColumnsAreTheResultFieldsWithTheirUnits) {
    EXPECT_EQ(MonthlyHeader(),
              "site_id,year,month,tair_degC,t_ff_degC,tsoil_degC,t_ms_degC,prec_mm,w_ms_vol_pct,w_ff_vol_pct,"
              "w_ms_mass_pct,w_ff_mass_pct\n");
    EXPECT_TRUE(AnnualHeader().ends_with(",w_ff_mass_pct,seed\n")) << AnnualHeader();
}

TEST(BatchTables, NumbersAreTheShortestTextThatReadsBack) {
    for (const double value : {0.1, -1.0 / 3, 1e-300, 123456789.125, 20.0, -0.0}) {
        std::string text;
        AppendShortest(text, value);
        EXPECT_EQ(std::stod(text), value) << text;
        EXPECT_LE(text.size(), 24u);
    }
    std::string twenty;
    AppendShortest(twenty, 20.0);
    EXPECT_EQ(twenty, "20");
}

// A list of observed-weather sites (30 years each, fast) with a few
// simulated ones and one site whose file is missing, in the middle.
struct BatchRun : ::testing::Test {
    TempDir dir;
    std::ostringstream err;

    std::string MakeList(int sites) {
        std::string text = "site_id,site_file,climate_file,weather_file\n";
        for (int i = 0; i < sites; ++i) {
            const std::string id = "p" + std::to_string(i);
            if (i == sites / 2)
                text += id + "," + EXAMPLES + "/missing.sit," + EXAMPLES + "/climat.cld,\n";
            else if (i % 40 == 7)
                text += id + "," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld,\n";
            else
                text += id + "," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld," + EXAMPLES + "/weather.wed\n";
        }
        WriteBytes(dir.File("sites.csv"), text);
        return dir.File("sites.csv");
    }

    BatchOptions Options(const std::string& out, int jobs = 2) { return testing::TestBatch(dir, out, jobs); }
    std::string Outputs(const std::string& out) { return testing::TableBytes(dir, out); }
};

TEST_F(BatchRun, AnySplitGivesTheSameBytesAndABadSiteStopsNoOther) {
    constexpr int SITES = 150;  // three chunks
    MakeList(SITES);
    const BatchSummary one = RunBatch(Options("one", 1), err);
    EXPECT_EQ(one.Failed, 1);
    EXPECT_TRUE(one.Merged);
    const std::string errors = ReadBytes(dir.File("one/errors.csv"));
    EXPECT_EQ(errors.rfind("site_id,message\np75,\"File soil parameters", 0), 0u) << errors;
    EXPECT_NE(errors.find("line 77 of"), std::string::npos) << errors;
    const std::string annual = ReadBytes(dir.File("one/annual.csv"));
    EXPECT_NE(annual.find("\np74,"), std::string::npos);
    EXPECT_NE(annual.find("\np76,"), std::string::npos);
    EXPECT_NE(annual.find("\np149,"), std::string::npos);

    RunBatch(Options("two", 2), err);
    EXPECT_TRUE(Outputs("one") == Outputs("two")) << "--jobs 1 and --jobs 2 differ";

    for (int k = 0; k < 3; ++k) {
        BatchOptions shard = Options("shards");
        shard.Share = Shard{k, 3};
        const BatchSummary part = RunBatch(shard, err);
        EXPECT_FALSE(part.Merged);
    }
    EXPECT_FALSE(fs::exists(dir.File("shards/monthly.csv")));
    EXPECT_EQ(MergeBatch(dir.File("shards"), "test", err).Failed, 1);
    EXPECT_TRUE(Outputs("one") == Outputs("shards")) << "three shards and a merge differ from one run";

    // One shard of three done, the rest finished by a run on one machine
    // with --resume: the tables are joined from both processes' streams.
    BatchOptions first = Options("mixed");
    first.Share = Shard{1, 3};
    RunBatch(first, err);
    BatchOptions rest = Options("mixed", 1);
    rest.Resume = true;
    const BatchSummary mixed = RunBatch(rest, err);
    EXPECT_EQ(mixed.Ran, SITES - 64);
    EXPECT_EQ(mixed.Failed, 1);
    EXPECT_TRUE(Outputs("one") == Outputs("mixed")) << "a shard finished by --resume on one machine differs from one run";
}

// A weather record of less than a year gives no row: the site is in
// errors.csv, saying why, and counted as failed, never left out silently.
TEST_F(BatchRun, ASiteWithoutAWholeYearIsAnErrorNotLeftOut) {
    std::istringstream weather(ReadBytes(EXAMPLES + "/weather.wed"));
    std::string shortWeather, line;
    for (int k = 0; k < 2 + 11 && std::getline(weather, line); ++k) shortWeather += line + "\n";  // comment, header, 11 months
    WriteBytes(dir.File("short.wed"), shortWeather);
    WriteBytes(dir.File("sites.csv"), "site_id,site_file,climate_file,weather_file\n"
                                      "a," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld," + EXAMPLES + "/weather.wed\n"
                                      "short," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld," + dir.File("short.wed") + "\n"
                                      "c," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld,\n");
    const BatchSummary summary = RunBatch(Options("out"), err);
    EXPECT_EQ(summary.Failed, 1);
    const std::string errors = ReadBytes(dir.File("out/errors.csv"));
    EXPECT_EQ(errors.rfind("site_id,message\nshort,", 0), 0u) << errors;
    for (const std::string piece : {dir.File("short.wed"), std::string("twelve months"), std::string("line 3 of")})
        EXPECT_NE(errors.find(piece), std::string::npos) << "no \"" << piece << "\" in\n" << errors;
    const std::string annual = ReadBytes(dir.File("out/annual.csv"));
    EXPECT_NE(annual.find("\na,"), std::string::npos);
    EXPECT_NE(annual.find("\nc,"), std::string::npos);
}

TEST_F(BatchRun, EachSiteHasTheSeedOfItsPlaceOrItsOwn) {
    std::string text = "site_id,site_file,climate_file,seed\n";
    for (const char* row : {"a,soil.sit,climat.cld,", "b,soil.sit,climat.cld,77", "c,soil.sit,climat.cld,"})
        text += row + std::string("\n");
    WriteBytes(dir.File("sites.csv"), text);
    for (const char* name : {"soil.sit", "climat.cld"}) fs::copy_file(EXAMPLES + "/" + name, dir.File(name));
    RunBatch(Options("out"), err);
    std::istringstream annual(ReadBytes(dir.File("out/annual.csv")));
    std::string line;
    std::getline(annual, line);
    std::map<std::string, std::string> seeds;
    while (std::getline(annual, line)) seeds[line.substr(0, 1)] = line.substr(line.rfind(',') + 1);
    EXPECT_EQ(seeds["a"], "2024");
    EXPECT_EQ(seeds["b"], "77");
    EXPECT_EQ(seeds["c"], std::to_string(RandomSource::Jump(2024, 2 * streams::UNIFORMS_PER_RUN)));
    EXPECT_EQ(streams::UNIFORMS_PER_RUN, 216024u);
}

TEST_F(BatchRun, ParameterColumnsRunAsTheSiteFile) {
    const std::string params = "61.80,3.20,0.08,8.00,45.00,85.00,1.35,4.50,22.00,42.00,20.00,1.60,0,0,1";
    WriteBytes(dir.File("sites.csv"), "site_id,site_file,climate_file,seed\nx," + EXAMPLES + "/soil.sit," + EXAMPLES +
                                          "/climat.cld,9\n");
    RunBatch(Options("file"), err);
    std::string header = "site_id";
    for (const SiteField& field : SITE_FIELDS) header += std::string(",") + field.Key;
    WriteBytes(dir.File("sites.csv"), header + ",climate_file,seed\nx," + params + "," + EXAMPLES + "/climat.cld,9\n");
    RunBatch(Options("columns"), err);
    EXPECT_TRUE(Outputs("file") == Outputs("columns"));
}

TEST_F(BatchRun, MergeRefusesMissingShardsAndForeignParts) {
    MakeList(150);
    for (int k : {0, 2}) {
        BatchOptions shard = Options("out");
        shard.Share = Shard{k, 3};
        RunBatch(shard, err);
    }
    const std::string missing = ErrorText([&] { MergeBatch(dir.File("out"), "test", err); });
    EXPECT_NE(missing.find("chunk 1 (sites 65 to 128, shard 1/3)"), std::string::npos) << missing;
    EXPECT_FALSE(fs::exists(dir.File("out/monthly.csv")));
    EXPECT_NE(ErrorText([&] { MergeBatch(dir.File("out"), "other", err); }).find("made by kelmar-cli test"),
              std::string::npos);

    // A late shard with another seed cannot join.
    BatchOptions late = Options("out");
    late.Share = Shard{1, 3};
    late.Seed = 1;
    EXPECT_NE(ErrorText([&] { RunBatch(late, err); }).find("was started with --seed 2024"), std::string::npos);

    // Parts of another batch copied in are refused by name.
    BatchOptions other = Options("other");
    other.Seed = 1;
    other.Share = Shard{1, 3};
    RunBatch(other, err);
    for (const char* part : {"chunk-000001.done", "shard-1-of-3.monthly.csv", "shard-1-of-3.annual.csv", "shard-1-of-3.errors.csv"})
        fs::copy_file(dir.File(std::string("other/parts/") + part), dir.File(std::string("out/parts/") + part));
    const std::string foreign = ErrorText([&] { MergeBatch(dir.File("out"), "test", err); });
    EXPECT_NE(foreign.find("parts of another batch"), std::string::npos) << foreign;
}

// Parts changed after they were written (a done-file edited by hand, a
// byte of a stream flipped on the disk) are never joined: merge names the
// chunk, its shard and the file, and --resume runs the chunk again, to the
// bytes of a batch never touched.
TEST_F(BatchRun, MergeAndResumeJoinOnlyPartsThatAreAsWritten) {
    MakeList(150);  // p75, in chunk 1 (shard 1/3), fails
    BatchOptions whole = Options("whole");
    whole.Format = OutputFormat::Both;
    RunBatch(whole, err);
    for (int k = 0; k < 3; ++k) {
        BatchOptions shard = Options("shards");
        shard.Format = OutputFormat::Both;
        shard.Share = Shard{k, 3};
        RunBatch(shard, err);
    }
    const std::string done = "/parts/chunk-000001.done";
    const std::string doneText = ReadBytes(dir.File("shards" + done));
    const auto edited = [&](const std::string& key, const std::string& value) {
        const std::size_t start = doneText.find("\n" + key + "=") + key.size() + 2;
        return doneText.substr(0, start) + value + doneText.substr(doneText.find('\n', start));
    };
    const auto flipped = [&](const std::string& stream, std::uint64_t offset) {
        return [=, this] {
            std::string bytes = ReadBytes(dir.File("case/parts/shard-1-of-3." + stream));
            bytes[offset] ^= 0x20;
            WriteBytes(dir.File("case/parts/shard-1-of-3." + stream), bytes);
        };
    };
    const auto offsetOf = [&](const std::string& stream) {
        const std::size_t start = doneText.find("\n" + stream + "_offset=") + stream.size() + 9;
        return std::stoull(doneText.substr(start, doneText.find('\n', start) - start));
    };
    const struct {
        const char* what;
        std::function<void()> change;
        const char* named;  // a piece of the message besides the chunk and its shard
    } cases[] = {
        {"monthly_bytes lowered",
         [&] { WriteBytes(dir.File("case" + done), edited("monthly_bytes", "1000")); }, "chunk-000001.done"},
        {"failed=0 edited in", [&] { WriteBytes(dir.File("case" + done), edited("failed", "0")); }, "chunk-000001.done"},
        {"a byte of monthly flipped", flipped("monthly.csv", offsetOf("monthly") + 5000), "stream monthly \""},
        {"a byte of errors flipped", flipped("errors.csv", offsetOf("errors") + 2), "stream errors \""},
        {"a byte of values flipped", flipped("values.bin", offsetOf("values") + 300), "stream values \""},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir.File("case"));
        fs::copy(dir.File("shards"), dir.File("case"), fs::copy_options::recursive);
        c.change();
        const std::string message = ErrorText([&] { MergeBatch(dir.File("case"), "test", err); });
        for (const std::string piece : {std::string("chunk 1 (sites 65 to 128, shard 1/3)"), std::string(c.named),
                                        std::string("--resume"), std::string("Nothing was merged")})
            EXPECT_NE(message.find(piece), std::string::npos) << c.what << ": no \"" << piece << "\" in\n" << message;
        for (const char* output : {"monthly.csv", "annual.csv", "errors.csv", "results.nc"})
            EXPECT_FALSE(fs::exists(dir.File(std::string("case/") + output))) << c.what << ": " << output << " was joined";

        BatchOptions again = Options("case");
        again.Format = OutputFormat::Both;
        again.Share = Shard{1, 3};
        again.Resume = true;
        EXPECT_EQ(RunBatch(again, err).Ran, 64) << c.what << ": the chunk was not run again";
        EXPECT_EQ(MergeBatch(dir.File("case"), "test", err).Failed, 1) << c.what;
        EXPECT_TRUE(Outputs("case") == Outputs("whole")) << c.what << ": the chunk run again differs";
    }
}

// The same list bytes in two folders name other files when its paths are
// relative: a late shard or a resume reading other inputs is refused, naming
// the first file that differs and its line.
TEST_F(BatchRun, ShardsAndResumesOfOtherInputFilesAreRefused) {
    const std::string list = "site_id,site_file,climate_file\na," + EXAMPLES + "/soil.sit,climat.cld\n"
                             "b," + EXAMPLES + "/soil.sit,climat.cld\n";
    std::string climate = ReadBytes(EXAMPLES + "/climat.cld");
    for (const char* folder : {"here", "there"}) {
        fs::create_directories(dir.File(folder));
        WriteBytes(dir.File(std::string(folder) + "/sites.csv"), list);
        WriteBytes(dir.File(std::string(folder) + "/climat.cld"), climate);
    }
    climate[climate.size() / 2] ^= 0x01;  // same size, one bit apart
    WriteBytes(dir.File("there/climat.cld"), climate);

    BatchOptions first = Options("out");
    first.SitesFile = dir.File("here/sites.csv");
    first.Share = Shard{0, 2};
    RunBatch(first, err);
    BatchOptions late = first;
    late.SitesFile = dir.File("there/sites.csv");
    late.Share = Shard{1, 2};
    const std::string refused = ErrorText([&] { RunBatch(late, err); });
    for (const std::string piece : {std::string("other input files"), dir.File("there/climat.cld"),
                                    std::string("line 2 of"), std::string("other bytes")})
        EXPECT_NE(refused.find(piece), std::string::npos) << "no \"" << piece << "\" in\n" << refused;
    EXPECT_FALSE(fs::exists(dir.File("out/parts/chunk-000001.done")));

    // The same files copied elsewhere are the same inputs.
    fs::copy_file(dir.File("here/climat.cld"), dir.File("there/climat.cld"), fs::copy_options::overwrite_existing);
    RunBatch(late, err);
    EXPECT_EQ(MergeBatch(dir.File("out"), "test", err).Failed, 0);

    // A climatology grown since the batch ran: --resume is refused.
    WriteBytes(dir.File("here/climat.cld"), ReadBytes(dir.File("here/climat.cld")) + "\n");
    BatchOptions resume = Options("out");
    resume.SitesFile = dir.File("here/sites.csv");
    resume.Resume = true;
    const std::string grown = ErrorText([&] { RunBatch(resume, err); });
    EXPECT_NE(grown.find("is " + std::to_string(climate.size() + 1) + " bytes, the batch read " +
                         std::to_string(climate.size()) + " bytes"),
              std::string::npos)
        << grown;
}

TEST_F(BatchRun, OneMachinesTablesAreItsStreamsAndAResumeCutsWhatWasNeverRecorded) {
    MakeList(150);
    // The parts are what is looked at: kept.
    BatchOptions whole = Options("out");
    whole.KeepParts = true;
    RunBatch(whole, err);
    const std::string finished = Outputs("out");
    struct stat table {}, stream {};
    ASSERT_EQ(::stat(dir.File("out/monthly.csv").c_str(), &table), 0);
    ASSERT_EQ(::stat(dir.File("out/parts/shard-0-of-1.monthly.csv").c_str(), &stream), 0);
    EXPECT_EQ(table.st_ino, stream.st_ino) << "monthly.csv was copied instead of being the stream itself";

    // As after a kill: the last chunk never recorded and bytes of it left
    // in every stream (here also seen through the tables' names, which are
    // the same files). The resumed run cuts them off and runs the chunk again.
    fs::remove(dir.File("out/parts/chunk-000002.done"));
    for (const char* kind : {"monthly.csv", "annual.csv", "errors.csv"}) {
        const std::string name = dir.File(std::string("out/parts/shard-0-of-1.") + kind);
        WriteBytes(name, ReadBytes(name) + "p149,half a row");
    }
    EXPECT_EQ(ReadBytes(dir.File("out/annual.csv")).size(), ReadBytes(dir.File("out/parts/shard-0-of-1.annual.csv")).size());
    BatchOptions resume = Options("out");
    resume.Resume = true;
    resume.KeepParts = true;
    const BatchSummary summary = RunBatch(resume, err);
    EXPECT_EQ(summary.Ran, 150 - 128);
    EXPECT_EQ(summary.Failed, 1);
    EXPECT_TRUE(Outputs("out") == finished) << "the resumed tables differ from the finished ones";
    EXPECT_EQ(MergeBatch(dir.File("out"), "test", err).Failed, 1) << "a merge after the run can be repeated";
    EXPECT_TRUE(Outputs("out") == finished);
}

// The callback sees every site once, in order, and stopping it keeps what
// was finished: --resume then ends with the bytes of a run never stopped.
// The same with the climatologies estimated from the records and written
// out (--estimate-climate --save-climate --format both, the weather sites
// simulated for 30 years), whose climatologies.csv and climatologies.nc are
// made from parts as the tables are.
TEST_F(BatchRun, ProgressReportsEverySiteAndAStopIsResumedToTheSameBytes) {
    MakeList(150);
    for (const bool estimate : {false, true}) {
        SCOPED_TRACE(estimate ? "--estimate-climate --save-climate" : "the records run");
        const auto options = [&](const std::string& out) {
            BatchOptions o = Options(out);
            o.EstimateClimate = o.SaveClimate = estimate;
            if (estimate) o.RunYears = 30, o.Format = OutputFormat::Both;
            return o;
        };
        const auto outputs = [&](const std::string& out) {
            return Outputs(out) + (estimate ? ReadBytes(dir.File(out + "/climatologies.csv")) +
                                                  kelmar::testing::NetcdfContents(dir.File(out + "/climatologies.nc"))
                                            : std::string());
        };
        RunBatch(options("whole"), err);

        std::vector<ProgressReport> seen;
        BatchOptions stopped = options("stopped");
        stopped.OnProgress = [&](const ProgressReport& report) {
            seen.push_back(report);
            return report.Done < 70;  // stops in the second chunk
        };
        EXPECT_THROW(RunBatch(stopped, err), Cancelled);
        ASSERT_GE(seen.size(), 71u);
        EXPECT_EQ(seen.front().Done, 0) << "the first report is the start";
        EXPECT_EQ(seen.back().Done, 70);
        EXPECT_TRUE(seen.back().Finished) << "the last report says the batch ended";
        EXPECT_TRUE(fs::exists(dir.File("stopped/parts/chunk-000000.done")));
        EXPECT_FALSE(fs::exists(dir.File("stopped/parts/chunk-000001.done"))) << "a chunk stopped halfway was recorded";

        seen.clear();
        BatchOptions resume = options("stopped");
        resume.Resume = true;
        resume.OnProgress = [&](const ProgressReport& report) {
            seen.push_back(report);
            return true;
        };
        EXPECT_EQ(RunBatch(resume, err).Ran, 150 - 64);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front().Before, 64) << "the resumed run counts the finished chunk as done before it";
        EXPECT_EQ(seen.back().Done, 150);
        EXPECT_EQ(seen.back().Total, 150);
        EXPECT_EQ(seen.back().Failed, 1);
        EXPECT_TRUE(outputs("stopped") == outputs("whole")) << "a stopped and resumed batch differs from one never stopped";
        if (estimate) {
            const std::string climates = ReadBytes(dir.File("whole/climatologies.csv"));
            EXPECT_EQ(std::count(climates.begin(), climates.end(), '\n'), 1 + 12 * 149)
                << "climatologies.csv has not a header and twelve rows for each of the 149 sites that ran";
            EXPECT_NE(kelmar::testing::NetcdfContents(dir.File("whole/climatologies.nc")).find("site_id=149\n"),
                      std::string::npos)
                << "climatologies.nc has not the 149 sites that ran";
        }
        fs::remove_all(dir.File("whole"));
        fs::remove_all(dir.File("stopped"));
    }
}

TEST_F(BatchRun, ASecondProcessOnTheSameShareIsRefused) {
    MakeList(3);
    BatchOptions shard = Options("out");
    shard.Share = Shard{1, 3};
    fs::create_directories(dir.File("out/parts"));
    const int held = ::open(dir.File("out/parts/shard-1-of-3.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const std::string message = ErrorText([&] { RunBatch(shard, err); });
    EXPECT_NE(message.find("Another kelmar-cli is running shard 1/3"), std::string::npos) << message;
    ::close(held);
    EXPECT_NO_THROW(RunBatch(shard, err));

    // A lock that cannot be made is no other process's: the message says
    // what the folder must be instead.
    BatchOptions whole = Options("unlockable");
    whole.KeepParts = true;  // a finished batch's resume takes no lock once its parts are gone
    RunBatch(whole, err);
    fs::remove(dir.File("unlockable/parts/shard-0-of-1.lock"));
    fs::create_directories(dir.File("unlockable/parts/shard-0-of-1.lock"));
    whole.Resume = true;
    const std::string refused = ErrorText([&] { RunBatch(whole, err); });
    EXPECT_NE(refused.find("must be one this user may write to"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("Another kelmar-cli"), std::string::npos) << refused;
}

// Before, rows added after the list's last block was read went unnoticed:
// the batch ran the sites it had and said it finished.
TEST_F(BatchRun, RowsAddedToTheListWhileItRunsStopTheBatchBeforeItFinishes) {
    const std::string list = MakeList(3);
    BatchOptions options = Options("grown");
    options.OnProgress = [&](const ProgressReport& report) {
        if (report.Done == 1) WriteBytes(list, ReadBytes(list) + "late," + EXAMPLES + "/soil.sit," + EXAMPLES + "/climat.cld,\n");
        return true;
    };
    const std::string message = ErrorText([&] { RunBatch(options, err); });
    EXPECT_NE(message.find("has changed since the batch checked it"), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(dir.File("grown/monthly.csv"))) << "the tables of a changed list were joined";
}

TEST_F(BatchRun, RefusesFoldersItWouldSpoilOrCannotWrite) {
    MakeList(3);
    WriteBytes(dir.File("plain-file"), "x");
    EXPECT_NE(ErrorText([&] { RunBatch(Options("plain-file/out"), err); }).find("Cannot create the folder"),
              std::string::npos);

    BatchOptions kept = Options("done");
    kept.KeepParts = true;
    RunBatch(kept, err);
    EXPECT_NE(ErrorText([&] { RunBatch(Options("done"), err); }).find("already holds a batch"), std::string::npos);
    BatchOptions resume = Options("done");
    resume.Resume = true;
    resume.Seed.reset();  // a resumed batch keeps its recorded seed
    EXPECT_EQ(RunBatch(resume, err).BaseSeed, 2024u);
    // That resume removed the parts: the folder holds a finished batch.
    EXPECT_NE(ErrorText([&] { RunBatch(Options("done"), err); }).find("already holds a finished batch"), std::string::npos);

    fs::create_directories(dir.File("user"));
    WriteBytes(dir.File("user/monthly.csv"), "precious");
    EXPECT_NE(ErrorText([&] { RunBatch(Options("user"), err); }).find("no batch manifest"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir.File("user/monthly.csv")), "precious");

    // A bad list stops before anything is made.
    WriteBytes(dir.File("sites.csv"), "site_id,site_file\na,soil.sit\n");
    EXPECT_NE(ErrorText([&] { RunBatch(Options("never"), err); }).find("neither a climate_file"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.File("never")));
}

TEST(ScenarioList, RefusesFaultsNamingTheirLinesBeforeAnyRun) {
    const struct {
        const char* text;
        const char* expected;  // a piece of the message
    } cases[] = {
        {"scenario,delta_t,colour\nw,1,2\n", "\"colour\" is unknown"},
        {"scenario,delta_t,delta_t\nw,1,2\n", "\"delta_t\" is given twice"},
        {"delta_t,scenario\n1,w\n", "\"scenario\" comes first"},
        {"delta_t\n1\n", "no column \"scenario\""},
        {"scenario,delta_t,delta_t_3\nw,1,2\n", "both its one column and monthly columns"},
        {"scenario,precip_factor_1,precip_factor_2\nw,1,1\n", "has 2 monthly columns; it takes all twelve"},
        {"scenario,delta_t_13\nw,1\n", "\"delta_t_13\" is unknown"},
        {"scenario,delta_t\nw,1\n,2\n", "name is empty.\nin \"s.csv\", line 3"},
        {"scenario,delta_t\nw,1\nw,2\n", "\"w\" is given twice.\nin \"s.csv\", line 3"},
        {"scenario,delta_t\nw,warm\n", "(column delta_t)\nin \"s.csv\", line 2"},
        {"scenario,delta_t\nw,1,2\n", "3 fields; the header has 2"},
        {"scenario,precip_factor\nw,0\n", "precipitation factor of 0"},
        {"scenario,delta_t\nw,60\n", "temperature change of 60"},
        {"scenario,variability\nw,-1\n", "variability factor of -1"},
        {"scenario,delta_t\n", "has no scenario"},
        {"", "is empty"},
    };
    for (const auto& c : cases) {
        const std::string message = ErrorText([&] { ParseScenarioList(c.text, "s.csv"); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.text << "\n-> " << message;
    }
    // Every fault at once, each with its line.
    const std::string message = ErrorText([] { ParseScenarioList("scenario,delta_t\na,x\nb,1\nb,2\n,3\n", "s.csv"); });
    for (const char* line : {"line 2", "line 4", "line 5"}) EXPECT_NE(message.find(line), std::string::npos) << message;
    EXPECT_NE(message.find("3 faults; no site was run"), std::string::npos) << message;
}

TEST(ScenarioList, MonthlyColumnsOneColumnsAndEmptyCellsThatChangeNothing) {
    std::string header = "scenario,precip_factor,variability,trend_t,trend_precip";
    for (int m = 1; m <= 12; ++m) header += ",delta_t_" + std::to_string(m);
    std::string monthly = "seasonal,0.9,1.2,3,-10";
    for (int m = 1; m <= 12; ++m) monthly += "," + std::to_string(m) + ".5";
    const ScenarioList list = ParseScenarioList(header + "\n" + monthly + "\nnone,,,,,,,,,,,,,,,,\n", "s.csv");
    ASSERT_EQ(list.Scenarios.size(), 2u);
    const TScenario& s = list.Scenarios[0];
    EXPECT_EQ(s.Name, "seasonal");
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(s.DeltaT[m], m + 0.5) << "month " << m;
        EXPECT_EQ(s.PrecFactor[m], 0.9) << "month " << m;
    }
    EXPECT_EQ(s.Variability, 1.2);
    EXPECT_EQ(s.TrendT, 3);
    EXPECT_EQ(s.TrendPrec, -10);
    EXPECT_TRUE(list.Scenarios[1].IsZero()) << list.Scenarios[1].Describe();
    EXPECT_EQ(list.Scenarios[1].Name, "none");
}

// The rows of `table` without their scenario and replicate columns, for
// those whose scenario and replicate are `scenario` and `replicate`;
// the header without them too.
std::string TaskRows(const std::string& table, const std::string& scenario, int replicate) {
    std::istringstream in(table);
    std::string line, rows;
    bool header = true;
    while (std::getline(in, line)) {
        const std::size_t a = line.find(','), b = line.find(',', a + 1), c = line.find(',', b + 1);
        if (header || (line.substr(a + 1, b - a - 1) == scenario && line.substr(b + 1, c - b - 1) == std::to_string(replicate)))
            rows += line.substr(0, a) + line.substr(c) + "\n";
        header = false;
    }
    return rows;
}

TEST_F(BatchRun, AScenarioOfNoChangeGivesTheRunWithoutScenarios) {
    MakeList(10);  // site 7 simulated, site 5 a missing site file, the others observed weather
    WriteBytes(dir.File("scenarios.csv"), "scenario,delta_t,precip_factor\nzero,0,1\nwarm,2,0.9\nempty,,\n");
    RunBatch(Options("plain"), err);
    BatchOptions withScenarios = Options("scenarios");
    withScenarios.ScenariosFile = dir.File("scenarios.csv");
    const BatchSummary summary = RunBatch(withScenarios, err);
    EXPECT_EQ(summary.Failed, 1) << "sites, not tasks, are counted";
    for (const char* table : {"monthly.csv", "annual.csv"}) {
        const std::string plain = ReadBytes(dir.File(std::string("plain/") + table));
        const std::string all = ReadBytes(dir.File(std::string("scenarios/") + table));
        for (const char* scenario : {"zero", "empty"})
            EXPECT_TRUE(TaskRows(all, scenario, 0) == plain) << table << " of the scenario " << scenario << " differ from the plain run";
        EXPECT_FALSE(TaskRows(all, "warm", 0) == plain) << table;
        EXPECT_EQ(all.rfind("site_id,scenario,replicate,year,", 0), 0u) << table;
    }
    // The plain batch keeps the layout and manifest of a batch without them.
    EXPECT_EQ(ReadBytes(dir.File("plain/monthly.csv")).rfind(MonthlyHeader(), 0), 0u);
    const std::string manifest = ReadBytes(dir.File("plain/manifest.txt"));
    for (const char* key : {"scenario", "replicates", "rng"}) EXPECT_EQ(manifest.find(key), std::string::npos) << manifest;
    // The failed site has one row: its tasks fail alike.
    const std::string errors = ReadBytes(dir.File("scenarios/errors.csv"));
    EXPECT_EQ(errors.rfind("site_id,message\np5,\"File soil parameters", 0), 0u) << errors;
    // Its message on one line of the table, the lines joined.
    EXPECT_NE(errors.find("not found. under the scenario \"\"zero\"\", replicate 0, for the site on line 7 of"),
              std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("\np5,", errors.find("\np5,") + 1), std::string::npos) << errors;
}

TEST_F(BatchRun, ReplicatesAndScenariosGiveTheSameBytesWhateverTheSplit) {
    constexpr int SITES = 150;  // three chunks; sites 7, 47, 87, 127 simulated
    MakeList(SITES);
    WriteBytes(dir.File("scenarios.csv"), "scenario,delta_t\nzero,0\nwarm,1.5\n");
    const auto options = [&](const std::string& out, int jobs) {
        BatchOptions o = Options(out, jobs);
        o.ScenariosFile = dir.File("scenarios.csv");
        o.Replicates = 3;
        return o;
    };
    RunBatch(options("one", 1), err);
    BatchOptions two = options("two", 2);
    two.KeepParts = true;  // its parts are cut below, as by a kill
    RunBatch(two, err);
    EXPECT_TRUE(Outputs("one") == Outputs("two")) << "--jobs 1 and --jobs 2 differ";
    for (int k = 0; k < 3; ++k) {
        BatchOptions shard = options("shards", 2);
        shard.Share = Shard{k, 3};
        RunBatch(shard, err);
    }
    EXPECT_EQ(MergeBatch(dir.File("shards"), "test", err).Failed, 1);
    EXPECT_TRUE(Outputs("one") == Outputs("shards")) << "three shards and a merge differ from one run";

    // As after a kill in the last chunk: its record gone, half a task's row left.
    fs::remove(dir.File("two/parts/chunk-000002.done"));
    for (const char* kind : {"monthly.csv", "annual.csv", "errors.csv"}) {
        const std::string name = dir.File(std::string("two/parts/shard-0-of-1.") + kind);
        WriteBytes(name, ReadBytes(name) + "p140,warm,1,half a row");
    }
    BatchOptions resume = options("two", 2);
    resume.Resume = true;
    EXPECT_EQ(RunBatch(resume, err).Ran, SITES - 128);
    EXPECT_TRUE(Outputs("one") == Outputs("two")) << "the resumed tables differ from one run";

    // Simulated site 47 has replicates 0..2 on streams 3 * 47 + r, the same
    // under both scenarios; observed site 46 has replicate 0 alone.
    std::istringstream annual(ReadBytes(dir.File("one/annual.csv")));
    std::string line;
    std::map<std::string, std::string> seeds;
    int observedRows = 0;
    while (std::getline(annual, line)) {
        if (line.rfind("p47,", 0) == 0) seeds[line.substr(4, line.find(',', line.find(',', 4) + 1) - 4)] = line.substr(line.rfind(',') + 1);
        if (line.rfind("p46,", 0) == 0 && line.substr(line.find(',', 4), 3) != ",0,") ++observedRows;
    }
    for (const char* scenario : {"zero", "warm"})
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(seeds[std::string(scenario) + "," + std::to_string(r)],
                      std::to_string(RandomSource::Jump(2024, (3 * 47 + r) * streams::UNIFORMS_PER_RUN)))
                << "site 47, scenario " << scenario << ", replicate " << r;
    EXPECT_EQ(observedRows, 0) << "an observed site has only replicate 0";
    EXPECT_NE(ReadBytes(dir.File("one/annual.csv")).find("\np46,warm,0,"), std::string::npos);

    // A resume or a late shard with other scenarios, replicates or generator is refused.
    for (const auto& [change, expected] : std::vector<std::pair<std::function<void(BatchOptions&)>, std::string>>{
             {[](BatchOptions& o) { o.Replicates = 2; }, "--replicates 3"},
             {[](BatchOptions& o) { o.Replicates = 0; }, "--replicates 3"},
             {[&](BatchOptions& o) { o.ScenariosFile.clear(); }, "another scenario list"},
             {[&](BatchOptions& o) {
                  WriteBytes(dir.File("other.csv"), "scenario,delta_t\nzero,0\nwarm,2\n");
                  o.ScenariosFile = dir.File("other.csv");
              }, "another scenario list"},
             {[](BatchOptions& o) { o.Rng = RandomKind::Pcg64; }, "--rng lcg32"}}) {
        BatchOptions resume = options("one", 2);
        resume.Resume = true;
        change(resume);
        const std::string message = ErrorText([&] { RunBatch(resume, err); });
        EXPECT_NE(message.find("was started with " + expected), std::string::npos) << message;
    }
}

TEST_F(BatchRun, SummariesOfShardsJoinToThoseOfOneRun) {
    MakeList(150);
    const auto options = [&](const std::string& out) {
        BatchOptions o = Options(out);
        o.Replicates = 2;
        o.Summary = true;
        return o;
    };
    RunBatch(options("one"), err);
    for (int k = 0; k < 3; ++k) {
        BatchOptions shard = options("shards");
        shard.Share = Shard{k, 3};
        RunBatch(shard, err);
    }
    EXPECT_EQ(MergeBatch(dir.File("shards"), "test", err).Failed, 1);
    for (const char* table : {"summary_monthly.csv", "summary_annual.csv"}) {
        const std::string one = ReadBytes(dir.File(std::string("one/") + table));
        EXPECT_TRUE(one == ReadBytes(dir.File(std::string("shards/") + table))) << table;
        EXPECT_NE(one.find("\np149,"), std::string::npos) << table;
    }
    EXPECT_TRUE(ReadBytes(dir.File("one/errors.csv")) == ReadBytes(dir.File("shards/errors.csv")));
    EXPECT_FALSE(fs::exists(dir.File("one/monthly.csv")));
    BatchOptions alone = options("alone");
    alone.Replicates = 0;
    EXPECT_NE(ErrorText([&] { RunBatch(alone, err); }).find("--summary summarises replicates"), std::string::npos);
}

TEST_F(BatchRun, AScenarioASiteCannotTakeFailsThatSiteUnderItOnly) {
    MakeList(3);  // site 1 a missing site file, sites 0 and 2 observed weather
    WriteBytes(dir.File("scenarios.csv"), "scenario,delta_t,variability\nplain,1,\nwild,1,1.5\n");
    BatchOptions options = Options("out");
    options.ScenariosFile = dir.File("scenarios.csv");
    const BatchSummary summary = RunBatch(options, err);
    EXPECT_EQ(summary.Failed, 3);
    const std::string errors = ReadBytes(dir.File("out/errors.csv"));
    // p0 and p2: observed weather, which keeps its variability; p1: its file is missing.
    for (const char* expected : {"\np0,\"The scenario \"\"wild\"\" scales the variability", "\np1,\"File soil parameters",
                                 "\np2,\"The scenario \"\"wild\"\""})
        EXPECT_NE(errors.find(expected), std::string::npos) << expected << "\n-> " << errors;
    const std::string annual = ReadBytes(dir.File("out/annual.csv"));
    EXPECT_NE(annual.find("\np0,plain,0,"), std::string::npos);
    EXPECT_EQ(annual.find("\np0,wild,"), std::string::npos);
}

TEST(Shards, FromTheLaunchersEnvironment) {
    using Env = std::map<std::string, std::string>;
    const struct {
        Env env;
        std::optional<std::pair<int, int>> share;
    } cases[] = {
        {{}, std::nullopt},
        {{{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_MIN", "4"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, {{1, 4}}},
        {{{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_COUNT", "4"}, {"SLURM_PROCID", "0"}, {"SLURM_NTASKS", "1"}}, {{2, 4}}},
        {{{"SLURM_PROCID", "1"}, {"SLURM_NTASKS", "2"}}, {{1, 2}}},
        {{{"OMPI_COMM_WORLD_RANK", "2"}, {"OMPI_COMM_WORLD_SIZE", "3"}}, {{2, 3}}},
        {{{"PMI_RANK", "0"}, {"PMI_SIZE", "1"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto share = ShardFromEnvironment([&](const char* name) -> const char* {
            const auto found = c.env.find(name);
            return found == c.env.end() ? nullptr : found->second.c_str();
        });
        ASSERT_EQ(share.has_value(), c.share.has_value()) << c.env.size();
        if (share) EXPECT_EQ(std::make_pair(share->Index, share->Count), *c.share);
    }
    EXPECT_THROW(ShardFromEnvironment([](const char* name) -> const char* {
                     return std::string(name) == "PMI_RANK" ? "3" : std::string(name) == "PMI_SIZE" ? "3" : nullptr;
                 }),
                 KelmarError);
    for (const char* bad : {"3/3", "1", "-1/2", "a/b", "0/0"}) EXPECT_THROW(ParseShard(bad), KelmarError) << bad;
    EXPECT_EQ(ParseShard("2/5").Index, 2);
}

}  // namespace
}  // namespace kelmar::batch
