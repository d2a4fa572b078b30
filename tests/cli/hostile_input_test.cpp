// kelmar-cli run as a program against inputs and limits meant to break it:
// special files in place of inputs, a disk that fills while the netCDF file
// is written, thread counts far beyond the machine. Each must end with a
// clear message and an exit status, never hang or crash.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using kelmar::testing::FileText;
using kelmar::testing::WriteFileText;

#ifdef KELMAR_SANITIZED
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

using Limits = kelmar::testing::ProgramLimits;

// Without a limit of its own, a hang ends by SIGALRM after this (status 142).
constexpr unsigned HANG_SECONDS = 120;

struct HostileInput : ::testing::Test {
    kelmar::testing::ExampleFolder folder{"kelmar-hostile"};
    const fs::path& dir = folder.Path();

    // Runs kelmar-cli in `dir`; gives the exit status, or 128 + the signal
    // that ended it.
    int Run(const std::vector<std::string>& args, Limits limits = {}) {
        if (limits.Seconds == 0) limits.Seconds = HANG_SECONDS;
        return kelmar::testing::WaitProgram(
            kelmar::testing::StartProgram(KELMAR_CLI, args, dir, dir / ".out", dir / ".err", limits));
    }
    std::string Err() const { return FileText(dir / ".err"); }
};

// Before, a site file that was a FIFO without a writer stopped the whole
// batch, and simulate, for ever.
TEST_F(HostileInput, ASpecialFileIsRefusedUnwaitedAndInABatchIsOnlyItsSitesError) {
    ASSERT_EQ(mkfifo((dir / "fifo.sit").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "fifo.cld").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir / "null.wed");
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file,weather_file\n"
                                  "a,soil.sit,climat.cld,weather.wed\n"
                                  "pipe,fifo.sit,climat.cld,weather.wed\n"
                                  "device,soil.sit,climat.cld,null.wed\n"
                                  "b,soil.sit,climat.cld,\n");
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--quiet"}), 1) << Err();
    EXPECT_EQ(Err(), "kelmar-cli: 2 of 4 sites failed; their messages are in o/errors.csv\n");
    const std::string errors = FileText(dir / "o/errors.csv");
    EXPECT_NE(errors.find("pipe,\"The file \"\"fifo.sit\"\" is not a regular file but a FIFO"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("device,\"The file \"\"null.wed\"\" is not a regular file but a character device"),
              std::string::npos)
        << errors;
    const std::string annual = FileText(dir / "o/annual.csv");
    EXPECT_NE(annual.find("\na,"), std::string::npos) << annual;
    EXPECT_NE(annual.find("\nb,"), std::string::npos) << annual;

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"simulate", "--site", "fifo.sit", "--climate", "climat.cld"},
             {"simulate", "--site", "soil.sit", "--climate", "fifo.cld"}}) {
        EXPECT_EQ(Run(args), 1) << args[2] << args[4] << "\n" << Err();
        EXPECT_NE(Err().find("is not a regular file but a FIFO"), std::string::npos) << Err();
    }
}

// The largest file under `folder` other than `except`, in bytes.
std::uintmax_t LargestFileBut(const fs::path& folder, const fs::path& except) {
    std::uintmax_t largest = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path() != except) largest = std::max(largest, entry.file_size());
    return largest;
}

