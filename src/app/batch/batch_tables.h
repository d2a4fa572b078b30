// The tidy tables a batch writes: monthly.csv, annual.csv and errors.csv.
// Columns come from RESULT_FIELDS, each named <key>_<unit> (t_ff_degC,
// prec_mm; w_ms_vol_pct where the key already ends with the unit's first
// word). Numbers are the shortest text that reads back to the same double.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/model_state.h"
#include "model/record_fields.h"

namespace kelmar::batch {

// The column of a results field in the batch tables.
std::string ColumnName(const ResultField& field);

// "site_id,year,month,<fields>\n"
std::string MonthlyHeader();
// "site_id,year,<fields>,seed\n"
std::string AnnualHeader();
inline constexpr std::string_view ERRORS_HEADER = "site_id,message\n";

// Appends `value` as the shortest decimal text that reads back to it.
void AppendShortest(std::string& out, double value);

// Appends the rows of year indices 1..AvailableYears of `model`: twelve to
// `monthly` per year, one (the annual record) to `annual`, ending with `seed`.
void AppendSiteRows(const TModel& model, std::string_view siteId, std::uint32_t seed, std::string& monthly,
                    std::string& annual);

// Appends the row of a failed site to `errors`.
void AppendErrorRow(std::string& errors, std::string_view siteId, std::string_view message);

}  // namespace kelmar::batch
