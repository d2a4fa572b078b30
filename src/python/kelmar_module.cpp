// _kelmar: the C++ side of the Python package kelmar. It holds the records
// (site, climatology, weather record), reads and writes them through the
// same readers and save commands as the window, and runs the model through
// the application's command sequences; kelmar/__init__.py makes the tables
// (pandas, xarray) from the arrays it returns.
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
#include "app/open_commands.h"
#include "app/presentation/grid_texts.h"
#include "app/record_run.h"
#include "app/save_commands.h"
#include "io/climatology_file.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
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

py::dict Simulate(const Site& site, const Climatology* climate, const Weather* weather, std::optional<std::uint32_t> seed) {
    auto model = std::make_unique<TModel>();
    if (seed) model->Random.SetState(*seed);
    const std::uint32_t startState = model->Random.State();
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
    CollectingNotifier notifier;
    {
        py::gil_scoped_release unlocked;
        RunRecords(*model, inputs, notifier);
    }
    IssueWarnings(notifier.Texts);
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

// The warning of kelmar-cli batch when the list places sites without a seed
// of their own beyond the generator's disjoint streams.
void WarnOfRepeatingStreams(const batch::SiteList& list, std::uint64_t firstIndex) {
    std::int64_t lastStream = -1;
    for (std::size_t i = 0; i < list.Sites.size(); ++i)
        if (!list.Sites[i].Seed) lastStream = static_cast<std::int64_t>(firstIndex + i);
    if (lastStream < static_cast<std::int64_t>(batch::DISJOINT_STREAMS)) return;
    IssueWarnings({"the random streams of the sites repeat: the generator's period holds " +
                   std::to_string(batch::DISJOINT_STREAMS) + " streams of " + std::to_string(batch::UNIFORMS_PER_SITE) +
                   " draws, and the list places " + std::to_string(lastStream + 1) + " sites; sites " +
                   std::to_string(batch::DISJOINT_STREAMS) + " places apart draw overlapping weather"});
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
    m.attr("UNIFORMS_PER_SITE") = batch::UNIFORMS_PER_SITE;

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
    m.def("simulate", &Simulate, py::arg("site"), py::arg("climate").none(true), py::arg("weather").none(true),
          py::arg("seed").none(true));
    m.def("estimate", [](const Weather& weather) {
        CollectingNotifier notifier;
        Climatology climate;
        {
            py::gil_scoped_release unlocked;
            climate.Values = EstimateFromWeatherRecord(*weather.Record, FilePart(weather.Name), notifier);
        }
        IssueWarnings(notifier.Texts);
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
