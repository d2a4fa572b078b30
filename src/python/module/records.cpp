// The records as Python classes: fields by key, months and series as
// arrays that edit the record in place, read and written through the
// application's record files (the readers' naming rules, the save
// commands' bytes).
#include "python/module/records.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>

#include "app/flag_value.h"
#include "app/record_files.h"
#include "model/errors.h"
#include "model/record_fields.h"
#include "model/scenario.h"
#include "python/module/converters.h"
#include "python/module/module_units.h"
#include "python/module/run_warnings.h"

namespace kelmar::python {

namespace {

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
        site.Params.*field.Real = RequireFiniteValue(NumberOf(value, key, "a number (float)"), key);
        return;
    }
    site.Params.*field.Flag = FlagValue(NumberOf(value, key, "a whole number (int)"), key, std::string(py::str(value)));
}

const ClimateField& ClimateFieldOf(const std::string& key) {
    for (const ClimateField& field : CLIMATE_FIELDS)
        if (key == field.Key) return field;
    throw py::key_error("no climatology variable \"" + key + "\"");
}

// The readers' warnings go to Python once the record is read; a file not
// found or not read raises before any.
Site ReadSite(const std::string& fileName) {
    CollectingNotifier notifier;
    Site site;
    site.Name = ReadSiteRecord(fileName, site.Params, notifier);
    IssueWarnings(notifier.Texts);
    return site;
}

Climatology ReadClimatology(const std::string& fileName) {
    CollectingNotifier notifier;
    Climatology climate;
    climate.Name = ReadClimatologyRecord(fileName, climate.Values, notifier);
    IssueWarnings(notifier.Texts);
    return climate;
}

Weather ReadWeather(const std::string& fileName, const std::string& siteId) {
    CollectingNotifier notifier;
    Weather weather;
    weather.Name = ReadWeatherRecord(fileName, siteId, *weather.Record, notifier);
    IssueWarnings(notifier.Texts);
    return weather;
}

// The scenario's single numbers, as fields of Python's Scenario.
struct ScenarioNumber {
    const char* Key;
    double TScenario::*Value;
};
constexpr ScenarioNumber SCENARIO_NUMBERS[] = {
    {"variability", &TScenario::Variability}, {"trend_t", &TScenario::TrendT}, {"trend_precip", &TScenario::TrendPrec}};

TScenario ScenarioOfArguments(const std::string& name, const py::object& deltaT, const py::object& precipFactor,
                              const py::object& variability, const py::object& trendT, const py::object& trendPrecip) {
    TScenario scenario;
    scenario.Name = name;
    SetScenarioMonths(scenario.DeltaT, "delta_t", deltaT);
    SetScenarioMonths(scenario.PrecFactor, "precip_factor", precipFactor);
    const py::object* given[] = {&variability, &trendT, &trendPrecip};
    for (std::size_t n = 0; n < std::size(SCENARIO_NUMBERS); ++n)
        scenario.*SCENARIO_NUMBERS[n].Value = NumberOf(*given[n], SCENARIO_NUMBERS[n].Key, "a number (float)");
    return scenario;
}

void AddFieldTables(py::module_& m) {
    py::list siteFields, climateFields;
    for (const SiteField& f : SITE_FIELDS)
        siteFields.append(py::dict(py::arg("key") = f.Key, py::arg("unit") = f.Unit,
                                   py::arg("kind") = f.Kind == FieldKind::Real ? "real" : "flag"));
    for (const ClimateField& f : CLIMATE_FIELDS)
        climateFields.append(
            py::dict(py::arg("key") = f.Key, py::arg("unit") = f.Unit, py::arg("long_name") = f.LongName));
    m.attr("SITE_FIELDS") = siteFields;
    m.attr("CLIMATE_FIELDS") = climateFields;
}

void AddSite(py::module_& m) {
    py::class_<Site>(m, "SiteRecord")
        .def(py::init([] { return Site{DefaultSiteRecord(), ""}; }))
        .def("get", &GetSiteValue)
        .def("set", &SetSiteValue)
        .def_readwrite("name", &Site::Name)
        .def("write", [](const Site& site, const std::string& fileName) { WriteSiteRecord(fileName, site.Params); })
        .def("copy", [](const Site& site) { return site; });
    m.def("read_site", &ReadSite, py::arg("path"));
}

