// kelmar-cli batch and merge run as a program: a batch killed part-way and
// resumed, signals at random moments of a batch, its join and a merge, a
// site of a batch run alone with its seed, a tidy weather table run as its
// weather file, and the command line's refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netcdf.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "io/netcdf_contents.h"
#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using kelmar::testing::NetcdfContents;
using kelmar::testing::FileText;
using kelmar::testing::WriteFileText;

struct BatchProgram : ::testing::Test {
    kelmar::testing::ExampleFolder folder{"kelmar-batch-program"};
    const fs::path& dir = folder.Path();

    // Starts kelmar-cli in `dir`, its output and errors into files there.
    pid_t Start(const std::vector<std::string>& args) {
        return kelmar::testing::StartProgram(KELMAR_CLI, args, dir, dir / ".out", dir / ".err");
    }
    // The exit status, or 128 + the signal that ended it.
    static int Wait(pid_t child) { return kelmar::testing::WaitProgram(child); }
    int Run(const std::vector<std::string>& args) { return Wait(Start(args)); }
    std::string Err() const { return FileText(dir / ".err"); }
    std::string Out() const { return FileText(dir / ".out"); }

    void SimulatedList(int sites) {
        std::string text = "site_id,site_file,climate_file\n";
        for (int i = 0; i < sites; ++i) text += "s" + std::to_string(i) + ",soil.sit,climat.cld\n";
        WriteFileText(dir / "sites.csv", text);
    }
    std::string Outputs(const std::string& out) const {
        std::string all;
        for (const char* name : {"monthly.csv", "annual.csv", "errors.csv"}) all += FileText(dir / out / name);
        return all;
    }
};

int DoneChunks(const fs::path& parts) {
    int done = 0;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(parts, ignored))
        if (entry.path().extension() == ".done") ++done;
    return done;
}

TEST_F(BatchProgram, AKilledBatchResumesToTheSameBytes) {
    SimulatedList(200);  // four chunks of 500-year sites: seconds of work on one job
    const std::vector<std::string> batch = {"batch", "--sites", "sites.csv", "--seed", "11", "--jobs", "1", "--quiet"};
    const pid_t child = Start({"batch", "--sites", "sites.csv", "--out", "killed", "--seed", "11", "--jobs", "1", "--quiet"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (DoneChunks(dir / "killed" / "parts") < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGKILL);
    ASSERT_EQ(Wait(child), 128 + SIGKILL) << "the batch ended before it could be killed";
    EXPECT_FALSE(fs::exists(dir / "killed" / "monthly.csv"));
    struct stat first {};
    ASSERT_EQ(::stat((dir / "killed/parts/chunk-000000.done").c_str(), &first), 0);

    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "killed", "--seed", "11", "--quiet"}), 1)
        << "a folder with a batch is refused without --resume";
    EXPECT_NE(Err().find("--resume"), std::string::npos) << Err();
    // The finished chunks are looked for after the run: kept.
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "killed", "--resume", "--keep-parts", "--quiet"}), 0) << Err();
    struct stat after {};
    ASSERT_EQ(::stat((dir / "killed/parts/chunk-000000.done").c_str(), &after), 0);
    EXPECT_EQ(first.st_ino, after.st_ino) << "a finished chunk was run again";

    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "whole", "--seed", "11", "--quiet"}), 0) << Err();
    EXPECT_TRUE(Outputs("killed") == Outputs("whole")) << "the resumed outputs differ from an uninterrupted run";
}

// The temporary files in a batch's folders.
std::string Temporaries(const fs::path& out) {
    std::string names;
    std::error_code ignored;
    for (const fs::path& folder : {out, out / "parts"})
        for (const auto& entry : fs::directory_iterator(folder, ignored))
            if (const std::string name = entry.path().filename().string(); name.rfind(".kelmar-", 0) == 0)
                names.append(" ").append(name);
    return names;
}

