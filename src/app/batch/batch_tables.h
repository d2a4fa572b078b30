// The tidy tables a batch writes: monthly.csv, annual.csv and errors.csv.
// Columns come from RESULT_FIELDS, each named <key>_<unit> (t_ff_degC,
// prec_mm; w_ms_vol_pct where the key already ends with the unit's first
// word). Numbers are the shortest text that reads back to the same double,
// or, with --csv-digits N, rounded to N significant digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/model_state.h"
#include "model/record_fields.h"
#include "numerics/summary_statistics.h"

namespace kelmar::batch {

// The column of a results field in the batch tables.
std::string ColumnName(const ResultField& field);

// "site_id,year,month,<fields>\n"; with `tasks` (a batch of scenarios or
// replicates) "site_id,scenario,replicate,year,month,<fields>\n", the
// layout of an ensemble's tables.
std::string MonthlyHeader(bool tasks = false);
// "site_id,year,<fields>,seed\n"; with `tasks` "site_id,scenario,replicate,year,<fields>,seed\n".
std::string AnnualHeader(bool tasks = false);
inline constexpr std::string_view ERRORS_HEADER = "site_id,message\n";

// Appends `value` as the shortest decimal text that reads back to it.
void AppendShortest(std::string& out, double value);

// Significant digits of the tables' numbers (--csv-digits); SHORTEST_DIGITS:
// the shortest text that reads back to the same double, the default. 17
// digits are enough to read any double back.
inline constexpr int SHORTEST_DIGITS = 0;
inline constexpr int MIN_CSV_DIGITS = 1;
inline constexpr int MAX_CSV_DIGITS = 17;
// The longest text of a double in either form: "-1.2345678901234567e-308".
inline constexpr std::size_t MAX_NUMBER_CHARS = 24;

// Raises KelmarError unless `digits` is SHORTEST_DIGITS or within
// MIN_CSV_DIGITS..MAX_CSV_DIGITS.
void CheckCsvDigits(int digits);

// Writes `value` at `p` (room for MAX_NUMBER_CHARS) with `digits`
// significant digits, as printf's %.<digits>g without trailing zeros, or
// the shortest form for SHORTEST_DIGITS; gives the end of the text.
char* PutNumber(char* p, double value, int digits);
// The same appended to `out`.
void AppendNumber(std::string& out, double value, int digits);

// A message as one line of a table: its lines joined by "; ", or by a space
// after a line that ends with a stop or a comma, without the blanks around
// the line ends (LF, CR LF or CR) and empty lines, so that every CSV reader
// takes the row as one physical line. A message of one line stays as it is.
std::string OneLine(std::string_view message);

// The summary tables of an ensemble (simulate --summary, batch --summary):
// "site_id,scenario,month,<summary columns>\n" and the same with "year".
std::string SummaryMonthlyHeader();
std::string SummaryAnnualHeader();
// One group's summary row: `rowStart` holds "<site_id>,<scenario>," as CSV,
// `when` the month or the calendar year; the deviation is left empty for a
// single value. Numbers have `digits` significant digits (SHORTEST_DIGITS: the shortest form).
void AppendSummaryRow(std::string& out, std::string_view rowStart, std::int64_t when, const ResultField& field,
                      const SampleSummary& summary, int digits = SHORTEST_DIGITS);

// Appends the rows of year indices 1..AvailableYears of `model`: twelve to
// `monthly` per year, one (the annual record) to `annual`, ending with `seed`;
// the values with `digits` significant digits (SHORTEST_DIGITS: the shortest form).
void AppendSiteRows(const TModel& model, std::string_view siteId, std::uint32_t seed, std::string& monthly,
                    std::string& annual, int digits = SHORTEST_DIGITS);

// The same with the rows starting with `rowStart`, the columns before the
// year as CSV text with their commas ("site,warm,3,").
void AppendTaskRows(const TModel& model, std::string_view rowStart, std::uint32_t seed, std::string& monthly,
                    std::string& annual, int digits = SHORTEST_DIGITS);

// "<site_id>," or with a scenario name "<site_id>,<scenario>,<replicate>,", each quoted as CSV needs.
std::string RowStart(std::string_view siteId, const std::string* scenario = nullptr, int replicate = 0);

// Appends the row of a failed site to `errors`: the message as OneLine makes it.
void AppendErrorRow(std::string& errors, std::string_view siteId, std::string_view message);

}  // namespace kelmar::batch
