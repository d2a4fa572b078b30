// Cost of the netCDF writer per site of a batch: 1,000 sites of 500 years
// (6,000 months) of the nine results fields, in the monthly and the annual
// file beside the program's temporary files. Compare the time per site with BM_NormalDeviates18002,
// the floor of one site's run.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "io/cf_netcdf.h"
#include "model/record_fields.h"

namespace kelmar {
namespace {

void BM_CfNetcdfWriteSites500Years(benchmark::State& state) {
    const int sites = static_cast<int>(state.range(0));
    constexpr int YEARS = 500;
    auto results = std::make_unique<TResultsTable>();
    for (int y = 1; y <= YEARS; ++y)
        for (int m = 0; m <= 12; ++m) {
            TResultRecord& r = results->At(y, m);
            r.Year = m == 0 ? 0 : y;
            r.Month = m;
            for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f)
                r.*RESULT_FIELDS[f].Value = static_cast<double>(f) + (y * 12 + m) / 7.0;
        }
    CfFileDescription description;
    description.SiteCount = sites;
    description.FirstYear = 1;
    description.LastYear = YEARS;
    description.Title = "benchmark";
    description.ProgramName = "kelmar-bench";
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kelmar-bench-sites.nc";
    const std::filesystem::path annual = std::filesystem::temp_directory_path() / "kelmar-bench-sites_annual.nc";
    for (auto _ : state) {
        CfNetcdfWriter writer(file.string(), annual.string(), description);
        for (int s = 0; s < sites; ++s)
            writer.WriteSite({"site-" + std::to_string(s), 60.0, 30.0, static_cast<std::uint32_t>(s)}, *results, YEARS);
        writer.Finish();
    }
    state.SetBytesProcessed(state.iterations() * sites * YEARS * 13 * static_cast<std::int64_t>(RESULT_FIELDS.size()) *
                            static_cast<std::int64_t>(sizeof(double)));
    state.counters["per_site"] =
        benchmark::Counter(sites, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    std::filesystem::remove(file);
    std::filesystem::remove(annual);
}
BENCHMARK(BM_CfNetcdfWriteSites500Years)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kelmar