// A batch (its join included) and a merge, each stopped by SIGKILL, SIGTERM
// and SIGINT: a caught signal leaves no temporary file; after a kill,
// --resume or merge again removes what it left; and either way the outputs
// end as an uninterrupted run's, byte for byte. The moments are drawn over
// the measured length of a run from a fixed seed, so a failure repeats; the
// join's are taken once a temporary file of the join is seen.
TEST_F(BatchProgram, SignalsAtAnyMomentLeaveNoTemporaryFileAndTheSameBytesInTheEnd) {
    using Clock = std::chrono::steady_clock;
    constexpr int CHUNKS = 2;
    SimulatedList(100);  // two chunks of 500-year sites
    const auto batch = [](const std::string& out, const std::vector<std::string>& more) {
        std::vector<std::string> args = {"batch", "--sites", "sites.csv", "--out", out, "--seed", "5", "--format", "both", "--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const auto outputs = [&](const std::string& out) {
        return Outputs(out) + NetcdfContents(dir / out / "results.nc") + NetcdfContents(dir / out / "results_annual.nc");
    };
    const auto timed = [&](const std::vector<std::string>& args) {
        const auto start = Clock::now();
        EXPECT_EQ(Run(args), 0) << Err();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const double batchSeconds = timed(batch("whole", {}));
    const std::string expected = outputs("whole");
    ASSERT_EQ(Run(batch("shards", {"--shard", "0/2"})), 0) << Err();
    ASSERT_EQ(Run(batch("shards", {"--shard", "1/2"})), 0) << Err();
    // The merge below is repeated over the same parts: kept.
    const double mergeSeconds = timed({"merge", "shards", "--keep-parts"});
    ASSERT_TRUE(outputs("shards") == expected) << "the merged shards differ from the run on one machine";

    constexpr unsigned SEED = 20250611;
    std::mt19937 random(SEED);
    enum Phase { BATCH, JOIN, MERGE };
    const char* const phaseNames[] = {"batch", "join", "merge"};
    int interrupted[3] = {};
    bool killLeftTemporaries = false, killedWhileJoining = false;
    int trial = 0;
    for (const Phase phase : {BATCH, JOIN, MERGE}) {
        for (const int signal : {SIGKILL, SIGTERM, SIGINT}) {
            const std::string out = phase == MERGE ? "shards" : "trial" + std::to_string(++trial);
            if (phase == MERGE)
                for (const char* name : {"monthly.csv", "annual.csv", "errors.csv", "results.nc", "results_annual.nc"})
                    fs::remove(dir / out / name);
            const double seconds = phase == MERGE ? mergeSeconds : batchSeconds;
            const auto wait = std::chrono::duration<double>(std::uniform_real_distribution<double>(0, seconds)(random));
            const auto start = Clock::now();
            const pid_t child = Start(phase == MERGE ? std::vector<std::string>{"merge", out, "--keep-parts"} : batch(out, {}));
            int status = 0;
            bool ended = false;
            // The join: every chunk done and a temporary file in the output folder.
            const auto joining = [&] {
                return DoneChunks(dir / out / "parts") == CHUNKS && Temporaries(dir / out).find(".kelmar-") != std::string::npos &&
                       Temporaries(dir / out).size() > Temporaries(dir / out / "parts").size();
            };
            while (!(ended = waitpid(child, &status, WNOHANG) == child) &&
                   (phase == JOIN ? !joining() : Clock::now() - start < wait))
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            const double moment = std::chrono::duration<double>(Clock::now() - start).count();
            killedWhileJoining = killedWhileJoining || (!ended && signal == SIGKILL && phase == JOIN);
            if (!ended) {
                ::kill(child, signal);
                waitpid(child, &status, 0);
            }
            const bool stopped = WIFSIGNALED(status) && WTERMSIG(status) == signal;
            interrupted[phase] += stopped;
            const std::string where = std::string(phaseNames[phase]) + ", signal " + std::to_string(signal) + " at " +
                                      std::to_string(moment) + " s (seed " + std::to_string(SEED) + ")" +
                                      (stopped ? "" : ", after the run had ended");
            const std::string left = Temporaries(dir / out);
            if (signal == SIGKILL)
                killLeftTemporaries = killLeftTemporaries || !left.empty();
            else
                EXPECT_EQ(left, "") << where << ": temporary files left";

            ASSERT_EQ(Run(phase == MERGE ? std::vector<std::string>{"merge", out, "--keep-parts"} : batch(out, {"--resume"})), 0)
                << where << "\n" << Err();
            EXPECT_EQ(Temporaries(dir / out), "") << where << ": temporary files left after --resume or merge";
            EXPECT_TRUE(outputs(out) == expected) << where << ": the outputs differ from an uninterrupted run";
            if (phase != MERGE) EXPECT_FALSE(fs::exists(dir / out / "parts")) << where << ": parts left after --resume";
            if (phase != MERGE) fs::remove_all(dir / out);
        }
    }
    for (const Phase phase : {BATCH, JOIN, MERGE}) EXPECT_GT(interrupted[phase], 0) << "no signal came before the " << phaseNames[phase] << " ended";
    // Whether a kill at a random moment lands on a temporary file depends on
    // the machine's load; one seen during the join is one it killed.
    if (killedWhileJoining)
        EXPECT_TRUE(killLeftTemporaries) << "no kill left a temporary file, so none was removed by --resume or merge";
}

// Reads the numbers of the rows of `site` (monthly rows: those of a full
// table with a month) from a comma-separated file, skipping `lead` columns.
std::vector<std::vector<double>> Rows(const std::string& text, const std::string& prefix, int lead, bool skipAnnual) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream cellStream(line);
        for (std::string cell; std::getline(cellStream, cell, ',');) cells.push_back(cell);
        if (skipAnnual && cells[2] == "0") continue;
        std::vector<double> values;
        for (std::size_t k = static_cast<std::size_t>(lead); k < cells.size(); ++k) values.push_back(std::stod(cells[k]));
        rows.push_back(values);
    }
    return rows;
}

