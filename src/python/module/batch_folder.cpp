// Batches into a folder: the command sequence of kelmar-cli batch and
// kelmar-cli merge (app/batch/batch_run.h), so that the folder holds the
// program's very bytes, with its progress given to a Python callable and
// Ctrl-C stopping it. The tables stay on the disk: Python reads them lazily.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch/batch_run.h"
#include "app/climate_estimate.h"
#include "app/random_streams.h"
#include "basics/basics.h"
#include "python/module/grid_options.h"
#include "python/module/module_units.h"
#include "python/module/progress_run.h"

namespace kelmar::python {

namespace {

// What a batch or merge did, and the notes it wrote for kelmar-cli's
// standard error (warnings, capped jobs), one a line.
py::dict Told(const batch::BatchSummary& summary, const std::string& notes) {
    py::dict told;
    told["sites"] = summary.Sites;
    told["failed"] = summary.Failed;
    told["ran"] = summary.Ran;
    told["merged"] = summary.Merged;
    told["base_seed"] = summary.BaseSeed;
    told["notes"] = notes;
    return told;
}

}  // namespace

void AddBatchFolder(py::module_& m) {
    // The options are those of kelmar-cli batch, checked by the batch itself
    // (kelmar/_folder.py checks them first under their Python names).
    m.def(
        "run_batch",
        [](const std::string& sites, const std::string& out, const std::string& format, const std::string& scenarios,
           int replicates, const std::string& rng, bool summary, std::int32_t startYear, std::int32_t runYears,
           std::optional<std::uint32_t> seed, int jobs, const std::string& netcdfPrecision, int netcdfDeflate,
           int csvDigits, bool resume, bool keepParts, const std::optional<std::string>& shard,
           const py::object& progress, bool estimateClimate, const std::string& reference, bool saveClimate,
           const std::vector<std::string>& grids, const std::string& gridMethod, double maxDistanceKm,
           const std::map<std::string, std::string>& gridVariables,
           const std::map<std::string, std::string>& gridUnits) {
            batch::BatchOptions options;
            options.SitesFile = sites;
            options.OutDir = out;
            options.Format = batch::ParseOutputFormat(format);
            options.ScenariosFile = scenarios;
            options.Replicates = replicates;
            const auto kind = streams::KindNamed(rng);
            if (!kind) throw KelmarError("rng takes 'lcg32' or 'pcg64', not '" + rng + "'.");
            options.Rng = *kind;
            options.Summary = summary;
            options.StartYear = startYear;
            options.RunYears = runYears;
            options.Seed = seed;
            options.Jobs = jobs;
            options.NetcdfPrecision = netcdfPrecision;
            options.NetcdfDeflate = netcdfDeflate;
            options.CsvDigits = csvDigits;
            options.Resume = resume;
            options.KeepParts = keepParts;
            if (shard) options.Share = batch::ParseShard(*shard);
            // As --estimate-climate, --reference Y1-Y2 and --save-climate.
            options.EstimateClimate = estimateClimate;
            if (!reference.empty()) options.Reference = ParseReferenceYears(reference, "reference");
            options.SaveClimate = saveClimate;
            // As --grid FILE... with --method, --max-distance, --var and --units.
            if (!grids.empty()) options.Grid = GridOptionsOf(grids, gridMethod, maxDistanceKm, gridVariables, gridUnits);
            options.Version = KELMAR_VERSION;
            std::ostringstream notes;
            batch::BatchSummary summaryOf;
            RunWithProgress(
                [&](const ProgressCallback& onProgress) {
                    options.OnProgress = onProgress;
                    summaryOf = batch::RunBatch(options, notes);
                },
                progress);
            return Told(summaryOf, notes.str());
        },
        py::arg("sites"), py::arg("out"), py::arg("format") = "csv", py::arg("scenarios") = "",
        py::arg("replicates") = 0, py::arg("rng") = "lcg32", py::arg("summary") = false, py::arg("start_year") = 1,
        py::arg("run_years") = MAX_YEARS, py::arg("seed").none(true) = py::none(), py::arg("jobs") = 0,
        py::arg("netcdf_precision") = "double", py::arg("netcdf_deflate") = 0, py::arg("csv_digits") = 0,
        py::arg("resume") = false, py::arg("keep_parts") = false, py::arg("shard").none(true) = py::none(),
        py::arg("progress") = py::none(), py::arg("estimate_climate") = false, py::arg("reference") = "",
        py::arg("save_climate") = false, py::arg("grids") = std::vector<std::string>{},
        py::arg("grid_method") = "nearest", py::arg("max_distance") = grid::DEFAULT_MAX_DISTANCE_KM,
        py::arg("grid_variables") = std::map<std::string, std::string>{},
        py::arg("grid_units") = std::map<std::string, std::string>{});
    m.def(
        "merge_batch",
        [](const std::string& out, bool keepParts) {
            std::ostringstream notes;
            batch::BatchSummary summary;
            {
                py::gil_scoped_release unlocked;  // the join reads and writes every part
                summary = batch::MergeBatch(out, KELMAR_VERSION, notes, keepParts);
            }
            return Told(summary, notes.str());
        },
        py::arg("out"), py::arg("keep_parts") = false);
}

}  // namespace kelmar::python