void AddClimatology(py::module_& m) {
    py::class_<Climatology>(m, "ClimatologyRecord")
        .def(py::init<>())
        .def("get",
             [](py::object self, const std::string& key) {
                 Climatology& climate = self.cast<Climatology&>();
                 return MonthView(self, climate.Values.*ClimateFieldOf(key).Values);
             })
        .def("set",
             [](Climatology& climate, const std::string& key, const py::object& values) {
                 SetMonths(climate.Values.*ClimateFieldOf(key).Values, key, values);
             })
        .def_readwrite("name", &Climatology::Name)
        .def("write",
             [](const Climatology& climate, const std::string& fileName) {
                 WriteClimatologyRecord(fileName, climate.Values);
             })
        .def("copy", [](const Climatology& climate) { return climate; });
    m.def("read_climatology", &ReadClimatology, py::arg("path"));
}

void AddWeather(py::module_& m) {
    py::class_<Weather>(m, "WeatherRecord")
        .def("series",
             [](py::object self, const std::string& key) {
                 Weather& weather = self.cast<Weather&>();
                 TWeatherStore& store = weather.Record->Store;
                 YearMonthSeries* series = key == "Tair"    ? &store.Tair
                                           : key == "Prec"  ? &store.Prec
                                           : key == "Tsoil" ? &store.Tsoil
                                                            : nullptr;
                 if (!series) throw py::key_error("no weather series \"" + key + "\" (Tair, Prec, Tsoil)");
                 return SeriesView(self, *series, weather.Years());
             })
        .def_property_readonly("year_begin", [](const Weather& w) { return w.Record->YearBeg; })
        .def_property_readonly("year_end", [](const Weather& w) { return w.Record->YearEnd; })
        .def_readwrite("name", &Weather::Name)
        .def("write",
             [](const Weather& weather, const std::string& fileName) { WriteWeatherRecord(fileName, *weather.Record); })
        .def("copy", [](const Weather& weather) {
            Weather copy;
            *copy.Record = *weather.Record;
            copy.Name = weather.Name;
            return copy;
        });
    m.def("read_weather", &ReadWeather, py::arg("path"), py::arg("site_id") = "");
}

// A climate scenario: delta_t and precip_factor one value or twelve
// (January first, edited in place), as the scenario file holds them.
void AddScenario(py::module_& m) {
    py::class_<TScenario> scenario(m, "Scenario");
    scenario
        .def(py::init(&ScenarioOfArguments), py::arg("name") = "", py::arg("delta_t") = 0.0,
             py::arg("precip_factor") = 1.0, py::arg("variability") = 1.0, py::arg("trend_t") = 0.0,
             py::arg("trend_precip") = 0.0)
        .def_readwrite("name", &TScenario::Name)
        .def_property(
            "delta_t", [](py::object self) { return MonthView(self, self.cast<TScenario&>().DeltaT); },
            [](TScenario& s, const py::object& values) { SetScenarioMonths(s.DeltaT, "delta_t", values); })
        .def_property(
            "precip_factor", [](py::object self) { return MonthView(self, self.cast<TScenario&>().PrecFactor); },
            [](TScenario& s, const py::object& values) { SetScenarioMonths(s.PrecFactor, "precip_factor", values); })
        .def("describe", &TScenario::Describe)
        .def("copy", [](const TScenario& s) { return s; });
    for (const ScenarioNumber& number : SCENARIO_NUMBERS)
        scenario.def_property(
            number.Key, [value = number.Value](const TScenario& s) { return s.*value; },
            [number](TScenario& s, const py::object& given) { s.*number.Value = NumberOf(given, number.Key, "a number (float)"); });
    m.def("read_scenario", &ReadScenarioRecord, py::arg("path"));
}

}  // namespace

void AddRecords(py::module_& m) {
    // The setters' rule for the package's own setters (a weather series).
    m.def("numbers", &NumbersOf, py::arg("values"), py::arg("key"), py::arg("wanted"));
    AddFieldTables(m);
    AddSite(m);
    AddClimatology(m);
    AddWeather(m);
    AddScenario(m);
}

}  // namespace kelmar::python