TEST_F(BatchProgram, ASiteRunAloneWithItsSeedGivesTheBatchsNumbers) {
    SimulatedList(4);
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "out", "--seed", "5", "--quiet"}), 0) << Err();
    const std::string annual = FileText(dir / "out/annual.csv");
    const std::size_t row = annual.find("\ns2,");
    ASSERT_NE(row, std::string::npos);
    const std::size_t end = annual.find('\n', row + 1);
    const std::string seed = annual.substr(annual.rfind(',', end) + 1, end - annual.rfind(',', end) - 1);
    ASSERT_EQ(Run({"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed", seed, "--table", "t.csv"}), 0);
    const auto alone = Rows(FileText(dir / "t.csv"), "", 3, true);
    const auto inBatch = Rows(FileText(dir / "out/monthly.csv"), "s2,", 3, false);
    ASSERT_EQ(alone.size(), 6000u);
    EXPECT_TRUE(alone == inBatch) << "seed " << seed;
}

// The rows of `table` that start with `prefix`, without it.
std::string RowsAfter(const std::string& table, const std::string& prefix) {
    std::istringstream in(table);
    std::string line, rows;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) rows += line.substr(prefix.size()) + "\n";
    return rows;
}

std::string SeedOf(const std::string& annual, const std::string& prefix) {
    const std::size_t row = annual.find("\n" + prefix);
    if (row == std::string::npos) return "";
    const std::size_t end = annual.find('\n', row + 1);
    return annual.substr(annual.rfind(',', end) + 1, end - annual.rfind(',', end) - 1);
}

