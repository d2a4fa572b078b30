// Runs of records: one site's run (simulate), an ensemble of replicates
// and the climatology estimated from a record, through the application's
// record runs and ensembles; the results as the arrays the package makes
// its tables of.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_summary.h"
#include "app/batch/batch_tables.h"
#include "app/ensemble.h"
#include "app/progress.h"
#include "app/random_streams.h"
#include "app/record_commands.h"
#include "app/record_files.h"
#include "model/errors.h"
#include "model/record_fields.h"
#include "model/run_model.h"
#include "python/module/converters.h"
#include "python/module/module_units.h"
#include "python/module/records.h"
#include "python/module/run_warnings.h"
#include "python/module/stoppable.h"

namespace kelmar::python {

namespace {

RandomKind RandomKindOf(const std::string& name) {
    if (const auto kind = streams::KindNamed(name)) return *kind;
    throw KelmarError("rng takes lcg32 or pcg64, not \"" + name + "\".");
}

// Sets the random state of `model` as kelmar-cli simulate does from --rng
// and --seed (without a seed, the clock's state the model was made with)
// and gives the seed of the run: the 32-bit state with lcg32, the 64-bit
// seed with pcg64.
std::uint64_t StartRandom(TModel& model, RandomKind kind, std::optional<std::uint64_t> seed) {
    return streams::StartStream(model.Random, kind, seed.value_or(model.Random.State()), 0);
}

RecordRunInputs RunInputsOf(const Site& site, const Climatology* climate, const Weather* weather) {
    RecordRunInputs inputs;
    inputs.Site = &site.Params;
    if (climate) {
        inputs.Climate = &climate->Values;
        inputs.ClimateName = FilePartOf(climate->Name);
    }
    if (weather) {
        inputs.Weather = weather->Record.get();
        inputs.WeatherName = FilePartOf(weather->Name);
    }
    return inputs;
}

// Simulated weather's first calendar year and years into the model's
// settings, as kelmar-cli simulate takes --start-year and --run-years.
void SetSimulatedYears(TModel& model, std::int32_t startYear, std::int32_t runYears) {
    model.Settings.SimulatedYearBeg = startYear;
    model.Settings.SimulatedYears = runYears;
}

py::dict Simulate(const Site& site, const Climatology* climate, const Weather* weather,
                  std::optional<std::uint64_t> seed, const TScenario* scenario, const std::string& rng,
                  std::int32_t startYear, std::int32_t runYears) {
    auto model = std::make_unique<TModel>();
    SetSimulatedYears(*model, startYear, runYears);
    const std::uint64_t startState = StartRandom(*model, RandomKindOf(rng), seed);
    const RecordRunInputs inputs = RunInputsOf(site, climate, weather);
    CollectingNotifier notifier;
    RunUnlocked(notifier, [&] { RunRecords(*model, inputs, notifier, scenario); });
    const int years = model->AvailableYears;
    Table monthly = MakeTable(static_cast<std::size_t>(years) * 12), annual = MakeTable(years);
    for (int i = 1; i <= years; ++i) {
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = model->Results.At(i, m);
            PutRow(monthly, static_cast<std::size_t>(i - 1) * 12 + (m - 1), r, r.Year);
        }
        PutRow(annual, i - 1, model->Results.At(i, 0), model->Results.At(i, 1).Year);
    }
    py::dict out;
    out["seed"] = startState;
    out["monthly"] = TableTuple(monthly);
    out["annual"] = TableTuple(annual);
    return out;
}

// Every replicate's records written straight into the arrays of the
// tables (made beforehand, with the lock held): replicate r's rows start at
// r times the rows of one run.
class ArraySink : public ReplicateSink {
public:
    ArraySink(int replicates, int years)
        : Years(years),
          MonthlyReplicate(static_cast<py::ssize_t>(replicates) * years * 12),
          AnnualReplicate(static_cast<py::ssize_t>(replicates) * years),
          Seeds(static_cast<py::ssize_t>(replicates)),
          Monthly(MakeTable(static_cast<std::size_t>(replicates) * years * 12)),
          Annual(MakeTable(static_cast<std::size_t>(replicates) * years)),
          // Raw pointers, taken now: the worker threads run without the lock.
          MonthlyReplicateData(MonthlyReplicate.mutable_data()),
          AnnualReplicateData(AnnualReplicate.mutable_data()),
          SeedData(Seeds.mutable_data()),
          MonthlyYears(Monthly.Years.mutable_data()),
          MonthlyMonths(Monthly.Months.mutable_data()),
          MonthlyValues(Monthly.Values.mutable_data()),
          AnnualYears(Annual.Years.mutable_data()),
          AnnualMonths(Annual.Months.mutable_data()),
          AnnualValues(Annual.Values.mutable_data()) {}

