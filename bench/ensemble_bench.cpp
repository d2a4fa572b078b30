// An ensemble against its floor: 1,000 replicates of a 500-year simulated
// site with summaries (RunEnsemble, --summary), per replicate, over the bare
// 18,002 normal deviates a replicate draws, timed just before in the same
// benchmark:
//
//   build/bench/kelmar-bench --benchmark_filter='BM_Ensemble'
//
// Counters of BM_EnsembleSummary/<jobs>: per_replicate_us (wall), draws_us
// (the bare deviates of one replicate) and per_replicate_vs_draws. The
// folder goes under the system's temporary folder and is removed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "app/ensemble.h"
#include "model/model_fixtures.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

constexpr int REPLICATES = 1000;

double BareDeviatesMicroseconds() {
    RandomSource random(12345);
    double best = 1e300;
    for (int round = 0; round < 20; ++round) {
        const auto start = std::chrono::steady_clock::now();
        double sum = 0;
        for (int i = 0; i < 18002; ++i) sum += random.NormalDeviate(1, 0);
        benchmark::DoNotOptimize(sum);
        best = std::min(best, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void BM_EnsembleSummary(benchmark::State& state) {
    const fs::path folder = fs::temp_directory_path() / ("kelmar-ensemble-bench-" + std::to_string(std::random_device{}()));
    auto prepared = testing::SimulatedModel(0);
    EnsembleOptions options;
    options.Replicates = REPLICATES;
    options.Seed = 1;
    options.Jobs = static_cast<int>(state.range(0));
    options.Summary = true;
    options.SiteId = "bench";
    options.ScenarioName = "none";
    options.OutDir = folder.string();
    options.Version = "bench";
    double draws = 0, wall = 0;
    for (auto _ : state) {
        draws = BareDeviatesMicroseconds();
        const auto start = std::chrono::steady_clock::now();
        RunEnsemble(*prepared, nullptr, options);
        wall = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    }
    std::error_code error;
    fs::remove_all(folder, error);
    state.counters["per_replicate_us"] = wall / REPLICATES;
    state.counters["draws_us"] = draws;
    state.counters["per_replicate_vs_draws"] = wall / REPLICATES / draws;
}
BENCHMARK(BM_EnsembleSummary)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kelmar
