#include "python/module/converters.h"

#include <string>

#include "app/record_files.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::python {

namespace {

// "str '60'": the type of a value given and its repr, cut to a line.
std::string Given(const py::handle& value) {
    constexpr std::size_t LONGEST = 60;  // characters of the repr shown
    std::string text = py::repr(value);
    if (text.size() > LONGEST) text = text.substr(0, LONGEST - 3) + "...";
    return std::string(Py_TYPE(value.ptr())->tp_name) + " " + text;
}

[[noreturn]] void RaiseWrongType(const py::handle& value, const std::string& key, const char* wanted) {
    throw WrongTypeError(key + " takes " + wanted + ", not " + Given(value));
}

bool IsText(const py::handle& value) { return PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()); }

}  // namespace

double NumberOf(const py::handle& value, const std::string& key, const char* wanted) {
    if (IsText(value)) RaiseWrongType(value, key, wanted);
    try {
        return value.cast<double>();
    } catch (const py::cast_error&) {
        RaiseWrongType(value, key, wanted);
    }
}

py::array_t<double, py::array::forcecast> NumbersOf(const py::object& values, const std::string& key,
                                                    const char* wanted) {
    if (IsText(values)) RaiseWrongType(values, key, wanted);
    // numpy converts texts to numbers ("1.5" -> 1.5) where a field wants
    // numbers only: the kind of the array decides.
    py::array array;
    try {
        array = py::module_::import("numpy").attr("asarray")(values);
    } catch (const py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError) && !e.matches(PyExc_ValueError)) throw;
        RaiseWrongType(values, key, wanted);
    }
    const char kind = array.dtype().kind();
    if (kind == 'O') {
        for (const py::handle element : py::iterable(array.attr("flat")))
            if (IsText(element)) RaiseWrongType(values, key, wanted);
    } else if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f') {
        RaiseWrongType(values, key, wanted);
    }
    auto numbers = py::array_t<double, py::array::forcecast>::ensure(array);
    if (!numbers) RaiseWrongType(values, key, wanted);
    return numbers;
}

py::array_t<double> MonthView(py::object owner, MonthArray& values) {
    return py::array_t<double>({12}, {sizeof(double)}, values.data() + 1, owner);
}

void SetMonths(MonthArray& target, const std::string& key, const py::object& given) {
    const auto values = NumbersOf(given, key, "twelve numbers (float)");
    if (values.ndim() != 1 || values.shape(0) != 12)
        throw BadValueError(key + " takes twelve monthly values, January to December.");
    for (int m = 1; m <= 12; ++m)
        target[m] = RequireFiniteValue(values.at(m - 1), key + " of month " + std::to_string(m));
}

void SetScenarioMonths(MonthArray& target, const char* key, const py::object& values) {
    const auto array = NumbersOf(values, key, "one number or twelve (float)");
    if (array.ndim() > 1)
        throw KelmarError(std::string(key) + " takes one number or twelve (January to December).");
    const py::ssize_t count = array.ndim() == 0 ? 1 : array.shape(0);
    // The scenario file reader's text for a wrong count.
    if (count != 1 && count != 12)
        throw KelmarError(std::string(key) + " takes one value or twelve (January to December), not " +
                          std::to_string(count) + ".");
    const double* data = array.data();
    for (int k = 1; k <= 12; ++k) target[k] = count == 1 ? data[0] : data[k - 1];
}

py::array_t<double> SeriesView(py::object owner, YearMonthSeries& series, int years) {
    return py::array_t<double>({static_cast<py::ssize_t>(years), py::ssize_t{12}},
                               {sizeof(series[0]), sizeof(double)}, series[1].data() + 1, owner);
}

Table MakeTable(std::size_t rows) {
    return {py::array_t<std::int64_t>(static_cast<py::ssize_t>(rows)),
            py::array_t<std::int64_t>(static_cast<py::ssize_t>(rows)),
            py::array_t<double>({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(RESULT_FIELDS.size())})};
}

void PutRow(Table& table, std::size_t row, const TResultRecord& record, std::int64_t year) {
    table.Years.mutable_at(row) = year;
    table.Months.mutable_at(row) = record.Month;
    double* values = table.Values.mutable_data(static_cast<py::ssize_t>(row), 0);
    for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f) values[f] = record.*RESULT_FIELDS[f].Value;
}

py::tuple TableTuple(const Table& table) { return py::make_tuple(table.Years, table.Months, table.Values); }

}  // namespace kelmar::python