TEST_F(BatchProgram, ASitesScenariosAndReplicatesAreWhatSimulateGivesIt) {
    SimulatedList(3);
    std::string list = "scenario,precip_factor";
    for (int m = 1; m <= 12; ++m) list += ",delta_t_" + std::to_string(m);
    list += "\nwarm,0.9,2,2,2,2,2,2,2,2,2,2,2,2\nseasonal,1.1,0,0,1,1,2,3,3,2,1,1,0,0\n";
    WriteFileText(dir / "scenarios.csv", list);
    WriteFileText(dir / "warm.scn", "name = warm\ndelta_t = 2\nprecip_factor = 0.9\n");
    WriteFileText(dir / "seasonal.scn", "name = seasonal\ndelta_t = 0,0,1,1,2,3,3,2,1,1,0,0\nprecip_factor = 1.1\n");
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "out", "--seed", "5", "--replicates", "3", "--scenarios",
                   "scenarios.csv", "--quiet"}), 0)
        << Err();
    const std::string annual = FileText(dir / "out/annual.csv");
    for (const char* scenario : {"warm", "seasonal"}) {
        // Replicate 0 of site s1 starts 3 streams after the base; simulate's
        // replicates from its seed are the batch's replicates of the site.
        const std::string seed = SeedOf(annual, std::string("s1,") + scenario + ",0,");
        ASSERT_EQ(seed, SeedOf(annual, "s1,warm,0,")) << "the scenarios of a site share its streams";
        const std::string ens = std::string("ens-") + scenario;
        ASSERT_EQ(Run({"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed", seed, "--replicates", "3",
                       "--scenario", std::string(scenario) + ".scn", "--out", ens}), 0)
            << Err();
        for (const char* table : {"monthly.csv", "annual.csv"}) {
            const std::string alone = RowsAfter(FileText(dir / ens / table), std::string("soil,") + scenario + ",");
            ASSERT_EQ(std::count(alone.begin(), alone.end(), '\n'), table[0] == 'm' ? 18000 : 1500) << ens << "/" << table;
            EXPECT_TRUE(alone == RowsAfter(FileText(dir / "out" / table), std::string("s1,") + scenario + ","))
                << table << " of s1 under " << scenario << " differ from simulate --replicates 3 --seed " << seed;
        }
    }

    // pcg64: replicate r of site i is the stream 216,024 x (i R + r) draws
    // from the base seed, which simulate --rng pcg64 gives as its replicate i R + r.
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "pcg", "--seed", "5", "--replicates", "2", "--rng", "pcg64",
                   "--quiet"}), 0)
        << Err();
    EXPECT_EQ(SeedOf(FileText(dir / "pcg/annual.csv"), "s1,none,1,"), "5");
    ASSERT_EQ(Run({"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed", "5", "--rng", "pcg64",
                   "--replicates", "4", "--out", "ens-pcg"}), 0)
        << Err();
    const std::string alone = RowsAfter(FileText(dir / "ens-pcg/monthly.csv"), "soil,none,3,");
    ASSERT_FALSE(alone.empty());
    EXPECT_TRUE(alone == RowsAfter(FileText(dir / "pcg/monthly.csv"), "s1,none,1,"))
        << "site 1 replicate 1 of pcg64 is not stream 3 of the base seed";
    EXPECT_NE(FileText(dir / "pcg/manifest.txt").find("\nrng=pcg64\n"), std::string::npos);
}

TEST_F(BatchProgram, SummariesPerSiteAndScenarioAreThoseOfSimulate) {
    SimulatedList(2);
    WriteFileText(dir / "scenarios.csv", "scenario,delta_t,precip_factor\nnone,,\nwarm,2,0.9\n");
    WriteFileText(dir / "warm.scn", "name = warm\ndelta_t = 2\nprecip_factor = 0.9\n");
    const std::vector<std::string> common = {"batch", "--sites", "sites.csv", "--seed", "5", "--replicates", "3",
                                             "--scenarios", "scenarios.csv", "--quiet"};
    const auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = common;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    ASSERT_EQ(Run(with({"--out", "rows"})), 0) << Err();
    ASSERT_EQ(Run(with({"--out", "one", "--summary", "--jobs", "1"})), 0) << Err();
    ASSERT_EQ(Run(with({"--out", "two", "--summary", "--jobs", "2"})), 0) << Err();
    EXPECT_FALSE(fs::exists(dir / "one/monthly.csv"));
    for (const char* table : {"summary_monthly.csv", "summary_annual.csv"})
        EXPECT_TRUE(FileText(dir / "one" / table) == FileText(dir / "two" / table)) << table << ": --jobs 1 and 2 differ";
    // Site s1 under warm: its replicates' summaries as simulate makes them
    // from replicate 0's seed.
    const std::string seed = SeedOf(FileText(dir / "rows/annual.csv"), "s1,warm,0,");
    ASSERT_EQ(Run({"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed", seed, "--replicates", "3",
                   "--summary", "--scenario", "warm.scn", "--out", "ens"}), 0)
        << Err();
    for (const char* table : {"summary_monthly.csv", "summary_annual.csv"}) {
        const std::string alone = RowsAfter(FileText(dir / "ens" / table), "soil,warm,");
        EXPECT_FALSE(alone.empty()) << table;
        EXPECT_TRUE(alone == RowsAfter(FileText(dir / "one" / table), "s1,warm,"))
            << table << " of s1 under warm differs from simulate --summary --replicates 3 --seed " << seed;
    }
    EXPECT_NE(FileText(dir / "one/summary_monthly.csv").find("\ns0,none,1,tair_degC,1500,"), std::string::npos);
    // A resume must keep to the summaries.
    ASSERT_EQ(Run(with({"--out", "one", "--resume"})), 1);
    EXPECT_NE(Err().find("was started with --summary"), std::string::npos) << Err();
    EXPECT_EQ(Run(with({"--out", "nc", "--summary", "--format", "netcdf"})), 1);
    EXPECT_NE(Err().find("--summary writes CSV tables"), std::string::npos) << Err();
}

