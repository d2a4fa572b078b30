// Between the records and numpy: arrays that write through to a record's
// months and series, a scenario's months from one number or twelve, and
// the arrays of results a run returns to the package.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/errors.h"
#include "model/model_state.h"

namespace kelmar::python {

namespace py = pybind11;

// A value of the wrong type for an argument or field: kelmar.KelmarTypeError,
// a TypeError as well.
class WrongTypeError : public KelmarError {
public:
    using KelmarError::KelmarError;
};

// A value given for the field `key` as a number: anything Python converts
// with float() but a text (int, float, numpy's numbers, ...). TypeError
// "Lat takes a number (float), not str '60'" otherwise, `wanted` naming
// what the field takes.
double NumberOf(const py::handle& value, const std::string& key, const char* wanted);
// Values given for the field `key` as an array of doubles: numbers of any
// numpy kind, or objects that are numbers; TypeError as NumberOf's for
// texts and anything else that is not numbers.
py::array_t<double, py::array::forcecast> NumbersOf(const py::object& values, const std::string& key,
                                                    const char* wanted);

// Months 1..12 of a variable as an array that writes through to the record
// `owner` holds.
py::array_t<double> MonthView(py::object owner, MonthArray& values);
// Twelve finite values, January to December; KelmarError otherwise.
void SetMonths(MonthArray& target, const std::string& key, const py::object& values);
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
