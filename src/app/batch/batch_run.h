// A batch: every site of a site list run on all cores and written, in list
// order, to streams of the process; the streams are made durable and a
// done-file records each finished chunk of the list with where its bytes
// lie, so that a batch killed at any moment goes on with --resume, a list
// split over the processes of a cluster (shards) is joined by MergeBatch,
// and any split gives the same bytes.
//
// The folder of a batch holds
//   manifest.txt                what identifies the batch (version, list hash, seed, chunk size, format,
//                               the digests of the files the sites name, the tables' digits when asked
//                               for) and, once the outputs are joined, joined_failed_sites
//   parts/shard-K-of-N.*        the streams of shard K of N (a run on one machine is 0 of 1):
//                               monthly.csv, annual.csv, errors.csv (each with its header) and
//                               values.bin (the numbers of each site for the netCDF file, batch_netcdf.h)
//   parts/shard-K-of-N.lock     held by the process running that share
//   parts/chunk-NNNNNN.done     written last: the chunk's identity, stream and byte ranges with the
//                               digest and line count of each range, made as it was written
//   monthly.csv annual.csv errors.csv   the chunks in list order, once every chunk is done
//                               (formats csv and both): on one machine the streams themselves
//                               under a second name, after shards a copy of their chunks
//   results.nc                  the same results as one CF netCDF file (formats netcdf and both),
//   results_annual.nc           and their years; written while the sites run (under temporary names,
//                               renamed once the batch finished) when one process runs the whole list
//                               of simulated-weather sites from its start (StreamsNetcdf, batch_run.cpp),
//                               otherwise joined from the values parts
//   summary_monthly.csv summary_annual.csv   with --summary, instead of monthly.csv and annual.csv
//
// Once the outputs of a whole batch or a merge are in place, the manifest
// is marked joined (joined_failed_sites=) and parts/ is removed, unless
// --keep-parts: the outputs no longer need it, and the manifest stays so
// that the folder is not taken for an empty one and a later --resume,
// shard or merge says the batch is finished (and ends a removal a kill cut
// short) instead of running it again.
//
// Scenarios and replicates: site i runs as the tasks (i, s, r), scenario by
// scenario and within it replicate by replicate, and its rows follow in that
// order. Each task draws from the stream app/random_streams.h gives it, so
// no two tasks of the list share draws, and every scenario of a site takes
// the same streams (common random numbers): what differs between two
// scenarios is the scenarios' doing, not the weather's.
//
// Where to change what: the manifest's and done-files' texts are
// batch_records.h, the folder's names and checks batch_folder.h; a run is
// the plan (batch_plan.h), a pipeline of the task cursor (task_cursor.h),
// the runs (task_runner.h) and the chunk writer with its recorder
// (chunk_writer.h), then the join (batch_join.h). The digests of parts and
// inputs are stream_digest.h and batch_inputs.h. Each kind of output is a
// sink (sinks/batch_sink.h); the sinks of a format are listed in
// sinks/sink_list.cpp. The launcher's environment is read in batch_shard.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "app/climate_estimate.h"
#include "app/grid/extract_options.h"
#include "app/progress.h"
#include "basics/basics.h"
#include "numerics/random_source.h"