TEST_F(BatchProgram, ABadScenarioListStopsTheBatchBeforeAnything) {
    SimulatedList(2);
    WriteFileText(dir / "scenarios.csv", "scenario,delta_t\nwarm,2\nwarm,3\ndry,x\n");
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--scenarios", "scenarios.csv", "--quiet"}), 1);
    for (const char* expected : {"The scenario list \"scenarios.csv\" has 2 faults; no site was run.",
                                 "\"warm\" is given twice.\nin \"scenarios.csv\", line 3",
                                 "(column delta_t)\nin \"scenarios.csv\", line 4"})
        EXPECT_NE(Err().find(expected), std::string::npos) << expected << "\n-> " << Err();
    EXPECT_FALSE(fs::exists(dir / "o"));
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--replicates", "2", "--rng", "mt"}), 2);
    EXPECT_NE(Err().find("--rng needs lcg32 or pcg64, not 'mt'"), std::string::npos) << Err();
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--replicates", "0"}), 2);
    EXPECT_NE(Err().find("--replicates needs a whole number from 1"), std::string::npos) << Err();
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--replicates", "20000"}), 1);
    EXPECT_NE(Err().find("use --rng pcg64 for more"), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(dir / "o"));
}

TEST_F(BatchProgram, ATidyWeatherTableRunsAsItsWeatherFile) {
    // The example record as a table of two sites, the other one first.
    std::string table = "site_id,year,month,tair,prec,tsoil\nother,2000,1,1,2,3\n";
    std::istringstream wed(FileText(dir / "weather.wed"));
    std::string line;
    std::getline(wed, line);
    std::getline(wed, line);
    while (std::getline(wed, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) table += "mine," + line + "\n";
    }
    WriteFileText(dir / "stations.csv", table);
    const std::vector<std::string> run = {"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed", "8"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = run;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    ASSERT_EQ(Run(with({"--weather", "weather.wed", "--table", "wed.csv"})), 0) << Err();
    ASSERT_EQ(Run(with({"--weather", "stations.csv", "--site-id", "mine", "--table", "tidy.csv"})), 0) << Err();
    EXPECT_EQ(Out(), "There are 30 years in \"stations.csv\"\n");
    EXPECT_TRUE(FileText(dir / "wed.csv") == FileText(dir / "tidy.csv"));
    EXPECT_EQ(Run(with({"--weather", "stations.csv", "--table", "x.csv"})), 1);
    EXPECT_NE(Err().find("holds 2 sites"), std::string::npos) << Err();

    // In a batch: the same site from the table and from its file.
    WriteFileText(dir / "sites.csv",
               "site_id,site_file,climate_file,weather_file,seed\nmine,soil.sit,climat.cld,stations.csv,8\n");
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "tidy", "--quiet"}), 0) << Err();
    WriteFileText(dir / "sites.csv",
               "site_id,site_file,climate_file,weather_file,seed\nmine,soil.sit,climat.cld,weather.wed,8\n");
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "wed", "--quiet"}), 0) << Err();
    EXPECT_TRUE(Outputs("tidy") == Outputs("wed"));
}

