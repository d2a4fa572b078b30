// The batch (kelmar-cli batch) against its floor, the 18,002 normal deviates
// a 500-year simulated site draws, all measured in one run of kelmar-bench:
//
//   build/bench/kelmar-bench --benchmark_filter='BM_Batch'
//   KELMAR_BENCH_SITES=1000 build/bench/kelmar-bench --benchmark_filter='BM_Batch'
//
// KELMAR_BENCH_SITES sets the sites of the batches (default 200, so that a
// plain run of every benchmark stays near a minute; the figures below were
// taken with 1,000). The batches run through the app batch API
// (RunBatch) in a fresh folder under the system's temporary folder, which is
// removed afterwards. Counters:
//   BM_BatchBareDeviates          one site's draws, the floor (also BM_NormalDeviates18002)
//   BM_BatchNetcdf                per_site_us, and per_site_vs_draws: the batch's
//                                 wall time per site (--jobs 1, --format netcdf,
//                                 merge included) over the bare draws timed in
//                                 the same benchmark just before;
//                                 cpu_per_site_vs_draws the same in processor time
//   BM_BatchCsvFormat/D           numbers_per_s: the monthly and annual rows of
//                                 one 500-year site formatted into memory as the
//                                 batch does, on one thread, at D significant
//                                 digits (0: the shortest form)
//   BM_BatchCsvDigits             a --format csv batch at --csv-digits 6 against the
//                                 default, per site, and the ratio of the two
//   BM_BatchJobs                  sites_per_s at --jobs 1 and 2 (--format csv), and
//                                 jobs2_over_jobs1 in BM_BatchJobsSpeedup
//   BM_BatchNetcdfJobs            a --format netcdf batch at --jobs 1 and 2 in turn,
//                                 twice, each after the bare draws: jobs1_vs_draws,
//                                 jobs2_vs_draws (wall per site over the draws),
//                                 jobs2_over_jobs1, and written_kb_per_site (the
//                                 bytes the batch passed to write(), for the disk's
//                                 share: divide by the disk's bandwidth)
//
// KELMAR_BENCH_DIR, when set, is the folder the batches run in (e.g. /dev/shm
// for a tmpfs, to take the disk out), instead of the temporary folder.
//
// Whole-process figures (start-up, list reading and the merge included) are
// taken outside this program, for example with /usr/bin/time -v:
//   batch of 1,000 sites vs a shell loop of `kelmar-cli simulate ... --table`
//   for the same sites and seeds, and the peak resident memory of a batch of
//   1,000 and of 100,000 sites; bench/README.md gives the commands and figures.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch/batch_run.h"
#include "app/batch/batch_tables.h"
#include "model/model_fixtures.h"
#include "model/record_fields.h"
#include "model/run_model.h"

namespace kelmar {
namespace {

namespace fs = std::filesystem;

class SilentNotifier : public Notifier {
public:
    void Warning(const std::string&) override {}
};

int BenchSites() {
    const char* text = std::getenv("KELMAR_BENCH_SITES");
    const int sites = text ? std::atoi(text) : 0;
    return sites > 0 ? sites : 200;
}

// A folder of its own under the temporary folder, removed with the object.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device random;
        const char* parent = std::getenv("KELMAR_BENCH_DIR");
        Path = (parent && *parent ? fs::path(parent) : fs::temp_directory_path()) /
               ("kelmar-batch-bench-" + std::to_string(random()));
        fs::create_directories(Path);
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(Path, error);
    }
    fs::path Path;
};

// A list of `sites` simulated sites: the rows of examples/region/sites.csv
// (latitudes and soil moistures on the example climatology) over and over,
// each under an id of its own.
std::string WriteSiteList(const fs::path& folder, int sites) {
    const fs::path region = fs::path(KELMAR_EXAMPLES_DIR) / "region";
    std::ifstream in(region / "sites.csv");
    std::string header, line;
    std::getline(in, header);
    std::vector<std::string> rows;  // without the site_id
    while (std::getline(in, line))
        if (!line.empty()) rows.push_back(line.substr(line.find(',')));
    const std::string relative = ",../climat.cld,", absolute = "," + fs::absolute(region / "../climat.cld").string() + ",";
    for (std::string& row : rows)
        if (const std::size_t at = row.find(relative); at != std::string::npos) row.replace(at, relative.size(), absolute);
    std::string list = header + "\n";
    for (int i = 0; i < sites; ++i) list += "s" + std::to_string(i) + rows[static_cast<std::size_t>(i) % rows.size()] + "\n";
    const fs::path file = folder / "sites.csv";
    std::ofstream(file) << list;
    return file.string();
}