// Before, the message came and then the process crashed at its end, in the
// HDF5 library's shutdown (status 139). A file size limit makes the disk
// full for results.nc alone: its writes fail with EFBIG.
TEST_F(HostileInput, ANetcdfFileThatCannotBeWrittenEndsWithItsMessageAndStatus1) {
    // One simulated site (years 1..500) among observed ones (1961..1990):
    // the file's time axis spans 1..1990 for every site, so it outgrows the
    // values part, which holds each site's own years alone.
    std::string list = "site_id,site_file,climate_file,weather_file\nsim,soil.sit,climat.cld,\n";
    for (int i = 0; i < 20; ++i) list += "s" + std::to_string(i) + ",soil.sit,climat.cld,weather.wed\n";
    WriteFileText(dir / "sites.csv", list);
    // The parts are kept, so that the limit is measured over every file the
    // batch writes and the merges below join them again.
    const std::vector<std::string> batch = {"batch", "--sites", "sites.csv", "--out", "o", "--format", "netcdf", "--quiet",
                                            "--keep-parts"};
    ASSERT_EQ(Run(batch), 0) << Err();
    const fs::path results = dir / "o/results.nc";
    const std::uintmax_t whole = fs::file_size(results), others = LargestFileBut(dir, results);
    ASSERT_LT(others, whole) << "the fixture must make results.nc the largest file";
    const Limits full{.FileBytes = (others + whole) / 2};

    fs::remove_all(dir / "o");
    EXPECT_EQ(Run(batch, full), 1) << Err();
    EXPECT_NE(Err().find("Cannot write the file \"o/results.nc\""), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(results));

    ASSERT_EQ(Run({"merge", "o", "--keep-parts"}), 0) << Err();
    const std::string written = FileText(results);
    EXPECT_EQ(Run({"merge", "o", "--keep-parts"}, full), 1) << Err();
    EXPECT_NE(Err().find("results.nc"), std::string::npos) << Err();
    EXPECT_TRUE(FileText(results) == written) << "a failed merge changed results.nc";
}

// Before, every job asked for got two tasks' memory up front (about 1.3 MB
// each): --jobs 65535 on one site needed 170 GB and was killed.
TEST_F(HostileInput, JobsBeyondTheTasksAreCappedAndSaidSo) {
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file,weather_file\na,soil.sit,climat.cld,weather.wed\n");
    const Limits memory{.AddressBytes = rlim_t{2} << 30};  // 2 GiB of address space
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "o", "--quiet", "--jobs", "65535"}, memory), 0) << Err();
    EXPECT_EQ(Err(), "kelmar-cli: --jobs 65535 capped to 1 (the tasks of the batch)\n");
    EXPECT_NE(FileText(dir / "o/annual.csv").find("\na,1961,"), std::string::npos);

    // 100 replicates of a site are 100 tasks; the thread pool starts no
    // more threads than the cores (it used to say so itself, after the fact).
    WriteFileText(dir / "generated.csv", "site_id,site_file,climate_file\na,soil.sit,climat.cld\n");
    EXPECT_EQ(Run({"batch", "--sites", "generated.csv", "--out", "r", "--quiet", "--replicates", "100", "--jobs",
                   "65535"},
                  memory),
              0)
        << Err();
    std::smatch cap;
    const std::string said = Err();
    ASSERT_TRUE(std::regex_match(said, cap, std::regex("kelmar-cli: --jobs 65535 capped to ([0-9]+) "
                                                       "\\((the cores|the tasks of the batch)\\)\n")))
        << said;
    EXPECT_LE(std::stoi(cap[1]), 100);
    EXPECT_EQ(cap[2] == "the tasks of the batch", std::stoi(cap[1]) == 100) << said;

    // Within the tasks and the cores nothing is said.
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file,weather_file\n"
                                  "a,soil.sit,climat.cld,weather.wed\nb,soil.sit,climat.cld,weather.wed\n");
    EXPECT_EQ(Run({"batch", "--sites", "sites.csv", "--out", "p", "--quiet", "--jobs", "2"}, memory), 0) << Err();
    EXPECT_EQ(Err(), "");
}

