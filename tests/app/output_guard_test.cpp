#include "app/output_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace kelmar {
namespace {

namespace fs = std::filesystem;

// Each output against the inputs under the name their reader opens: the
// rules are the readers' own, a tidy weather table (.csv) included.
TEST(OutputOverInput, NamesTheClashUnderTheNameTheReaderOpens) {
    const fs::path dir = fs::temp_directory_path() / ("kelmar-output-guard-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name : {"soil.sit", "climat.cld", "weather.wed", "stations.csv", "warm.scn"})
        std::ofstream(dir / name) << "x";
    const auto at = [&](const char* name) { return (dir / name).string(); };
    const std::vector<CommandInput> inputs = {{"--site", at("soil"), InputNaming::Site},
                                              {"--climate", at("climat.txt"), InputNaming::Climatology},
                                              {"--weather", at("stations.csv"), InputNaming::Weather},
                                              {"--scenario", at("warm.scn"), InputNaming::Exact}};
    const struct {
        std::vector<CommandOutput> outputs;
        std::string fault;  // empty: none
    } cases[] = {
        {{{"--results", at("soil.sit")}},
         "--results '" + at("soil.sit") + "' would overwrite the file --site reads, '" + at("soil.sit") + "'"},
        {{{"--table", at("climat.cld")}}, "would overwrite the file --climate reads"},
        {{{"--output", at("stations.csv")}}, "would overwrite the file --weather reads"},
        {{{"--table", at("warm.scn")}}, "would overwrite the file --scenario reads"},
        {{{"--results", at("a.csv")}, {"--table", at("./a.csv")}},
         "--results '" + at("a.csv") + "' and --table '" + at("./a.csv") + "' are the same file"},
        {{{"--results", "-"}, {"--table", "-"}}, "--results '-' and --table '-' both write to standard output"},
        // Names the readers would not open: a table beside the tidy one, the site without its extension.
        {{{"--output", at("stations.wed")}, {"--results", at("soil")}, {"--table", "-"}}, ""},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> fault = OutputOverInput(inputs, c.outputs);
        if (c.fault.empty())
            EXPECT_FALSE(fault) << *fault;
        else if (!fault)
            ADD_FAILURE() << "no fault found; expected " << c.fault;
        else
            EXPECT_NE(fault->find(c.fault), std::string::npos) << *fault;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kelmar