namespace kelmar::batch {

// Sites per chunk: fixed, so that the chunks do not depend on jobs or shards.
// With scenarios or replicates a chunk still holds 64 sites, and each site
// passes through the writer as its tasks (scenario by scenario, replicate by
// replicate), one at a time: memory holds the tasks in flight, not a
// chunk's.
inline constexpr int CHUNK_SITES = 64;

struct Shard {
    int Index = 0;  // K in 0..Count-1
    int Count = 1;  // N
};

// "K/N" with 0 <= K < N; raises KelmarError otherwise.
Shard ParseShard(const std::string& text);

// The share a cluster launcher gives this process, from its environment:
// Slurm job arrays (SLURM_ARRAY_TASK_ID minus SLURM_ARRAY_TASK_MIN,
// SLURM_ARRAY_TASK_COUNT), srun (SLURM_PROCID, SLURM_NTASKS), Open MPI
// (OMPI_COMM_WORLD_RANK, OMPI_COMM_WORLD_SIZE) and other MPI launchers
// (PMI_RANK, PMI_SIZE), in that order. Nothing when none is set or the count
// is 1; KelmarError when the values do not make a share.
std::optional<Shard> ShardFromEnvironment(const std::function<const char*(const char*)>& getenv);

enum class OutputFormat { Csv, NetCdf, Both };
// "csv", "netcdf" or "both".
OutputFormat ParseOutputFormat(const std::string& text);
const char* FormatName(OutputFormat format);

struct BatchOptions {
    std::string SitesFile;
    std::string OutDir;
    int Jobs = 0;  // 0: every core the process may use
    std::optional<std::uint32_t> Seed;
    bool Resume = false;
    OutputFormat Format = OutputFormat::Csv;
    std::optional<Shard> Share;  // nothing: the whole list, merged at the end
    ProgressCallback OnProgress;  // nothing: no reports
    std::string Version;         // of the program, recorded and checked
    // Each site under each scenario of this list (scenario_list.h); empty:
    // the sites run as they are.
    std::string ScenariosFile;
    // Realizations of each simulated-weather site (and scenario); 0: not
    // asked for. Observed-weather sites have one, replicate 0.
    int Replicates = 0;
    RandomKind Rng = RandomKind::Lcg32;
    // Per site and scenario, the summaries across the replicates
    // (summary_monthly.csv, summary_annual.csv, batch_summary.h) instead of
    // every replicate's rows; CSV only.
    bool Summary = false;
    // The simulated-weather sites' years: the calendar year of their first
    // (1..LastSimulatedYearBeg(RunYears)) and how many (1..MAX_YEARS), the
    // first of the full run. Observed-weather sites keep their record's.
    std::int32_t StartYear = 1;
    std::int32_t RunYears = MAX_YEARS;
    // The netCDF files' data variables: "double" (the CSV's numbers) or
    // "single", and their deflate level 0 (none) .. 9.
    std::string NetcdfPrecision = "double";
    int NetcdfDeflate = 0;
    // Significant digits of the CSV tables' numbers, 1..17 (--csv-digits);
    // 0: the shortest text that reads back to the same double.
    int CsvDigits = 0;
    // A whole batch that joined its outputs keeps parts/ (--keep-parts);
    // otherwise the parts are removed once the outputs are in place.
    bool KeepParts = false;
    // The sites with a weather_file run simulated weather from a
    // climatology estimated from their record as `kelmar-cli estimate` does
    // (--estimate-climate), over the reference years (--reference; nothing:
    // each record's whole span); their climate_file, if any, fills the
    // soil-temperature fields of months the record has none for.
    bool EstimateClimate = false;
    std::optional<ReferenceYears> Reference;
    // climatologies.csv: the climatology of every site that ran, one row per
    // site and month (--save-climate; with EstimateClimate).
    bool SaveClimate = false;
    // The sites that name no weather_file take their record from this
    // gridded climate by their lat/lon (--grid, batch_grid.h).
    std::optional<grid::ExtractOptions> Grid;
};

struct BatchSummary {
    std::int64_t Sites = 0;      // in the list
    std::int64_t Failed = 0;     // of the sites this call ran or merged
    std::int64_t Ran = 0;        // sites run by this call
    bool Merged = false;         // the joined outputs were written
    bool NetcdfStreamed = false; // results.nc was written while the sites ran, not joined from the values
    std::uint32_t BaseSeed = 0;
};

// Runs the batch. Raises Cancelled when options.OnProgress asks it to stop
// (the finished chunks stay for --resume), KelmarError, with a message naming the file and
// what to do, for a bad site list (before any run), a folder that holds
// another batch or cannot be written, and a part that cannot be written
// (the finished chunks stay for --resume). A failed site is no error: its
// message goes to errors.csv and Failed counts it (a site whose run gave no
// whole year fails so); every site of a chunk is in the tables or in
// errors.csv, or the chunk is not recorded. With --resume, a chunk of the
// share whose done-file or bytes are not those written runs again.
BatchSummary RunBatch(const BatchOptions& options, std::ostream& err);

// Joins the parts of the batch in `dir` into its outputs. Refuses (KelmarError)
// a folder without a manifest, parts of another version, site list, inputs
// or seed, missing chunks, and chunks whose done-file or bytes are not those
// written (checked against their digests), naming them, the shard they
// belong to and the stream.
// Without `keepParts` the parts are removed once the outputs are in place.
// A folder whose batch is finished (joined, parts removed) is no error: its
// count of failed sites is given again and nothing is merged.
BatchSummary MergeBatch(const std::string& dir, const std::string& version, std::ostream& err,
                        bool keepParts = false);

}  // namespace kelmar::batch
