// kelmar-cli's --start-year and --run-years as a program: refusals that
// write nothing, and outputs that are the first years of the full run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using kelmar::testing::FileText;
using kelmar::testing::WriteFileText;

using Outcome = kelmar::testing::ProgramOutcome;

struct SimulatedYearsProgram : ::testing::Test {
    kelmar::testing::ExampleFolder folder{"kelmar-years-program"};
    const fs::path& dir = folder.Path();

    void SetUp() override {
        std::ofstream(dir / "sites.csv") << "site_id,site_file,climate_file\ns,soil.sit,climat.cld\n";
    }

    // kelmar-cli in `dir`, its output and errors kept outside it.
    Outcome Run(const std::vector<std::string>& args) {
        return kelmar::testing::RunProgram(KELMAR_CLI, args, dir, dir);
    }

    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            files[entry.path().string()] = entry.is_regular_file() ? FileText(entry.path()) : "";
        return files;
    }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(SimulatedYearsProgram, RefusalsNameTheOptionAndItsRangeAndWriteNothing) {
    const std::vector<std::string> simulate = {"simulate", "--site", "soil.sit", "--climate", "climat.cld",
                                               "--table", "t.csv", "--results", "r.csv"};
    const std::vector<std::string> observed = {"simulate", "--site", "soil.sit", "--weather", "weather.wed",
                                               "--table", "t.csv"};
    const std::vector<std::string> ensemble = {"simulate", "--site", "soil.sit", "--climate", "climat.cld",
                                               "--replicates", "2", "--out", "e"};
    const std::vector<std::string> batch = {"batch", "--sites", "sites.csv", "--out", "o", "--quiet"};
    const struct {
        std::vector<std::string> line, extra;
        const char* message;  // all of standard error up to "; see"
    } cases[] = {
        {simulate, {"--run-years", "0"}, "--run-years needs a whole number from 1 to 500, not '0'"},
        {simulate, {"--run-years", "501"}, "--run-years needs a whole number from 1 to 500, not '501'"},
        {simulate, {"--run-years", "ten"}, "--run-years needs a whole number from 1 to 500, not 'ten'"},
        {simulate, {"--start-year", "0"}, "--start-year needs a whole number from 1 to 9999, not '0'"},
        {simulate, {"--start-year", "1961.5"}, "--start-year needs a whole number from 1 to 9999, not '1961.5'"},
        {simulate, {"--start-year", "9501"},
         "--start-year needs a whole number from 1 to 9500 with 500 run years (the last year at most 9999), not "
         "'9501'"},
        {simulate, {"--start-year", "9992", "--run-years", "9"},
         "--start-year needs a whole number from 1 to 9991 with 9 run years (the last year at most 9999), not "
         "'9992'"},
        {observed, {"--start-year", "1961"},
         "--start-year belongs to simulated weather (--climate without --weather): an observed record runs its own "
         "years"},
        {observed, {"--run-years", "10"},
         "--run-years belongs to simulated weather (--climate without --weather): an observed record runs its own "
         "years"},
        {ensemble, {"--run-years", "0"}, "--run-years needs a whole number from 1 to 500, not '0'"},
        {ensemble, {"--start-year", "9990", "--run-years", "11"},
         "--start-year needs a whole number from 1 to 9989 with 11 run years (the last year at most 9999), not "
         "'9990'"},
        {batch, {"--start-year", "9600"},
         "--start-year needs a whole number from 1 to 9500 with 500 run years (the last year at most 9999), not "
         "'9600'"},
        {batch, {"--run-years", "1000"}, "--run-years needs a whole number from 1 to 500, not '1000'"},
        {{"estimate", "--weather", "weather.wed", "--output", "c.cld"}, {"--run-years", "5"},
         "--run-years does not belong to 'estimate'"},
    };
    const auto before = Snapshot();
    for (const auto& c : cases) {
        std::vector<std::string> args = c.line;
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        const Outcome outcome = Run(args);
        EXPECT_EQ(outcome.status, 2) << joined << "\n" << outcome.err;
        EXPECT_EQ(outcome.err.substr(0, outcome.err.find("; see")), "kelmar-cli: " + std::string(c.message)) << joined;
        EXPECT_TRUE(Snapshot() == before) << joined << " wrote something";
    }
}

// The table and the results file of a shorter run from another year: the
// full run's first years, the table's Year column counting from the year
// asked for (the results file has no years: its lines are the full run's).
TEST_F(SimulatedYearsProgram, OutputsAreTheFirstYearsOfTheFullRun) {
    const std::vector<std::string> common = {"simulate", "--site", "soil.sit", "--climate", "climat.cld", "--seed",
                                             "31"};
    auto full = common, part = common;
    for (const char* option : {"--table", "--results"}) {
        full.insert(full.end(), {option, std::string(option) == "--table" ? "full.csv" : "full-results.csv"});
        part.insert(part.end(), {option, std::string(option) == "--table" ? "part.csv" : "part-results.csv"});
    }
    part.insert(part.end(), {"--start-year", "1991", "--run-years", "30"});
    ASSERT_EQ(Run(full).status, 0);
    const Outcome outcome = Run(part);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Simulated 30 years of weather\n");

    const auto whole = Lines(FileText(dir / "full.csv")), start = Lines(FileText(dir / "part.csv"));
    ASSERT_EQ(start.size(), 1 + 30 * 13u);
    EXPECT_EQ(start[0], whole[0]);
    for (std::size_t n = 1; n < start.size(); ++n) {
        // YearIndex,Year,...: the full run's Year is its year index.
        const std::size_t comma = start[n].find(','), next = start[n].find(',', comma + 1);
        const int index = std::stoi(start[n].substr(0, comma));
        EXPECT_EQ(start[n].substr(comma + 1, next - comma - 1), std::to_string(1990 + index)) << start[n];
        ASSERT_EQ(start[n].substr(0, comma + 1) + std::to_string(index) + start[n].substr(next), whole[n])
            << "line " << n;
    }

    const std::string results = FileText(dir / "part-results.csv");
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 1 + 30 * 12);
    EXPECT_EQ(FileText(dir / "full-results.csv").substr(0, results.size()), results);

    // --years still counts the years written to the results file.
    part.insert(part.end(), {"--years", "3"});
    ASSERT_EQ(Run(part).status, 0);
    EXPECT_EQ(FileText(dir / "part-results.csv"), results.substr(0, FileText(dir / "part-results.csv").size()));
    EXPECT_EQ(Lines(FileText(dir / "part-results.csv")).size(), 1 + 3 * 12u);
    EXPECT_EQ(Lines(FileText(dir / "part.csv")).size(), 1 + 30 * 13u) << "--years does not cut the table";
}

}  // namespace