    void Take(int replicate, const TModel& model, std::uint64_t seed) override {
        // Stopping: the replicates running end, none other is kept or started.
        if (Stop && Stop->load()) throw Cancelled("The ensemble was stopped.");
        if (model.AvailableYears != Years)
            throw KelmarError("Replicate " + std::to_string(replicate) + " ran " +
                              std::to_string(model.AvailableYears) + " years, not " + std::to_string(Years) + ".");
        const std::size_t fields = RESULT_FIELDS.size();
        SeedData[replicate] = seed;
        for (int i = 1; i <= Years; ++i) {
            const std::size_t a = static_cast<std::size_t>(replicate) * Years + (i - 1);
            const int year = model.Results.At(i, 1).Year;
            for (int k = 0; k <= 12; ++k) {
                const TResultRecord& record = model.Results.At(i, k);
                const std::size_t row = k == 0 ? a : a * 12 + (k - 1);
                std::int64_t* replicates = k == 0 ? AnnualReplicateData : MonthlyReplicateData;
                replicates[row] = replicate;
                (k == 0 ? AnnualYears : MonthlyYears)[row] = year;
                (k == 0 ? AnnualMonths : MonthlyMonths)[row] = k;
                double* values = (k == 0 ? AnnualValues : MonthlyValues) + row * fields;
                for (std::size_t f = 0; f < fields; ++f) values[f] = record.*RESULT_FIELDS[f].Value;
            }
        }
    }

    const int Years;
    const std::atomic<bool>* Stop = nullptr;  // set: the caller asks the ensemble to stop
    py::array_t<std::int64_t> MonthlyReplicate, AnnualReplicate;
    py::array_t<std::uint64_t> Seeds;  // a pcg64 seed takes all 64 bits
    Table Monthly, Annual;

private:
    std::int64_t *MonthlyReplicateData, *AnnualReplicateData;
    std::uint64_t* SeedData;
    std::int64_t *MonthlyYears, *MonthlyMonths;
    double* MonthlyValues;
    std::int64_t *AnnualYears, *AnnualMonths;
    double* AnnualValues;
};

// A summary table in the row order of its file (by group, then field): the
// month or year of each row, and a column per SUMMARY_FIELDS entry (the
// variable's column names, the counts, the statistics with NaN where the
// file's field is empty). `summaries` are kept [field * groups + group].
py::tuple SummaryTable(const std::vector<SampleSummary>& summaries, const std::vector<int>& groupLabels) {
    const std::size_t fields = RESULT_FIELDS.size(), groups = groupLabels.size();
    const py::ssize_t rows = static_cast<py::ssize_t>(groups * fields);
    py::array_t<std::int64_t> when(rows);
    py::list columns;
    for (const batch::SummaryField& column : batch::SUMMARY_FIELDS) {
        const auto at = [&](py::ssize_t row) -> const SampleSummary& {
            const std::size_t g = static_cast<std::size_t>(row) / fields, f = static_cast<std::size_t>(row) % fields;
            return summaries[f * groups + g];
        };
        switch (column.Kind) {
            case batch::SummaryFieldKind::Variable: {
                py::list names;
                for (py::ssize_t row = 0; row < rows; ++row)
                    names.append(batch::ColumnName(RESULT_FIELDS[static_cast<std::size_t>(row) % fields]));
                columns.append(names);
                break;
            }
            case batch::SummaryFieldKind::Count: {
                py::array_t<std::int64_t> counts(rows);
                for (py::ssize_t row = 0; row < rows; ++row) counts.mutable_at(row) = static_cast<std::int64_t>(at(row).Count);
                columns.append(counts);
                break;
            }
            case batch::SummaryFieldKind::Number: {
                py::array_t<double> values(rows);
                for (py::ssize_t row = 0; row < rows; ++row)
                    values.mutable_at(row) = column.Number(at(row)).value_or(std::nan(""));
                columns.append(values);
                break;
            }
        }
    }
    for (py::ssize_t row = 0; row < rows; ++row)
        when.mutable_at(row) = groupLabels[static_cast<std::size_t>(row) / fields];
    return py::make_tuple(when, py::tuple(columns));
}

// `replicates` runs of simulated weather, as kelmar-cli simulate
// --replicates R --out DIR (with --summary: `summary`) makes them.
py::dict Ensemble(const Site& site, const Climatology* climate, std::optional<std::uint64_t> seed,
                  const TScenario* scenario, const std::string& rng, int replicates, bool summary, int jobs,
                  const std::string& siteId, std::int32_t startYear, std::int32_t runYears) {
    auto model = std::make_unique<TModel>();
    SetSimulatedYears(*model, startYear, runYears);
    EnsembleOptions options;
    options.Rng = RandomKindOf(rng);
    options.Seed = StartRandom(*model, options.Rng, seed);
    options.Replicates = replicates;
    options.Jobs = jobs;
    options.Summary = summary;
    options.SiteId = siteId;
    options.ScenarioName = ScenarioColumn(scenario);
    const RecordRunInputs inputs = RunInputsOf(site, climate, nullptr);
    CollectingNotifier notifier;
    // The run kelmar-cli makes before the ensemble (replicate 0): it checks
    // the site, the climatology and the scenario.
    RunUnlocked(notifier, [&] { RunRecords(*model, inputs, notifier, scenario); });
    py::dict out;
    out["seed"] = options.Seed;
    out["scenario"] = options.ScenarioName;
    if (summary) {
        EnsembleSummaries summaries;
        // Ctrl-C stops the replicates between two of them.
        RunStoppable([&](const std::atomic<bool>& stop) {
            options.Stop = &stop;
            summaries = SummarizeReplicates(*model, scenario, options);
        });
        std::vector<int> months(12);
        for (int k = 1; k <= 12; ++k) months[k - 1] = k;
        const std::vector<int> years(summaries.YearOf.begin() + 1, summaries.YearOf.end());
        out["summary_monthly"] = SummaryTable(summaries.ByMonth, months);
        out["summary_annual"] = SummaryTable(summaries.ByYear, years);
        return out;
    }
    ArraySink sink(replicates, model->AvailableYears);
    // Ctrl-C stops the replicates: a sink that refuses one ends the ensemble's threads.
    RunStoppable([&](const std::atomic<bool>& stop) {
        sink.Stop = &stop;
        RunReplicates(*model, scenario, options, sink);
    });
    out["seeds"] = sink.Seeds;
    out["monthly"] =
        py::make_tuple(sink.MonthlyReplicate, sink.Monthly.Years, sink.Monthly.Months, sink.Monthly.Values);
    out["annual"] = py::make_tuple(sink.AnnualReplicate, sink.Annual.Years, sink.Annual.Months, sink.Annual.Values);
    return out;
}

Climatology Estimate(const Weather& weather, const std::string& reference) {
    CollectingNotifier notifier;
    Climatology climate;
    RunUnlocked(notifier, [&] {
        std::optional<ReferenceYears> years;
        if (!reference.empty()) years = ParseReferenceYears(reference, "reference");
        climate.Values = EstimateFromWeatherRecord(*weather.Record, FilePartOf(weather.Name), notifier, years);
    });
    return climate;
}

// The tables of results' and summaries' columns, for the package's
// columns and attributes.
void AddFieldTables(py::module_& m) {
    py::list resultFields, summaryFields;
    for (const ResultField& f : RESULT_FIELDS)
        resultFields.append(py::dict(py::arg("name") = f.Name, py::arg("key") = f.Key, py::arg("unit") = f.Unit,
                                     py::arg("column") = batch::ColumnName(f), py::arg("long_name") = f.LongName,
                                     py::arg("standard_name") = f.StandardName, py::arg("cf_units") = f.CfUnits,
                                     py::arg("annual") = f.Annual == AnnualForm::Sum ? "sum" : "mean"));
    for (const batch::SummaryField& f : batch::SUMMARY_FIELDS) {
        const char* kind = f.Kind == batch::SummaryFieldKind::Variable ? "variable"
                           : f.Kind == batch::SummaryFieldKind::Count  ? "count"
                                                                       : "number";
        summaryFields.append(py::dict(py::arg("name") = f.Name, py::arg("kind") = kind, py::arg("meaning") = f.Meaning));
    }
    m.attr("RESULT_FIELDS") = resultFields;
    m.attr("SUMMARY_FIELDS") = summaryFields;
    // The bounds of start_year and run_years.
    m.attr("MAX_RUN_YEARS") = MAX_YEARS;
    m.attr("LAST_RUN_YEAR") = LAST_RUN_YEAR;
}

}  // namespace

void AddRuns(py::module_& m) {
    AddFieldTables(m);
    m.def("simulate", &Simulate, py::arg("site"), py::arg("climate").none(true), py::arg("weather").none(true),
          py::arg("seed").none(true), py::arg("scenario").none(true) = py::none(), py::arg("rng") = "lcg32",
          py::arg("start_year") = 1, py::arg("run_years") = MAX_YEARS);
    m.def("ensemble", &Ensemble, py::arg("site"), py::arg("climate").none(true), py::arg("seed").none(true),
          py::arg("scenario").none(true), py::arg("rng"), py::arg("replicates"), py::arg("summary"), py::arg("jobs"),
          py::arg("site_id"), py::arg("start_year") = 1, py::arg("run_years") = MAX_YEARS);
    m.def("estimate", &Estimate, py::arg("weather"), py::arg("reference") = "");
}

}  // namespace kelmar::python