// Seconds of processor time of this process, all its threads, so far.
double ProcessCpuSeconds() {
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Bytes this process has passed to write() and its kin so far (wchar of
// /proc/self/io), whether or not they reached a disk; 0 where unknown.
double WrittenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    double value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return 0;
}

// Seconds of wall time of `draws` sites' worth of normal deviates;
// `cpuSeconds` receives their processor seconds.
double BareDrawSeconds(int sites, double& cpuSeconds) {
    RandomSource random(12345);
    double sum = 0;
    const double cpuStart = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < sites; ++s)
        for (int i = 0; i < 18002; ++i) sum += random.NormalDeviate(1, 0);
    const auto stop = std::chrono::steady_clock::now();
    cpuSeconds = ProcessCpuSeconds() - cpuStart;
    benchmark::DoNotOptimize(sum);
    return std::chrono::duration<double>(stop - start).count();
}

// Wall seconds of a batch; `cpuSeconds`, when given, receives its
// processor seconds (the run and the writing, without the waits for the disk).
// `writtenBytes`, when given, receives the bytes it wrote.
double RunBatchSeconds(int sites, int jobs, batch::OutputFormat format, double* cpuSeconds = nullptr,
                       int csvDigits = batch::SHORTEST_DIGITS, double* writtenBytes = nullptr) {
    ScratchFolder scratch;
    batch::BatchOptions options;
    options.SitesFile = WriteSiteList(scratch.Path, sites);
    options.OutDir = (scratch.Path / "out").string();
    options.Jobs = jobs;
    options.Seed = 1;
    options.Format = format;
    options.Version = "bench";
    options.CsvDigits = csvDigits;
    std::ostringstream err;
    const double cpuStart = ProcessCpuSeconds(), writtenStart = WrittenBytes();
    const auto start = std::chrono::steady_clock::now();
    const batch::BatchSummary summary = batch::RunBatch(options, err);
    const auto stop = std::chrono::steady_clock::now();
    if (cpuSeconds) *cpuSeconds = ProcessCpuSeconds() - cpuStart;
    if (writtenBytes) *writtenBytes = WrittenBytes() - writtenStart;
    if (summary.Failed != 0 || !summary.Merged) std::abort();  // a broken batch measures nothing
    // One process, simulated weather: results.nc is written while the sites run.
    if (format == batch::OutputFormat::NetCdf && !summary.NetcdfStreamed) std::abort();
    return std::chrono::duration<double>(stop - start).count();
}

void BM_BatchBareDeviates(benchmark::State& state) {
    RandomSource random(12345);
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0; i < 18002; ++i) sum += random.NormalDeviate(1, 0);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_BatchBareDeviates)->Unit(benchmark::kMicrosecond);

// --jobs 1, so that the time per site is one core's (the netCDF files are
// written on a thread of their own, which may take the second core).
void BM_BatchNetcdf(benchmark::State& state) {
    const int sites = BenchSites();
    double batchSeconds = 0, drawSeconds = 0, batchCpu = 0, drawCpu = 0;
    for (auto _ : state) {
        double cpu = 0;
        drawSeconds += BareDrawSeconds(sites, cpu) / sites;
        drawCpu += cpu / sites;
        const double seconds = RunBatchSeconds(sites, 1, batch::OutputFormat::NetCdf, &cpu);
        batchSeconds += seconds;
        batchCpu += cpu;
        state.SetIterationTime(seconds);
    }
    const double iterations = static_cast<double>(state.iterations());
    const double perSite = batchSeconds / iterations / sites;
    const double perDraws = drawSeconds / iterations;
    state.counters["sites"] = sites;
    state.counters["per_site_us"] = perSite * 1e6;
    state.counters["draws_us"] = perDraws * 1e6;
    state.counters["per_site_vs_draws"] = perSite / perDraws;
    // The same in processor time: what the batch computes and copies,
    // without its waits for the disk (results.nc alone is 470 kB a site).
    state.counters["cpu_per_site_vs_draws"] = (batchCpu / iterations / sites) / (drawCpu / iterations);
}
BENCHMARK(BM_BatchNetcdf)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Numbers per row: monthly year, month and the fields; annual year, the
// fields and the seed.
constexpr std::int64_t NUMBERS_PER_YEAR =
    12 * (2 + static_cast<std::int64_t>(RESULT_FIELDS.size())) + (2 + static_cast<std::int64_t>(RESULT_FIELDS.size()));