TEST_F(BatchProgram, NetcdfMergeChecksThePartsAndNeedsASiteWithResults) {
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file,weather_file\n"
                                  "a,soil.sit,climat.cld,weather.wed\nb,soil.sit,climat.cld,weather.wed\n");
    // Its values part is damaged below: kept.
    ASSERT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--format", "netcdf", "--keep-parts", "--quiet"}), 0)
        << Err();
    EXPECT_FALSE(fs::exists(dir / "o/monthly.csv")) << "--format netcdf joins no CSV tables";
    const std::string written = FileText(dir / "o/results.nc");
    ASSERT_FALSE(written.empty());

    // A values part damaged in place (its size, which the done-file records,
    // kept): its bytes no longer have the checksum recorded while they were
    // written, and the merge names the chunk, the stream and what to do.
    const fs::path values = dir / "o/parts/shard-0-of-1.values.bin";
    std::string part = FileText(values);
    const std::size_t a = part.find("KSV2"), b = part.find("KSV2", a + 1);
    ASSERT_NE(b, std::string::npos) << "no second site record in " << values;
    part[b] = 'X';
    WriteFileText(values, part);
    EXPECT_EQ(Run({"merge", "o"}), 1);
    for (const char* piece : {"chunk 0 (sites 1 to 2)", "stream values", "shard-0-of-1.values.bin\" differ from the checksum",
                              "--resume"})
        EXPECT_NE(Err().find(piece), std::string::npos) << piece << " not in\n" << Err();
    EXPECT_TRUE(FileText(dir / "o/results.nc") == written) << "a refused merge changed results.nc";

    // No site with results: no file of zero years, and the failure is told.
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file\na,gone.sit,climat.cld\n");
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "none", "--format", "netcdf", "--quiet"}), 1);
    EXPECT_NE(Err().find("results.nc (which needs at least one year) was not written"), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(dir / "none/results.nc"));
    EXPECT_FALSE(fs::exists(dir / "none/results_annual.nc"));
    EXPECT_NE(FileText(dir / "none/errors.csv").find("a,"), std::string::npos)
        << "a failed site's message must reach errors.csv whatever the format";
}

// The netCDF options: a value out of their range, or one that cannot act
// (CSV alone), is a usage error that writes nothing; the manifest records
// them, and a run to be joined with others of other values is refused.
TEST_F(BatchProgram, NetcdfPrecisionAndDeflateAreCheckedAndBindTheBatch) {
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file,weather_file\na,soil.sit,climat.cld,weather.wed\n");
    const std::vector<std::string> base = {"batch", "--sites", "sites.csv", "--out", "u", "--quiet"};
    const struct {
        std::vector<std::string> more;
        const char* err;
    } usage[] = {
        {{"--format", "netcdf", "--netcdf-precision", "half"}, "--netcdf-precision needs single or double, not 'half'"},
        {{"--format", "netcdf", "--netcdf-deflate", "10"}, "--netcdf-deflate needs a whole number from 0 to 9"},
        {{"--format", "netcdf", "--netcdf-deflate", "-1"}, "--netcdf-deflate"},
        {{"--format", "both", "--netcdf-deflate", "x"}, "--netcdf-deflate needs a whole number"},
        {{"--netcdf-precision", "single"}, "--netcdf-precision needs --format netcdf or both"},
        {{"--format", "csv", "--netcdf-deflate", "1"}, "--netcdf-deflate needs --format netcdf or both"},
    };
    for (const auto& c : usage) {
        std::vector<std::string> args = base;
        args.insert(args.end(), c.more.begin(), c.more.end());
        std::string joined;
        for (const auto& a : c.more) joined += a + " ";
        EXPECT_EQ(Run(args), 2) << joined << "\n" << Err();
        EXPECT_NE(Err().find(c.err), std::string::npos) << joined << "\n" << Err();
        EXPECT_FALSE(fs::exists(dir / "u")) << joined << ": a usage error wrote the folder";
    }

    const std::vector<std::string> run = {"batch", "--sites", "sites.csv", "--out", "o", "--format", "netcdf", "--quiet"};
    std::vector<std::string> packed = run;
    packed.insert(packed.end(), {"--netcdf-precision", "single", "--netcdf-deflate", "3"});
    ASSERT_EQ(Run(packed), 0) << Err();
    const std::string manifest = FileText(dir / "o/manifest.txt");
    EXPECT_NE(manifest.find("\nnetcdf_precision=single\nnetcdf_deflate=3\n"), std::string::npos) << manifest;
    const struct {
        std::vector<std::string> more;
        const char* err;
    } others[] = {
        {{"--resume", "--netcdf-deflate", "3"}, "was started with --netcdf-precision single"},
        {{"--resume", "--netcdf-precision", "single"}, "was started with --netcdf-deflate 3"},
    };
    for (const auto& c : others) {
        std::vector<std::string> args = run;
        args.insert(args.end(), c.more.begin(), c.more.end());
        EXPECT_EQ(Run(args), 1) << Err();
        EXPECT_NE(Err().find(c.err), std::string::npos) << Err();
    }
    std::vector<std::string> same = packed;
    same.push_back("--resume");
    EXPECT_EQ(Run(same), 0) << Err();
    EXPECT_EQ(FileText(dir / "o/manifest.txt"), manifest);
}

