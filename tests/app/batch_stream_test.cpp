// results.nc written while the sites run holds what the join of the values
// parts writes, and a stream that cannot hold the batch leaves nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "app/batch/batch_run.h"
#include "batch_fixture.h"
#include "io/io_test_support.h"
#include "io/netcdf_contents.h"

namespace kelmar::batch {
namespace {

namespace fs = std::filesystem;
using kelmar::testing::NetcdfContents;
using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;
using kelmar::testing::WriteBytes;

const std::string EXAMPLES = KELMAR_EXAMPLES_DIR;

// The names in the folder that begin as the program's temporary files.
std::string Temporaries(const fs::path& folder) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (const std::string name = entry.path().filename().string(); name.rfind(".kelmar-", 0) == 0) names += " " + name;
    return names;
}

struct BatchStream : ::testing::Test {
    TempDir dir;
    std::ostringstream err;

    // `sites` simulated-weather sites (short runs), some placed on the map;
    // the site `failing` (none: -1) names a site file that is not there.
    void MakeList(int sites, int failing) {
        std::ostringstream text;
        text << "site_id,site_file,climate_file,lat,lon\n";
        for (int i = 0; i < sites; ++i) {
            text << 's' << i << ',' << EXAMPLES << (i == failing ? "/missing.sit," : "/soil.sit,") << EXAMPLES << "/climat.cld,";
            if (i % 3 == 0)
                text << 40 + i * 0.25 << ',' << -3 - i * 0.5;
            else
                text << ',';
            text << '\n';
        }
        WriteBytes(dir.File("sites.csv"), text.str());
    }

    BatchOptions Options(const std::string& out, int jobs = 2) {
        BatchOptions o = testing::TestBatch(dir, out, jobs);
        o.Format = OutputFormat::NetCdf;
        o.StartYear = 1961;
        o.RunYears = 12;
        return o;
    }

    std::string Files(const std::string& out) {
        return NetcdfContents(dir.File(out + "/results.nc")) + NetcdfContents(dir.File(out + "/results_annual.nc"));
    }
};

// The same batch streamed (one process, the whole list) and joined (a
// shard, then the rest by --resume on one machine, which joins from the
// values parts of both), for the layouts of the files.
TEST_F(BatchStream, AStreamedBatchHoldsWhatTheJoinWrites) {
    MakeList(70, 40);  // two chunks; s40 fails
    WriteBytes(dir.File("scenarios.csv"), "scenario,delta_t,precip_factor\nbase,0,1\nwarm,1.5,0.9\n");
    const struct {
        const char* what;
        bool scenarios;
        int replicates;
        const char* precision;
        int deflate;
    } cases[] = {
        {"sites alone, double", false, 0, "double", 0},
        {"scenarios and replicates, single, deflated", true, 2, "single", 1},
    };
    for (const auto& c : cases) {
        const auto options = [&](const std::string& out, int jobs) {
            BatchOptions o = Options(out, jobs);
            if (c.scenarios) o.ScenariosFile = dir.File("scenarios.csv");
            o.Replicates = c.replicates;
            o.NetcdfPrecision = c.precision;
            o.NetcdfDeflate = c.deflate;
            return o;
        };
        fs::remove_all(dir.File("joined"));
        BatchOptions shard = options("joined", 2);
        shard.Share = Shard{0, 2};
        RunBatch(shard, err);
        BatchOptions rest = options("joined", 2);
        rest.Resume = true;
        const BatchSummary joined = RunBatch(rest, err);
        EXPECT_FALSE(joined.NetcdfStreamed) << c.what << ": a resume of another process's chunks streamed";
        EXPECT_TRUE(joined.Merged) << c.what;
        const std::string files = Files("joined");
        ASSERT_NE(files.find("s69"), std::string::npos) << c.what << ": " << files.substr(0, 200);

        for (const int jobs : {1, 2}) {
            fs::remove_all(dir.File("streamed"));
            const BatchSummary streamed = RunBatch(options("streamed", jobs), err);
            EXPECT_TRUE(streamed.NetcdfStreamed) << c.what << ", --jobs " << jobs << ": not streamed\n" << err.str();
            EXPECT_EQ(streamed.Failed, 1) << c.what;
            EXPECT_TRUE(Files("streamed") == files) << c.what << ", --jobs " << jobs << ": the streamed files differ from the joined ones";
            EXPECT_EQ(Temporaries(dir.File("streamed")), "") << c.what;
        }
    }
}

// Every site failed: the stream holds no year, so no file is put in place,
// its temporary files go, and the batch says so as the join always has.
TEST_F(BatchStream, AStreamWithoutAYearLeavesNoFile) {
    std::string text = "site_id,site_file,climate_file\n";
    for (int i = 0; i < 3; ++i) text += "s" + std::to_string(i) + "," + EXAMPLES + "/missing.sit," + EXAMPLES + "/climat.cld\n";
    WriteBytes(dir.File("sites.csv"), text);
    const BatchSummary summary = RunBatch(Options("none"), err);
    EXPECT_EQ(summary.Failed, 3);
    EXPECT_FALSE(summary.NetcdfStreamed);
    EXPECT_NE(err.str().find("results.nc (which needs at least one year) was not written"), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(dir.File("none/results.nc")));
    EXPECT_FALSE(fs::exists(dir.File("none/results_annual.nc")));
    EXPECT_EQ(Temporaries(dir.File("none")), "");
}

}  // namespace
}  // namespace kelmar::batch
