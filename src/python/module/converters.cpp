#include "python/module/converters.h"

#include "app/record_files.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar::python {

py::array_t<double> MonthView(py::object owner, MonthArray& values) {
    return py::array_t<double>({12}, {sizeof(double)}, values.data() + 1, owner);
}

void SetMonths(MonthArray& target, const std::string& key, py::array_t<double, py::array::forcecast> values) {
    if (values.ndim() != 1 || values.shape(0) != 12)
        throw KelmarError(key + " takes twelve monthly values, January to December.");
    for (int m = 1; m <= 12; ++m)
        target[m] = RequireFiniteValue(values.at(m - 1), key + " of month " + std::to_string(m));
}

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