// Arg: the significant digits (0: the shortest form, the default).
void BM_BatchCsvFormat(benchmark::State& state) {
    const int digits = static_cast<int>(state.range(0));
    auto model = std::make_unique<TModel>();
    model->Site = testing::WorkedSite();
    model->Climate = testing::BorealClimate();
    model->Random.SetState(12345);
    SilentNotifier notifier;
    RunModel(*model, notifier);
    std::string monthly, annual;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        monthly.clear();
        annual.clear();
        batch::AppendSiteRows(*model, "lat60.0_m3", 12345, monthly, annual, digits);
        bytes += static_cast<std::int64_t>(monthly.size() + annual.size());
        benchmark::DoNotOptimize(monthly.data());
        benchmark::DoNotOptimize(annual.data());
    }
    state.SetBytesProcessed(bytes);
    state.counters["numbers_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * NUMBERS_PER_YEAR * model->AvailableYears, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BatchCsvFormat)->Arg(0)->Arg(6)->Unit(benchmark::kMillisecond);

// A --format csv batch at --csv-digits 6 against the default, on one job
// (merge included), in turn (0 6 0 6) so that a machine whose speed drifts
// moves both alike; per-site wall and processor times and their ratios.
void BM_BatchCsvDigits(benchmark::State& state) {
    const int sites = BenchSites();
    double wall[2] = {}, cpu[2] = {};
    for (auto _ : state) {
        for (int round = 0; round < 2; ++round)
            for (const int k : {0, 1}) {
                double seconds = 0;
                wall[k] += RunBatchSeconds(sites, 1, batch::OutputFormat::Csv, &seconds, k == 0 ? 0 : 6);
                cpu[k] += seconds;
            }
        state.SetIterationTime(wall[0] + wall[1]);
    }
    const double runs = 2.0 * static_cast<double>(state.iterations()) * sites;
    state.counters["shortest_ms_per_site"] = wall[0] / runs * 1e3;
    state.counters["digits6_ms_per_site"] = wall[1] / runs * 1e3;
    state.counters["shortest_over_digits6"] = wall[0] / wall[1];
    state.counters["cpu_shortest_over_digits6"] = cpu[0] / cpu[1];
}
BENCHMARK(BM_BatchCsvDigits)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Throughput of a CSV batch at --jobs N (merge included), in sites per second
// of wall time.
void BM_BatchJobs(benchmark::State& state) {
    const int sites = BenchSites();
    const int jobs = static_cast<int>(state.range(0));
    double seconds = 0;
    for (auto _ : state) {
        const double s = RunBatchSeconds(sites, jobs, batch::OutputFormat::Csv);
        seconds += s;
        state.SetIterationTime(s);
    }
    state.counters["sites_per_s"] = sites * static_cast<double>(state.iterations()) / seconds;
}
BENCHMARK(BM_BatchJobs)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Both job counts in turn, twice (1 2 1 2), so that a machine whose speed
// drifts moves both alike; the counter is the ratio of the throughputs.
void BM_BatchJobsSpeedup(benchmark::State& state) {
    const int sites = BenchSites();
    double one = 0, two = 0;
    for (auto _ : state) {
        for (int round = 0; round < 2; ++round) {
            one += RunBatchSeconds(sites, 1, batch::OutputFormat::Csv);
            two += RunBatchSeconds(sites, 2, batch::OutputFormat::Csv);
        }
        state.SetIterationTime(one + two);
    }
    state.counters["jobs1_s"] = one / 2;
    state.counters["jobs2_s"] = two / 2;
    state.counters["jobs2_over_jobs1"] = one / two;
}
BENCHMARK(BM_BatchJobsSpeedup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The netCDF batch at --jobs 1 and 2 in turn, twice (draws 1 2 draws 1 2),
// each against the bare draws timed just before, so that a machine whose
// speed drifts moves all alike; ratios of the sums.
void BM_BatchNetcdfJobs(benchmark::State& state) {
    const int sites = BenchSites();
    double draws = 0, one = 0, two = 0, written = 0;
    for (auto _ : state) {
        for (int round = 0; round < 2; ++round) {
            double cpu = 0, bytes = 0;
            draws += BareDrawSeconds(sites, cpu);
            one += RunBatchSeconds(sites, 1, batch::OutputFormat::NetCdf);
            two += RunBatchSeconds(sites, 2, batch::OutputFormat::NetCdf, nullptr, batch::SHORTEST_DIGITS, &bytes);
            written += bytes;
        }
        state.SetIterationTime(one + two);
    }
    state.counters["sites"] = sites;
    state.counters["draws_us"] = draws / 2 / sites * 1e6;
    state.counters["jobs1_vs_draws"] = one / draws;
    state.counters["jobs2_vs_draws"] = two / draws;
    state.counters["jobs2_over_jobs1"] = one / two;
    state.counters["written_kb_per_site"] = written / 2 / sites / 1e3;
}
BENCHMARK(BM_BatchNetcdfJobs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace kelmar