// Messages that before left the person guessing: "not found" for a folder,
// "needs a number" for a number too large, a bare std::bad_alloc.
TEST_F(HostileInput, EachRefusalNamesTheValueTheLimitAndWhatToDo) {
    fs::create_directory(dir / "dir.sit");
    const std::vector<std::string> simulate = {"simulate", "--site", "soil.sit", "--climate", "climat.cld"};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), simulate.begin(), simulate.end());
        return more;
    };
    WriteFileText(dir / "sites.csv", "site_id,site_file,climate_file\na,soil.sit,climat.cld\n");
    const auto batch = [&](std::vector<std::string> more) {
        const std::vector<std::string> start = {"batch", "--sites", "sites.csv", "--out", "o", "--quiet"};
        more.insert(more.begin(), start.begin(), start.end());
        return more;
    };
    const struct {
        std::vector<std::string> Args;
        Limits Limit;
        int Status;
        std::string Message;  // a piece of standard error
    } cases[] = {
        {{"simulate", "--site", "dir.sit", "--climate", "climat.cld"}, {}, 1,
         "\"dir.sit\" is a folder, not a file; name a file in it."},
        {with({"--precip-factor", "1e309"}), {}, 2,
         "--precip-factor 1e309 is beyond the largest number a run can take (about 1.8e308); give a number within it"},
        {with({"--delta-t", "-1e400000"}), {}, 2, "--delta-t -1e400000 is beyond the largest number"},
        {with({"--precip-factor", "1e30x"}), {}, 2, "--precip-factor needs a number, not '1e30x'"},
        // Control bytes shown, not sent to the terminal.
        {with({"--precip-factor", "1\n2"}), {}, 2, "--precip-factor needs a number, not '1\\x0A2'"},
        {with({"--bogus\x1b[2J"}), {}, 2, "unknown option '--bogus\\x1B[2J'"},
        {with({"--replicates", "-1"}), {}, 2, "--replicates needs a whole number from 1 to 100000000, not '-1'"},
        {with({"--replicates", "100000", "--summary", "--out", "s", "--rng", "pcg64"}),
         {.AddressBytes = rlim_t{1536} << 20}, 1,
         "The summary of 100000 replicates needs at least "},
        // A batch's options and inputs, refused before anything is made.
        {batch({"--jobs", "-3"}), {}, 2, "--jobs needs a whole number from 1 to 65535, not '-3'"},
        {batch({"--seed", "-1"}), {}, 2, "--seed needs a whole number from 0 to 4294967295, not '-1'"},
        {batch({"--seed", "4294967296"}), {}, 2, "not '4294967296'"},
        {batch({"--rng", "mt"}), {}, 2, "--rng needs lcg32 or pcg64, not 'mt'"},
        {batch({"--format", "xlsx"}), {}, 2, "--format needs csv, netcdf or both, not 'xlsx'"},
        {batch({"--replicates", "0"}), {}, 2, "--replicates needs a whole number from 1 to 100000000, not '0'"},
        {batch({"--replicates", "1e3"}), {}, 2, "not '1e3'"},
        {batch({"--scenarios", "missing.csv"}), {}, 1, "The scenario list \"missing.csv\" was not found."},
        {{"batch", "--sites", "dir.sit", "--out", "o", "--quiet"}, {}, 1, "\"dir.sit\" is a folder, not a file"},
        {{"batch", "--sites", "missing.csv", "--out", "o", "--quiet"}, {}, 1, "The site list \"missing.csv\" was not found."},
        {{"batch", "--sites", "sites.csv", "--out", "soil.sit/o", "--quiet"}, {}, 1,
         "\"soil.sit\" is a file, not a folder. Name a folder, or move the file away."},
    };
    for (const auto& c : cases) {
        // Without the limit the case would take the memory it is about.
        if (SANITIZED && c.Limit.AddressBytes) continue;
        std::string joined;
        for (const auto& a : c.Args) joined += a + " ";
        EXPECT_EQ(Run(c.Args, c.Limit), c.Status) << joined << "\n" << Err();
        EXPECT_NE(Err().find(c.Message), std::string::npos) << joined << "\n" << Err();
        EXPECT_FALSE(fs::exists(dir / "o")) << joined << ": a refused batch made its folder";
    }
}

}  // namespace
