// Batches of a site list into memory, with the batch's seed rule, its
// progress given to a Python callable and Ctrl-C stopping it (progress_run.h).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_memory.h"
#include "app/batch/batch_tables.h"
#include "app/climate_estimate.h"
#include "app/batch/site_list.h"
#include "app/progress.h"
#include "app/random_streams.h"
#include "model/errors.h"
#include "model/run_model.h"
#include "numerics/random_source.h"
#include "python/module/converters.h"
#include "python/module/module_units.h"
#include "python/module/progress_run.h"
#include "python/module/run_warnings.h"

namespace kelmar::python {

namespace {

// The warning of kelmar-cli batch when the list places sites without a seed
// of their own beyond the generator's disjoint streams.
void WarnOfRepeatingStreams(const batch::SiteList& list, std::uint64_t firstIndex) {
    std::int64_t lastPlace = -1;
    for (std::size_t i = 0; i < list.Sites.size(); ++i)
        if (!list.Sites[i].Seed) lastPlace = static_cast<std::int64_t>(firstIndex + i);
    if (const auto warning = streams::RepeatingStreamsWarning(RandomKind::Lcg32, lastPlace, 1))
        IssueWarnings({*warning});
}

// The site list of a file, read as kelmar-cli batch reads it (its size
// limit, no device or FIFO waited on), with relative names taken from
// `folder` when one is given, from the list's folder otherwise.
batch::SiteList ReadListFile(const std::string& fileName, const std::optional<std::string>& folder) {
    batch::SiteList list;
    {
        py::gil_scoped_release unlocked;  // a large list takes a while
        list = batch::ReadSiteList(fileName);
        if (folder) list = batch::ParseSiteList(std::move(list.Bytes), fileName, *folder);
    }
    return list;
}

py::dict RunList(batch::SiteList list, std::optional<std::uint32_t> seed, std::uint64_t firstIndex, int lineOffset,
                 int jobs, const py::object& progress, std::int32_t startYear, std::int32_t runYears,
                 bool estimateClimate = false, const std::string& reference = {}) {
    // As kelmar-cli batch --estimate-climate [--reference Y1-Y2].
    std::optional<ClimateEstimate> estimate;
    if (estimateClimate) estimate.emplace();
    if (!reference.empty()) {
        if (!estimate) throw KelmarError("reference sets the years of the estimated climatologies; give estimate_climate=True.");
        estimate->Reference = ParseReferenceYears(reference, "reference");
    }
    // Refused once here rather than by every simulated site's run.
    ValidateSimulatedYears(startYear, runYears, "start_year", "run_years");
    for (batch::SiteEntry& site : list.Sites) site.Line += lineOffset;
    if (firstIndex == 0) WarnOfRepeatingStreams(list, firstIndex);  // a part's client warned of the whole list
    const std::uint32_t baseSeed = seed ? *seed : RandomSource().State();
    std::vector<batch::SiteRecords> runs;
    RunWithProgress(
        [&](const ProgressCallback& onProgress) {
            runs = batch::RunSitesInMemory(list, baseSeed, firstIndex, jobs, onProgress, startYear, runYears,
                                           estimate ? &*estimate : nullptr);
        },
        progress);
    std::size_t monthlyRows = 0, annualRows = 0;
    for (const auto& run : runs) {
        monthlyRows += run.Monthly.size();
        annualRows += run.Annual.size();
    }
    Table monthly = MakeTable(monthlyRows), annual = MakeTable(annualRows);
    // The site of each row by its place in the list (the codes of a categorical).
    py::array_t<std::int64_t> monthlySite(static_cast<py::ssize_t>(monthlyRows)),
        annualSite(static_cast<py::ssize_t>(annualRows)), seeds(static_cast<py::ssize_t>(runs.size()));
    py::list ids, errorIds, errorTexts;
    std::size_t mRow = 0, aRow = 0;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        batch::SiteRecords& run = runs[k];
        ids.append(py::str(list.Sites[k].Id));
        seeds.mutable_at(k) = run.Seed;
        if (run.Failed) {
            errorIds.append(py::str(list.Sites[k].Id));
            errorTexts.append(py::str(batch::OneLine(run.Error)));  // as errors.csv holds it
        }
        for (const TResultRecord& r : run.Monthly) {
            monthlySite.mutable_at(mRow) = static_cast<std::int64_t>(k);
            PutRow(monthly, mRow++, r, r.Year);
        }
        for (const TResultRecord& r : run.Annual) {
            annualSite.mutable_at(aRow) = static_cast<std::int64_t>(k);
            PutRow(annual, aRow++, r, r.Year);
        }
        std::vector<TResultRecord>().swap(run.Monthly);  // let go of each site once copied
        std::vector<TResultRecord>().swap(run.Annual);
    }
    py::dict out;
    out["base_seed"] = baseSeed;
    out["ids"] = ids;
    out["seeds"] = seeds;
    out["monthly"] = py::make_tuple(monthlySite, monthly.Years, monthly.Months, monthly.Values);
    out["annual"] = py::make_tuple(annualSite, annual.Years, annual.Months, annual.Values);
    out["error_ids"] = errorIds;
    out["error_messages"] = errorTexts;
    return out;
}

}  // namespace

void AddBatch(py::module_& m) {
    m.def(
        "batch",
        [](const std::string& listText, const std::string& listName, const std::string& folder,
           std::optional<std::uint32_t> seed, std::uint64_t firstIndex, int lineOffset, int jobs,
           const py::object& progress, std::int32_t startYear, std::int32_t runYears, bool estimateClimate,
           const std::string& reference) {
            return RunList(batch::ParseSiteList(listText, listName, folder), seed, firstIndex, lineOffset, jobs,
                           progress, startYear, runYears, estimateClimate, reference);
        },
        py::arg("list_text"), py::arg("list_name"), py::arg("folder"), py::arg("seed").none(true),
        py::arg("first_index"), py::arg("line_offset"), py::arg("jobs"), py::arg("progress") = py::none(),
        py::arg("start_year") = 1, py::arg("run_years") = MAX_YEARS, py::arg("estimate_climate") = false,
        py::arg("reference") = "");
    // A list file's path: the file is read here, never whole by Python.
    m.def(
        "batch_file",
        [](const std::string& path, std::optional<std::string> folder, std::optional<std::uint32_t> seed,
           std::uint64_t firstIndex, int jobs, const py::object& progress, std::int32_t startYear,
           std::int32_t runYears, bool estimateClimate, const std::string& reference) {
            return RunList(ReadListFile(path, folder), seed, firstIndex, 0, jobs, progress, startYear, runYears,
                           estimateClimate, reference);
        },
        py::arg("path"), py::arg("folder").none(true), py::arg("seed").none(true), py::arg("first_index"),
        py::arg("jobs"), py::arg("progress") = py::none(), py::arg("start_year") = 1,
        py::arg("run_years") = MAX_YEARS, py::arg("estimate_climate") = false, py::arg("reference") = "");
    // The bytes of a list file as the batch reads them, checked as a list.
    m.def("site_list_bytes", [](const std::string& path) {
        const batch::SiteList list = ReadListFile(path, std::nullopt);
        return py::bytes(list.Bytes);
    });
    // A base seed from the clock, as kelmar-cli batch takes one without --seed.
    m.def("clock_seed", [] { return RandomSource().State(); });
    m.def("check_site_list", [](const std::string& listText, const std::string& listName, const std::string& folder) {
        const batch::SiteList list = batch::ParseSiteList(listText, listName, folder);
        WarnOfRepeatingStreams(list, 0);
        return list.Sites.size();
    });
}

}  // namespace kelmar::python
