// A map of a large region: a batch folder of 100,000 sites (KELMAR_BENCH_MAP_SITES)
// with 30 years of months (2071-2100) in results.nc, written once by the
// project's own netCDF writer in a child process (so that this process's
// peak memory is the reader's), then opened and mapped: July's mean, and a
// second map of January ("recolour") on the open batch. The counter
// peak_rss_mib is the process's peak resident memory after the runs.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/batch/batch_records.h"
#include "app/region/region_batch.h"
#include "io/cf_netcdf.h"
#include "model/record_fields.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

constexpr int FIRST_YEAR = 2071, YEARS = 30;
constexpr const char* VERSION = "0.1.0";

int Sites() {
    const char* text = std::getenv("KELMAR_BENCH_MAP_SITES");
    return text ? std::atoi(text) : 100000;
}

fs::path Folder() {
    const char* dir = std::getenv("KELMAR_BENCH_DIR");
    return (dir ? fs::path(dir) : fs::temp_directory_path()) / ("kelmar-bench-map-" + std::to_string(Sites()));
}

void WriteBatch(const fs::path& folder, int sites) {
    fs::create_directories(folder);
    auto results = std::make_unique<TResultsTable>();
    for (int y = 1; y <= YEARS; ++y)
        for (int m = 0; m <= 12; ++m) {
            TResultRecord& r = results->At(y, m);
            r.Year = FIRST_YEAR + y - 1;
            r.Month = m;
            for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f)
                r.*RESULT_FIELDS[f].Value = static_cast<double>(f) + (y * 12 + m) / 7.0;
        }
    CfFileDescription description;
    description.SiteCount = sites;
    description.FirstYear = FIRST_YEAR;
    description.LastYear = FIRST_YEAR + YEARS - 1;
    description.Title = "benchmark";
    description.ProgramName = "kelmar-bench";
    description.ProgramVersion = VERSION;
    description.Precision = CfPrecision::Single;
    CfNetcdfWriter writer((folder / "results.nc").string(), (folder / "results_annual.nc").string(), description);
    for (int s = 0; s < sites; ++s)
        writer.WriteSite({"site-" + std::to_string(s), 40.0 + (s % 300) * 0.1, -10.0 + (s / 300) * 0.1,
                          static_cast<std::uint32_t>(s)},
                         *results, YEARS);
    writer.Finish();
    batch::Manifest manifest;
    manifest.Version = VERSION;
    manifest.ListHash = "0000000000000000";
    manifest.Sites = sites;
    manifest.Format = "netcdf";
    manifest.JoinedFailed = 0;
    std::ofstream(folder / "manifest.txt") << manifest.Text();
}

// The folder, written by a child process the first time.
const fs::path& Batch() {
    static const fs::path folder = [] {
        const fs::path f = Folder();
        if (!fs::exists(f / "manifest.txt")) {
            const pid_t child = fork();
            if (child == 0) {
                WriteBatch(f, Sites());
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
        }
        return f;
    }();
    return folder;
}

double PeakRssMib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;  // kB
    return 0;
}

region::MapRequest Month(int month) {
    region::MapRequest request;
    request.Variable = "t_ms";
    request.Months = {month};
    request.FirstYear = FIRST_YEAR;
    request.LastYear = FIRST_YEAR + YEARS - 1;
    return request;
}

void BM_RegionOpenAndMap(benchmark::State& state) {
    const std::string folder = Batch().string();
    for (auto _ : state) {
        region::RegionBatch batch = region::RegionBatch::Open(folder, VERSION);
        benchmark::DoNotOptimize(batch.Map(Month(7)));
    }
    state.counters["sites"] = Sites();
    state.counters["peak_rss_mib"] = PeakRssMib();
}
BENCHMARK(BM_RegionOpenAndMap)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RegionRecolour(benchmark::State& state) {
    region::RegionBatch batch = region::RegionBatch::Open(Batch().string(), VERSION);
    batch.Map(Month(7));
    for (auto _ : state) benchmark::DoNotOptimize(batch.Map(Month(1)));
    state.counters["sites"] = Sites();
    state.counters["peak_rss_mib"] = PeakRssMib();
}
BENCHMARK(BM_RegionRecolour)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kelmar