TEST_F(BatchProgram, CommandLineAndFailures) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* err;  // a piece of standard error
    } cases[] = {
        {{"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--bogus"}, 2, "unknown option '--bogus'"},
        {{"batch", "--sites", "sites.csv"}, 2, "batch needs --out"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--format", "hdf"}, 2, "--format needs csv, netcdf or both"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--jobs", "0"}, 2, "--jobs needs"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--shard", "3/3"}, 1, "is not K/N"},
        {{"batch", "--sites", "absent.csv", "--out", "o"}, 1, "absent.csv"},
        {{"merge", "nothing-here"}, 1, "holds no batch"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--csv-digits", "0"}, 2, "--csv-digits needs a whole number from 1 to 17"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--format", "netcdf", "--csv-digits", "6"}, 2,
         "--format netcdf writes none"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(Run(c.args), c.status) << joined << "\n" << Err();
        EXPECT_NE(Err().find(c.err), std::string::npos) << joined << "\n" << Err();
    }
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(Out().rfind("kelmar-cli ", 0), 0u);
    EXPECT_EQ(Run({"batch", "--help"}), 0);
    EXPECT_NE(Out().find("--resume"), std::string::npos);

    // A failed site: the others run, exit 1 with a one-line summary.
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file,weather_file\n"
                                  "a,soil.sit,climat.cld,weather.wed\nb,gone.sit,climat.cld,weather.wed\n");
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--quiet"}), 1);
    EXPECT_EQ(Err(), "kelmar-cli: 1 of 2 sites failed; their messages are in o/errors.csv\n");
    EXPECT_NE(FileText(dir / "o/errors.csv").find("b,\"File soil parameters"), std::string::npos);
    EXPECT_NE(FileText(dir / "o/annual.csv").find("\na,1961,"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "o/parts"));

    // The finished folder: a resume or a merge says so and gives the batch's
    // exit again; a new run there is refused; a table gone is told.
    const struct {
        std::vector<std::string> args;
        const char* err;
    } later[] = {
        {{"batch", "--sites", "sites.csv", "--out", "o", "--resume", "--quiet"}, "is finished: its outputs are joined"},
        {{"merge", "o"}, "1 of 2 sites failed; their messages are in o/errors.csv"},
        {{"batch", "--sites", "sites.csv", "--out", "o", "--quiet"}, "already holds a finished batch"},
    };
    for (const auto& c : later) {
        EXPECT_EQ(Run(c.args), 1) << c.args[0] << "\n" << Err();
        EXPECT_NE(Err().find(c.err), std::string::npos) << c.args[0] << "\n" << Err();
    }
    fs::remove(dir / "o/annual.csv");
    EXPECT_EQ(Run({"merge", "o"}), 1);
    EXPECT_NE(Err().find("\"annual.csv\" is gone"), std::string::npos) << Err();
}

}  // namespace
