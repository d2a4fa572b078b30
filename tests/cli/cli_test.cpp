#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"

namespace kelmar::cli {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ParseCommandLine, AcceptsTheDocumentedForms) {
    const CliOptions a = ParseCommandLine({"simulate", "--site", "s.sit", "--climate=c.cld", "--seed",
                                           "4294967295", "--years", "3", "--results", "r.csv"});
    EXPECT_EQ(a.command, Command::Simulate);
    EXPECT_EQ(a.site, "s.sit");
    EXPECT_EQ(a.climate, "c.cld");
    EXPECT_EQ(a.seed, 4294967295u);
    EXPECT_EQ(a.years, 3);
    EXPECT_EQ(a.results, "r.csv");

    const CliOptions b = ParseCommandLine({"estimate", "--weather", "w.wed", "--output", "c.cld"});
    EXPECT_EQ(b.command, Command::Estimate);
    EXPECT_EQ(ParseCommandLine({"--help"}).command, Command::Help);
    EXPECT_EQ(ParseCommandLine({"simulate", "--help"}).command, Command::Help);
}

TEST(ParseCommandLine, RefusesWhatItCannotUnderstand) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"run"},
        {"simulate", "--site", "s.sit"},                               // neither climate nor weather
        {"simulate", "--climate", "c.cld"},                            // no site
        {"simulate", "--site", "s.sit", "--climate"},                  // value missing
        {"simulate", "--site", "s.sit", "--climate", "c", "--seed", "-1"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--seed", "4294967296"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--years", "2x"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--colour", "red"},
        {"simulate", "--site", "s.sit", "--climate", "c", "--output", "o.cld"},
        {"estimate", "--weather", "w.wed"},
        {"estimate", "--weather", "w.wed", "--output", "o.cld", "--seed", "1"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_THROW(ParseCommandLine(args), UsageError) << joined;
    }
}

struct CliRun : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelmar-cli-" + std::to_string(::getpid()));
    std::ostringstream out, err;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    CliOptions Simulated(std::uint32_t seed) {
        CliOptions o;
        o.command = Command::Simulate;
        o.site = KELMAR_EXAMPLES_DIR "/soil.sit";
        o.climate = KELMAR_EXAMPLES_DIR "/climat.cld";
        o.seed = seed;
        return o;
    }
};

TEST_F(CliRun, SameSeedGivesTheSameFiles) {
    CliOptions o = Simulated(42);
    o.years = 3;
    o.results = (dir / "a.csv").string();
    o.table = (dir / "a-table.csv").string();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
    o.results = (dir / "b.csv").string();
    o.table = (dir / "b-table.csv").string();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
    EXPECT_EQ(ReadBytes(dir / "a.csv"), ReadBytes(dir / "b.csv"));
    EXPECT_EQ(ReadBytes(dir / "a-table.csv"), ReadBytes(dir / "b-table.csv"));

    const std::string results = ReadBytes(dir / "a.csv");
    EXPECT_EQ(results.rfind("Step, Tlit,  Tsoil,  Mlit,  Msoil\r\n", 0), 0u);
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 37);  // header + 36 months

    const std::string table = ReadBytes(dir / "a-table.csv");
    EXPECT_EQ(table.rfind("YearIndex,Year,Month,Tair,T_ff,Tsoil,T_ms,Prec,W_ms_vol,W_ff_vol,W_ms_mass,"
                          "W_ff_mass\n1,1,1,",
                          0),
              0u);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1 + 500 * 13);
    EXPECT_NE(table.find("\n500,500,0,"), std::string::npos);  // the last annual record

    o.seed = 43;
    o.results = (dir / "c.csv").string();
    o.table.clear();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK);
    EXPECT_NE(ReadBytes(dir / "a.csv"), ReadBytes(dir / "c.csv"));
}

TEST_F(CliRun, WeatherFromFileReportsTheYearsRead) {
    CliOptions o = Simulated(7);
    o.weather = KELMAR_EXAMPLES_DIR "/weather.wed";
    o.results = (dir / "r.csv").string();
    ASSERT_EQ(RunSimulate(o, out, err), EXIT_OK) << err.str();
    EXPECT_EQ(out.str(), "There are 30 years in \"weather.wed\"\n");
    const std::string results = ReadBytes(dir / "r.csv");
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 1 + 30 * 12);
}

TEST_F(CliRun, ErrorsGoToStandardErrorWithTheWindowsText) {
    CliOptions o = Simulated(1);
    o.site = (dir / "absent").string();
    EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED);
    EXPECT_EQ(err.str(), "File soil parameters (" + (dir / "absent.sit").string() + ") not found.\n");

    // A climatology without mean soil temperatures stops the run.
    std::string climate = ReadBytes(KELMAR_EXAMPLES_DIR "/climat.cld");
    const auto at = climate.find("av_Ts,") + 6;
    climate.replace(at, climate.find(',', at) - at, "-99.90");
    std::ofstream(dir / "bad.cld", std::ios::binary) << climate;
    err.str("");
    o = Simulated(1);
    o.climate = (dir / "bad.cld").string();
    o.results = (dir / "never.csv").string();
    EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED);
    EXPECT_EQ(err.str(), "Climatologycal file error\n");
    EXPECT_FALSE(fs::exists(dir / "never.csv"));

    // A value that does not convert.
    std::ofstream(dir / "bad.sit", std::ios::binary) << "VAR VALUE\r\n#\r\nLat,61,5\r\n# Latitude, deg.";
    err.str("");
    o = Simulated(1);
    o.site = (dir / "bad.sit").string();
    EXPECT_EQ(RunSimulate(o, out, err), EXIT_FAILED);
    EXPECT_EQ(err.str(), "'61,5' is not a valid floating point value\nin \"" + o.site + "\", line 3\n");
}

TEST_F(CliRun, EstimateWritesAClimatologyThatRunsAgain) {
    CliOptions o;
    o.command = Command::Estimate;
    o.weather = KELMAR_EXAMPLES_DIR "/weather.wed";
    o.output = (dir / "estimated.cld").string();
    ASSERT_EQ(RunEstimate(o, out, err), EXIT_OK) << err.str();
    const std::string bytes = ReadBytes(dir / "estimated.cld");
    EXPECT_EQ(bytes.rfind("VAR VALUE\r\n#\r\nav_Ta,", 0), 0u);
    EXPECT_EQ(bytes.substr(bytes.size() - 47), "# residual deviation of soil temperature, deg.C");

    CliOptions run = Simulated(5);
    run.climate = o.output;
    EXPECT_EQ(RunSimulate(run, out, err), EXIT_OK) << err.str();
}

}  // namespace
}  // namespace kelmar::cli
