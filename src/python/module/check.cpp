// The generator check of a record held in Python, as kelmar-cli check
// makes it: check.csv's columns by CHECK_FIELDS (NaN where the file's field
// is empty) and the verdict lines.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <optional>

#include "app/generator_check.h"
#include "python/module/module_units.h"
#include "python/module/records.h"
#include "python/module/run_warnings.h"

namespace kelmar::python {

namespace {

// A column of the table: texts as a list (the package makes them objects),
// counts and numbers as arrays.
py::object CheckColumn(const CheckField& field, const GeneratorCheck& check) {
    const py::ssize_t rows = static_cast<py::ssize_t>(check.Rows.size());
    switch (field.Kind) {
        case CheckFieldKind::Text: {
            py::list texts;
            for (const CheckRow& row : check.Rows) texts.append(field.Text(check, row));
            return std::move(texts);
        }
        case CheckFieldKind::Count: {
            py::array_t<std::int64_t> counts(rows);
            for (py::ssize_t r = 0; r < rows; ++r)
                counts.mutable_at(r) = field.Count(check, check.Rows[static_cast<std::size_t>(r)]);
            return std::move(counts);
        }
        case CheckFieldKind::Number: break;
    }
    py::array_t<double> numbers(rows);
    for (py::ssize_t r = 0; r < rows; ++r)
        numbers.mutable_at(r) = field.Number(check, check.Rows[static_cast<std::size_t>(r)]).value_or(std::nan(""));
    return std::move(numbers);
}

py::dict Check(const Weather& weather, const Climatology* climate, int years, std::optional<std::uint32_t> seed) {
    CollectingNotifier notifier;
    GeneratorCheck check;
    RunUnlocked(notifier, [&] {
        check = CheckWeatherRecord(*weather.Record, weather.Name.empty() ? "weather DataFrame" : weather.Name,
                                   climate ? &climate->Values : nullptr, climate ? climate->Name : "", years, seed,
                                   notifier);
    });
    py::list columns;
    for (const CheckField& field : CHECK_FIELDS) columns.append(CheckColumn(field, check));
    py::dict out;
    out["columns"] = py::tuple(columns);
    out["verdicts"] = CheckVerdicts(check);
    out["seed"] = check.Seed;
    out["record_name"] = check.RecordName;
    out["climate_name"] = check.ClimateName;
    out["record_years"] = check.RecordYears;
    out["simulated_years"] = check.SimulatedYears;
    return out;
}

}  // namespace

void AddCheck(py::module_& m) {
    py::list fields;
    for (const CheckField& f : CHECK_FIELDS) {
        const char* kind = f.Kind == CheckFieldKind::Text ? "text" : f.Kind == CheckFieldKind::Count ? "count" : "number";
        fields.append(py::dict(py::arg("name") = f.Name, py::arg("kind") = kind, py::arg("meaning") = f.Meaning));
    }
    m.attr("CHECK_FIELDS") = fields;
    m.def("check", &Check, py::arg("weather"), py::arg("climate").none(true), py::arg("years"),
          py::arg("seed").none(true));
}

}  // namespace kelmar::python
