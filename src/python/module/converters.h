// Between the records and numpy: arrays that write through to a record's
// months and series, a scenario's months from one number or twelve, and
// the arrays of results a run returns to the package.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/model_state.h"

namespace kelmar::python {

namespace py = pybind11;

// Months 1..12 of a variable as an array that writes through to the record
// `owner` holds.
py::array_t<double> MonthView(py::object owner, MonthArray& values);
// Twelve finite values, January to December; KelmarError otherwise.
void SetMonths(MonthArray& target, const std::string& key, py::array_t<double, py::array::forcecast> values);
// A scenario's months, January first: one value for all, or twelve.
void SetScenarioMonths(MonthArray& target, const char* key, const py::object& values);
// Year indices 1..years by month 1..12 of a series, written through.
py::array_t<double> SeriesView(py::object owner, YearMonthSeries& series, int years);

// The records of a run as arrays: calendar year and month of each row, and
// the values of RESULT_FIELDS in their order.
struct Table {
    py::array_t<std::int64_t> Years, Months;
    py::array_t<double> Values;
};

Table MakeTable(std::size_t rows);
void PutRow(Table& table, std::size_t row, const TResultRecord& record, std::int64_t year);
py::tuple TableTuple(const Table& table);

}  // namespace kelmar::python
