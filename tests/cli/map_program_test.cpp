// kelmar-cli map as a user runs it: command lines it cannot understand exit
// 2 and write nothing, and a map the batch cannot give exits 1 naming why,
// writing nothing either.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/program_fixture.h"
#include "io/io_test_support.h"

namespace kelmar::testing {
namespace {

TEST(MapProgram, RefusesBadLinesAndMapsWritingNothing) {
    ExampleFolder folder("map-program");
    const fs::path& dir = folder.Path();
    kelmar::testing::WriteBytes((dir / "sites.csv").string(),
                                "site_id,site_file,climate_file,lat,lon\na,soil.sit,climat.cld,60,25\n"
                                "b,soil.sit,climat.cld,61,26\n");
    const ProgramOutcome batch = RunProgram(KELMAR_CLI,
                                            {"batch", "--sites", "sites.csv", "--out", "b", "--seed", "1",
                                             "--run-years", "3", "--format", "netcdf", "--quiet"},
                                            dir, dir / "capture");
    ASSERT_EQ(batch.status, 0) << batch.err;
    const struct {
        std::vector<std::string> Args;
        int Status;
        std::string Says;
    } cases[] = {
        {{"map", "--var", "t_ms", "--out", "m.png"}, 2, "map needs the folder of the batch"},
        {{"map", "b", "--out", "m.png"}, 2, "map needs --var"},
        {{"map", "b", "--var", "t_ms"}, 2, "map needs --out"},
        {{"map", "b", "--var", "t_ms", "--out", "m.gif"}, 2, "--out needs a file ending in .png, .svg or .pdf"},
        {{"map", "b", "--var", "t_ms", "--months", "13", "--out", "m.png"}, 2, "--months needs months 1 to 12"},
        {{"map", "b", "--var", "t_ms", "--months", "7,7", "--out", "m.png"}, 2, "--months gives month 7 twice"},
        {{"map", "b", "--var", "t_ms", "--years", "2100-2071", "--out", "m.png"}, 2, "--years needs calendar years Y1-Y2"},
        {{"map", "b", "--var", "t_ms", "--stat", "median", "--out", "m.png"}, 2, "--stat needs mean, percentile or spread"},
        {{"map", "b", "--var", "t_ms", "--percentile", "90", "--out", "m.png"}, 2, "--percentile needs --stat percentile"},
        {{"map", "b", "--var", "t_ms", "--stat", "percentile", "--percentile", "120", "--out", "m.png"}, 2,
         "--percentile needs 0 to 100"},
        {{"map", "b", "--var", "t_ms", "--stat", "spread", "--realization", "1", "--out", "m.png"}, 2,
         "--realization shows one realization"},
        {{"map", "b", "--var", "t_ms", "--width", "5", "--out", "m.png"}, 2, "--width"},
        {{"map", "b", "--var", "t_msx", "--out", "m.png"}, 1, "The variable \"t_msx\" is not in the batch"},
        {{"map", "b", "--var", "t_ms", "--years", "5-9", "--out", "m.png"}, 1, "lie outside the run, whose years are"},
        {{"map", "nowhere", "--var", "t_ms", "--out", "m.png"}, 1, "has no manifest.txt"},
    };
    for (const auto& c : cases) {
        const ProgramOutcome run = RunProgram(KELMAR_CLI, c.Args, dir, dir / "capture");
        std::string line;
        for (const std::string& arg : c.Args) line += arg + " ";
        EXPECT_EQ(run.status, c.Status) << line << run.err;
        EXPECT_NE(run.err.find(c.Says), std::string::npos) << line << ": " << run.err;
        EXPECT_FALSE(fs::exists(dir / "m.png")) << line;
        EXPECT_FALSE(fs::exists(dir / "m.gif")) << line;
    }
}

}  // namespace
}  // namespace kelmar::testing
