#include "app/results_file_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace kelmar {
namespace {

namespace fs = std::filesystem;

TEST(ResultsFileName, AppendsCsvAndSearchesAFreeName) {
    const fs::path dir = fs::temp_directory_path() / ("kelmar-names-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const struct {
        const char* chosen;
        std::vector<const char*> existing;
        const char* expected;
    } cases[] = {
        {"results", {}, "results.csv"},
        {"out.txt", {}, "out.txt.csv"},
        {"out.CSV", {}, "out.CSV.csv"},
        {"results.csv", {"results.csv"}, "results1.csv"},
        {"results", {"results.csv", "results1.csv"}, "results12.csv"},
        {"results", {"results.csv", "results1.csv", "results12.csv"}, "results123.csv"},
        {"results", {"results.csv", "results2.csv"}, "results1.csv"},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : c.existing) std::ofstream(dir / name) << "x";
        EXPECT_EQ(ResultsFileName((dir / c.chosen).string()), (dir / c.expected).string())
            << "chose " << c.chosen << " with " << c.existing.size() << " files present";
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kelmar
