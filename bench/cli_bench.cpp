// The whole command-line simulation of 500 years on the example site: read
// the files, run, write the results file and the full table.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>

#include "cli/cli_commands.h"

namespace kelmar {
namespace {

void BM_CliSimulate500Years(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / "kelmar-cli-bench";
    std::filesystem::create_directories(dir);
    cli::CliOptions options;
    options.command = cli::Command::Simulate;
    options.site = KELMAR_EXAMPLES_DIR "/soil.sit";
    options.climate = KELMAR_EXAMPLES_DIR "/climat.cld";
    options.seed = 12345;
    options.results = (dir / "results.csv").string();
    options.table = (dir / "table.csv").string();
    for (auto _ : state) {
        std::ostringstream out, err;
        if (cli::RunSimulate(options, out, err) != cli::EXIT_OK) {
            state.SkipWithError(err.str().c_str());
            break;
        }
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CliSimulate500Years)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelmar
