// _kelmar: the C++ side of the Python package kelmar. It holds the records
// (site, climatology, weather record), reads and writes them through the
// same readers and save commands as the window, and runs the model through
// the application's command sequences (single runs, ensembles, the
// generator check); kelmar/__init__.py makes the tables (pandas, xarray)
// from the arrays it returns.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_memory.h"
#include "app/batch/batch_tables.h"
#include "app/batch/site_list.h"
#include "app/ensemble.h"
#include "app/generator_check.h"
#include "app/open_commands.h"
#include "app/presentation/grid_texts.h"
#include "app/random_streams.h"
#include "app/record_run.h"
#include "app/save_commands.h"
#include "io/climatology_file.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/scenario_file.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "io/weather_table.h"
#include "model/errors.h"
#include "model/record_fields.h"
#include "numerics/random_source.h"

namespace py = pybind11;

namespace kelmar::python {

namespace {

// The warnings of the readers and the run, kept to be given to Python's
// warnings once the work is done (and the lock is held again).
class CollectingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { Texts.push_back(text); }
    std::vector<std::string> Texts;
};

void IssueWarnings(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1);
}

// Runs `work` without the Python lock, then gives its warnings to Python,
// also when it fails: a warning that came before the error (an estimate
// without regression coefficients) explains it, as kelmar-cli prints both.
template <typename Work>
void RunUnlocked(const CollectingNotifier& notifier, Work&& work) {
    try {
        py::gil_scoped_release unlocked;
        work();
    } catch (...) {
        IssueWarnings(notifier.Texts);
        throw;
    }
    IssueWarnings(notifier.Texts);
}

// A reader that gave false warned that the file is missing: that warning is
// the error.
void RequireFound(bool found, const CollectingNotifier& notifier, const std::string& fileName) {
    if (found) return;
    throw KelmarError(notifier.Texts.empty() ? "File \"" + fileName + "\" not found." : notifier.Texts.back());
}

double RequireFinite(double value, const std::string& what) {
    if (!std::isfinite(value)) throw KelmarError(what + " must be a finite number, not " + std::to_string(value) + ".");
    return value;
}

struct Site {
    TSiteParams Params;
    std::string Name;  // the file it was read from, for messages; empty when made in Python
};

const SiteField& SiteFieldOf(const std::string& key) {
    const int index = SiteFieldIndex(key);
    if (index < 0) throw py::key_error("no site parameter \"" + key + "\"");
    return SITE_FIELDS[index];
}

py::object GetSiteValue(const Site& site, const std::string& key) {
    const SiteField& field = SiteFieldOf(key);
    if (field.Kind == FieldKind::Real) return py::float_(site.Params.*field.Real);
    return py::int_(site.Params.*field.Flag);
}

void SetSiteValue(Site& site, const std::string& key, const py::object& value) {
    const SiteField& field = SiteFieldOf(key);
    if (field.Kind == FieldKind::Real) {
        site.Params.*field.Real = RequireFinite(value.cast<double>(), key);
        return;
    }
    const double number = value.cast<double>();
    // A flag or a code: what the site file stores for it (0..255), whole.
    if (!(number >= 0 && number <= 255 && number == std::floor(number)))
        throw KelmarError(key + " takes a whole number from 0 to 255, not " + std::string(py::str(value)) + ".");
    site.Params.*field.Flag = static_cast<std::uint8_t>(number);
}

Site ReadSitePath(const std::string& fileName) {
    auto model = std::make_unique<TModel>();
    CollectingNotifier notifier;
    RequireFound(ReadSiteFile(*model, fileName, notifier), notifier, fileName);
    IssueWarnings(notifier.Texts);
    return {model->Site, SiteFileName(fileName)};
}

struct Climatology {
    TClimatology Values;
    std::string Name;
};

const ClimateField& ClimateFieldOf(const std::string& key) {
    for (const ClimateField& field : CLIMATE_FIELDS)
        if (key == field.Key) return field;
    throw py::key_error("no climatology variable \"" + key + "\"");
}

// Months 1..12 of a variable as an array that writes through to the record.
py::array_t<double> MonthView(py::object owner, MonthArray& values) {
    return py::array_t<double>({12}, {sizeof(double)}, values.data() + 1, owner);
}

void SetMonths(MonthArray& target, const std::string& key, py::array_t<double, py::array::forcecast> values) {
    if (values.ndim() != 1 || values.shape(0) != 12)
        throw KelmarError(key + " takes twelve monthly values, January to December.");
    for (int m = 1; m <= 12; ++m) target[m] = RequireFinite(values.at(m - 1), key + " of month " + std::to_string(m));
}

Climatology ReadClimatologyPath(const std::string& fileName) {
    auto model = std::make_unique<TModel>();
    CollectingNotifier notifier;
    RequireFound(ReadClimatologyFile(*model, fileName, notifier), notifier, fileName);
    IssueWarnings(notifier.Texts);
    return {model->Climate, ReplaceExtension(fileName, CLIMATOLOGY_EXTENSION)};
}

struct Weather {
    std::unique_ptr<WeatherRecord> Record = std::make_unique<WeatherRecord>();
    std::string Name;

    int Years() const { return std::max(0, std::min(Record->YearEnd - Record->YearBeg + 1, MAX_YEARS)); }
};

// Year indices 1..years by month 1..12 of a series, written through.
py::array_t<double> SeriesView(py::object owner, YearMonthSeries& series, int years) {
    return py::array_t<double>({static_cast<py::ssize_t>(years), py::ssize_t{12}},
                               {sizeof(series[0]), sizeof(double)}, series[1].data() + 1, owner);
}

Weather ReadWeatherPath(const std::string& fileName, const std::string& siteId) {
    auto model = std::make_unique<TModel>();
    CollectingNotifier notifier;
    RequireFound(ReadWeatherFile(*model, fileName, notifier, siteId), notifier, fileName);
    IssueWarnings(notifier.Texts);
    Weather weather;
    weather.Record->Store = model->Weather;
    weather.Record->YearBeg = model->Settings.YearBeg;
    weather.Record->YearEnd = model->Settings.YearEnd;
    weather.Name = WeatherFileName(fileName);
    return weather;
}

std::string FilePart(const std::string& name) { return name.empty() ? name : Utf8Name(PathOf(name).filename()); }

// The records of a run as arrays: calendar year and month of each row, and
// the values of RESULT_FIELDS in their order.
struct Table {
    py::array_t<std::int64_t> Years, Months;
    py::array_t<double> Values;
};

Table MakeTable(std::size_t rows) {
    return {py::array_t<std::int64_t>(static_cast<py::ssize_t>(rows)),
            py::array_t<std::int64_t>(static_cast<py::ssize_t>(rows)),
            py::array_t<double>({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(RESULT_FIELDS.size())})};
}

void PutRow(Table& table, std::size_t row, const TResultRecord& r, std::int64_t year) {
    table.Years.mutable_at(row) = year;
    table.Months.mutable_at(row) = r.Month;
    double* values = table.Values.mutable_data(static_cast<py::ssize_t>(row), 0);
    for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f) values[f] = r.*RESULT_FIELDS[f].Value;
}

py::tuple TableTuple(const Table& table) { return py::make_tuple(table.Years, table.Months, table.Values); }

RandomKind RandomKindOf(const std::string& name) {
    if (const auto kind = streams::KindNamed(name)) return *kind;
    throw KelmarError("rng takes lcg32 or pcg64, not \"" + name + "\".");
}

// Sets the random state of `model` as kelmar-cli simulate does from --rng
// and --seed (without a seed, the clock's state the model was made with)
// and gives the seed of the run: the 32-bit state with lcg32, the 64-bit
// seed with pcg64.
std::uint64_t StartRandom(TModel& model, RandomKind kind, std::optional<std::uint64_t> seed) {
    // Without a seed, the clock's state the model was made with.
    return streams::StartStream(model.Random, kind, seed.value_or(model.Random.State()), 0);
}

// A scenario's months, January first: one value for all, or twelve.
void SetScenarioMonths(MonthArray& target, const char* key, const py::object& values) {
    const auto array = py::array_t<double, py::array::forcecast>::ensure(values);
    if (!array || array.ndim() > 1)
        throw KelmarError(std::string(key) + " takes one number or twelve (January to December).");
    const py::ssize_t count = array.ndim() == 0 ? 1 : array.shape(0);
    // The scenario file reader's text for a wrong count.
    if (count != 1 && count != 12)
        throw KelmarError(std::string(key) + " takes one value or twelve (January to December), not " +
                          std::to_string(count) + ".");
    const double* data = array.data();
    for (int k = 1; k <= 12; ++k) target[k] = count == 1 ? data[0] : data[k - 1];
}

TScenario MakeScenario(const std::string& name, const py::object& deltaT, const py::object& precipFactor,
                       double variability, double trendT, double trendPrecip) {
    TScenario scenario;
    scenario.Name = name;
    SetScenarioMonths(scenario.DeltaT, "delta_t", deltaT);
    SetScenarioMonths(scenario.PrecFactor, "precip_factor", precipFactor);
    scenario.Variability = variability;
    scenario.TrendT = trendT;
    scenario.TrendPrec = trendPrecip;
    return scenario;
}

RecordRunInputs RunInputsOf(const Site& site, const Climatology* climate, const Weather* weather) {
    RecordRunInputs inputs;
    inputs.Site = &site.Params;
    if (climate) {
        inputs.Climate = &climate->Values;
        inputs.ClimateName = FilePart(climate->Name);
    }
    if (weather) {
        inputs.Weather = weather->Record.get();
        inputs.WeatherName = FilePart(weather->Name);
    }
    return inputs;
}

py::dict Simulate(const Site& site, const Climatology* climate, const Weather* weather,
                  std::optional<std::uint64_t> seed, const TScenario* scenario, const std::string& rng) {
    auto model = std::make_unique<TModel>();
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

// A summary table in the row order of its file (by group, then field):
// the month or year of each row, the field's place in RESULT_FIELDS, n,
// and mean, sd (NaN below two values, where the file's field is empty)
// and the five percentiles. `summaries` are kept [field * groups + group].
py::tuple SummaryTable(const std::vector<SampleSummary>& summaries, const std::vector<int>& groupLabels) {
    const std::size_t fields = RESULT_FIELDS.size(), groups = groupLabels.size();
    const py::ssize_t rows = static_cast<py::ssize_t>(groups * fields);
    py::array_t<std::int64_t> when(rows), field(rows), counts(rows);
    py::array_t<double> values({rows, py::ssize_t{2 + SUMMARY_PROBABILITIES.size()}});
    py::ssize_t row = 0;
    for (std::size_t g = 0; g < groups; ++g)
        for (std::size_t f = 0; f < fields; ++f, ++row) {
            const SampleSummary& s = summaries[f * groups + g];
            when.mutable_at(row) = groupLabels[g];
            field.mutable_at(row) = static_cast<std::int64_t>(f);
            counts.mutable_at(row) = static_cast<std::int64_t>(s.Count);
            double* out = values.mutable_data(row, 0);
            out[0] = s.Mean;
            out[1] = s.Count > 1 ? s.Sd : std::nan("");
            for (std::size_t p = 0; p < s.Percentiles.size(); ++p) out[2 + p] = s.Percentiles[p];
        }
    return py::make_tuple(when, field, counts, values);
}

// `replicates` runs of simulated weather, as kelmar-cli simulate
// --replicates R --out DIR (with --summary: `summary`) makes them.
py::dict Ensemble(const Site& site, const Climatology* climate, std::optional<std::uint64_t> seed,
                  const TScenario* scenario, const std::string& rng, int replicates, bool summary, int jobs,
                  const std::string& siteId) {
    auto model = std::make_unique<TModel>();
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
        {
            py::gil_scoped_release unlocked;
            summaries = SummarizeReplicates(*model, scenario, options);
        }
        std::vector<int> months(12);
        for (int k = 1; k <= 12; ++k) months[k - 1] = k;
        const std::vector<int> years(summaries.YearOf.begin() + 1, summaries.YearOf.end());
        out["summary_monthly"] = SummaryTable(summaries.ByMonth, months);
        out["summary_annual"] = SummaryTable(summaries.ByYear, years);
        return out;
    }
    ArraySink sink(replicates, model->AvailableYears);
    {
        py::gil_scoped_release unlocked;
        RunReplicates(*model, scenario, options, sink);
    }
    out["seeds"] = sink.Seeds;
    out["monthly"] =
        py::make_tuple(sink.MonthlyReplicate, sink.Monthly.Years, sink.Monthly.Months, sink.Monthly.Values);
    out["annual"] = py::make_tuple(sink.AnnualReplicate, sink.Annual.Years, sink.Annual.Months, sink.Annual.Values);
    return out;
}

// The generator check of a record (and a climatology, or the one estimated
// from the record), as kelmar-cli check makes it: check.csv's columns (NaN
// where the file's field is empty) and the verdict lines.
py::dict Check(const Weather& weather, const Climatology* climate, int years, std::optional<std::uint32_t> seed) {
    if (years < 2 || years > MAX_YEARS)
        throw KelmarError("years takes a whole number from 2 to " + std::to_string(MAX_YEARS) + ", not " +
                          std::to_string(years) + ".");
    auto model = std::make_unique<TModel>();
    if (seed) model->Random.SetState(*seed);
    model->Weather = weather.Record->Store;
    model->Settings.YearBeg = weather.Record->YearBeg;
    model->Settings.YearEnd = weather.Record->YearEnd;
    std::optional<std::string> climateFile;
    if (climate) {
        model->Climate = climate->Values;
        climateFile = climate->Name;
    }
    CollectingNotifier notifier;
    GeneratorCheck check;
    RunUnlocked(notifier, [&] {
        check = CheckRecordInModel(*model, weather.Name.empty() ? "weather DataFrame" : weather.Name, climateFile,
                                   years, notifier);
    });

    const py::ssize_t rows = static_cast<py::ssize_t>(check.Rows.size());
    py::list variable, unit, test, method, result;
    py::array_t<std::int64_t> month(rows), nObs(rows), nMissing(rows), nSim(rows);
    // obs_mean, sim_mean, obs_sd, sim_sd, statistic, df1, df2, p, p_holm
    py::array_t<double> numbers({rows, py::ssize_t{9}});
    const double none = std::nan("");
    for (py::ssize_t r = 0; r < rows; ++r) {
        const CheckRow& row = check.Rows[static_cast<std::size_t>(r)];
        const VariableCheck& v = check.Variables[static_cast<std::size_t>(row.Variable)];
        const MonthSample& observed = v.Observed[row.Month];
        const MonthSample& simulated = v.Simulated[row.Month];
        variable.append(CheckVariableKey(row.Variable));
        unit.append(CheckVariableUnit(row.Variable));
        test.append(CheckTestKey(row.Test));
        method.append(CheckTestMethod(row.Variable, row.Test));
        result.append(!row.Tested ? "untested" : row.Fails ? "fail" : "pass");
        month.mutable_at(r) = row.Month;
        nObs.mutable_at(r) = observed.Count;
        nMissing.mutable_at(r) = observed.Missing;
        nSim.mutable_at(r) = simulated.Count;
        double* out = numbers.mutable_data(r, 0);
        // NaN where FormatCheckTable leaves the field empty.
        out[0] = observed.Count > 0 ? observed.Mean : none;
        out[1] = simulated.Count > 0 ? simulated.Mean : none;
        out[2] = observed.Count > 1 ? observed.StdDev : none;
        out[3] = simulated.Count > 1 ? simulated.StdDev : none;
        out[4] = row.Tested ? row.Result.Statistic : none;
        out[5] = row.Tested && row.Test != CheckTest::Distribution ? row.Result.Df1 : none;
        out[6] = row.Tested && row.Test == CheckTest::StdDev ? row.Result.Df2 : none;
        out[7] = row.Tested ? row.Result.P : none;
        out[8] = row.Tested ? row.HolmP : none;
    }
    py::dict out;
    out["columns"] = py::make_tuple(variable, unit, month, test, method, nObs, nMissing, nSim, numbers, result);
    out["verdicts"] = CheckVerdicts(check);
    out["seed"] = check.Seed;
    out["record_name"] = check.RecordName;
    out["climate_name"] = check.ClimateName;
    out["record_years"] = check.RecordYears;
    out["simulated_years"] = check.SimulatedYears;
    return out;
}

// The warning of kelmar-cli batch when the list places sites without a seed
// of their own beyond the generator's disjoint streams.
void WarnOfRepeatingStreams(const batch::SiteList& list, std::uint64_t firstIndex) {
    std::int64_t lastPlace = -1;
    for (std::size_t i = 0; i < list.Sites.size(); ++i)
        if (!list.Sites[i].Seed) lastPlace = static_cast<std::int64_t>(firstIndex + i);
    if (const auto warning = streams::RepeatingStreamsWarning(RandomKind::Lcg32, lastPlace, 1))
        IssueWarnings({*warning});
}

py::dict RunBatch(const std::string& listText, const std::string& listName, const std::string& folder,
                  std::optional<std::uint32_t> seed, std::uint64_t firstIndex, int lineOffset, int jobs) {
    batch::SiteList list = batch::ParseSiteList(listText, listName, folder);
    for (batch::SiteEntry& site : list.Sites) site.Line += lineOffset;
    if (firstIndex == 0) WarnOfRepeatingStreams(list, firstIndex);  // a part's client warned of the whole list
    const std::uint32_t baseSeed = seed ? *seed : RandomSource().State();
    std::vector<batch::SiteRecords> runs;
    {
        py::gil_scoped_release unlocked;
        runs = batch::RunSitesInMemory(list, baseSeed, firstIndex, jobs);
    }
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
            errorTexts.append(py::str(run.Error));
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

}  // namespace kelmar::python

using namespace kelmar;
using namespace kelmar::python;

PYBIND11_MODULE(_kelmar, m) {
    m.doc() = "The KELMAR model: records, readers and writers, runs and batches.";
    // Python's exception of every error the window and kelmar-cli show as text.
    static py::exception<KelmarError> error(m, "KelmarError");
    error.attr("__module__") = "kelmar";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const KelmarError& e) {
            PyErr_SetString(error.ptr(), e.what());
        }
    });

    m.attr("MISSING_VALUE") = MISSING_VALUE;
    m.attr("UNIFORMS_PER_SITE") = streams::UNIFORMS_PER_RUN;

    // The record tables, for the package's keys, columns and attributes.
    py::list siteFields, climateFields, resultFields;
    for (const SiteField& f : SITE_FIELDS)
        siteFields.append(py::dict(py::arg("key") = f.Key, py::arg("unit") = f.Unit,
                                   py::arg("kind") = f.Kind == FieldKind::Real ? "real" : "flag"));
    for (const ClimateField& f : CLIMATE_FIELDS)
        climateFields.append(py::dict(py::arg("key") = f.Key, py::arg("unit") = f.Unit, py::arg("long_name") = f.LongName));
    for (const ResultField& f : RESULT_FIELDS)
        resultFields.append(py::dict(py::arg("name") = f.Name, py::arg("key") = f.Key, py::arg("unit") = f.Unit,
                                     py::arg("column") = batch::ColumnName(f), py::arg("long_name") = f.LongName,
                                     py::arg("standard_name") = f.StandardName, py::arg("cf_units") = f.CfUnits,
                                     py::arg("annual") = f.Annual == AnnualForm::Sum ? "sum" : "mean"));
    m.attr("SITE_FIELDS") = siteFields;
    m.attr("CLIMATE_FIELDS") = climateFields;
    m.attr("RESULT_FIELDS") = resultFields;

    py::class_<Site>(m, "SiteRecord")
        .def(py::init([] {
            // The defaults a site file may leave out, as for a site list's parameter columns.
            Site site;
            ApplySiteDefaults(site.Params);
            return site;
        }))
        .def("get", &GetSiteValue)
        .def("set", &SetSiteValue)
        .def_readwrite("name", &Site::Name)
        .def("write", [](const Site& site, const std::string& fileName) {
            SaveSite(fileName, SiteValueTexts(site.Params), RunInputs{});
        })
        .def("copy", [](const Site& site) { return site; });

    py::class_<Climatology>(m, "ClimatologyRecord")
        .def(py::init<>())
        .def("get", [](py::object self, const std::string& key) {
            Climatology& climate = self.cast<Climatology&>();
            return MonthView(self, climate.Values.*ClimateFieldOf(key).Values);
        })
        .def("set", [](Climatology& climate, const std::string& key, py::array_t<double, py::array::forcecast> values) {
            SetMonths(climate.Values.*ClimateFieldOf(key).Values, key, values);
        })
        .def_readwrite("name", &Climatology::Name)
        .def("write", [](const Climatology& climate, const std::string& fileName) {
            // Values the grid's two decimals would show as nan or inf do not belong in a file.
            for (const ClimateField& f : CLIMATE_FIELDS)
                for (int mo = 1; mo <= 12; ++mo) RequireFinite((climate.Values.*f.Values)[mo], std::string(f.Key));
            SaveClimatology(fileName, ClimatologyValueTexts(climate.Values), RunInputs{});
        })
        .def("copy", [](const Climatology& climate) { return climate; });

    py::class_<Weather>(m, "WeatherRecord")
        .def("series", [](py::object self, const std::string& key) {
            Weather& weather = self.cast<Weather&>();
            TWeatherStore& store = weather.Record->Store;
            YearMonthSeries* series = key == "Tair" ? &store.Tair : key == "Prec" ? &store.Prec : key == "Tsoil" ? &store.Tsoil : nullptr;
            if (!series) throw py::key_error("no weather series \"" + key + "\" (Tair, Prec, Tsoil)");
            return SeriesView(self, *series, weather.Years());
        })
        .def_property_readonly("year_begin", [](const Weather& w) { return w.Record->YearBeg; })
        .def_property_readonly("year_end", [](const Weather& w) { return w.Record->YearEnd; })
        .def_readwrite("name", &Weather::Name)
        .def("write", [](const Weather& weather, const std::string& fileName) {
            // Read back, a .csv name is a tidy weather table, which this is not.
            if (IsWeatherTableName(fileName))
                throw KelmarError("The weather was not saved: \"" + fileName +
                                  "\" would be read as a tidy weather table (.csv); give it the extension .wed.");
            const TWeatherStore& store = weather.Record->Store;
            for (int i = 1; i <= weather.Years(); ++i)
                for (int mo = 1; mo <= 12; ++mo) {
                    const std::string when = " of " + std::to_string(weather.Record->YearBeg + i - 1) + "-" + std::to_string(mo);
                    RequireFinite(store.Tair[i][mo], "Tair" + when);
                    RequireFinite(store.Prec[i][mo], "Prec" + when);
                    RequireFinite(store.Tsoil[i][mo], "Tsoil" + when);
                }
            SaveWeather(fileName, WeatherRecordRowTexts(*weather.Record), RunInputs{});
        })
        .def("copy", [](const Weather& weather) {
            Weather copy;
            *copy.Record = *weather.Record;
            copy.Name = weather.Name;
            return copy;
        });

    m.def("read_site", &ReadSitePath, py::arg("path"));
    m.def("read_climatology", &ReadClimatologyPath, py::arg("path"));
    m.def("read_weather", &ReadWeatherPath, py::arg("path"), py::arg("site_id") = "");
    // A climate scenario: delta_t and precip_factor one value or twelve
    // (January first, edited in place), as the scenario file holds them.
    py::class_<TScenario>(m, "Scenario")
        .def(py::init(&MakeScenario), py::arg("name") = "", py::arg("delta_t") = 0.0, py::arg("precip_factor") = 1.0,
             py::arg("variability") = 1.0, py::arg("trend_t") = 0.0, py::arg("trend_precip") = 0.0)
        .def_readwrite("name", &TScenario::Name)
        .def_property(
            "delta_t", [](py::object self) { return MonthView(self, self.cast<TScenario&>().DeltaT); },
            [](TScenario& s, const py::object& values) { SetScenarioMonths(s.DeltaT, "delta_t", values); })
        .def_property(
            "precip_factor", [](py::object self) { return MonthView(self, self.cast<TScenario&>().PrecFactor); },
            [](TScenario& s, const py::object& values) { SetScenarioMonths(s.PrecFactor, "precip_factor", values); })
        .def_readwrite("variability", &TScenario::Variability)
        .def_readwrite("trend_t", &TScenario::TrendT)
        .def_readwrite("trend_precip", &TScenario::TrendPrec)
        .def("describe", &TScenario::Describe)
        .def("copy", [](const TScenario& s) { return s; });
    m.def("read_scenario", &ReadScenarioFile, py::arg("path"));

    m.def("simulate", &Simulate, py::arg("site"), py::arg("climate").none(true), py::arg("weather").none(true),
          py::arg("seed").none(true), py::arg("scenario").none(true) = py::none(), py::arg("rng") = "lcg32");
    m.def("ensemble", &Ensemble, py::arg("site"), py::arg("climate").none(true), py::arg("seed").none(true),
          py::arg("scenario").none(true), py::arg("rng"), py::arg("replicates"), py::arg("summary"), py::arg("jobs"),
          py::arg("site_id"));
    m.def("check", &Check, py::arg("weather"), py::arg("climate").none(true), py::arg("years"),
          py::arg("seed").none(true));
    m.def("estimate", [](const Weather& weather) {
        CollectingNotifier notifier;
        Climatology climate;
        RunUnlocked(notifier, [&] {
            climate.Values = EstimateFromWeatherRecord(*weather.Record, FilePart(weather.Name), notifier);
        });
        return climate;
    });
    m.def("batch", &RunBatch, py::arg("list_text"), py::arg("list_name"), py::arg("folder"), py::arg("seed").none(true),
          py::arg("first_index"), py::arg("line_offset"), py::arg("jobs"));
    // A base seed from the clock, as kelmar-cli batch takes one without --seed.
    m.def("clock_seed", [] { return RandomSource().State(); });
    m.def("check_site_list", [](const std::string& listText, const std::string& listName, const std::string& folder) {
        const batch::SiteList list = batch::ParseSiteList(listText, listName, folder);
        WarnOfRepeatingStreams(list, 0);
        return list.Sites.size();
    });
}
