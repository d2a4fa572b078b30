#include "io/table_file.h"

#include <array>
#include <charconv>
#include <utility>

#include "model/record_fields.h"

namespace kelmar {

namespace {

void AppendNumber(std::string& out, double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    out.push_back(',');
    out.append(buffer, result.ptr);
}

void AppendRecord(std::string& out, int yearIndex, int year, int month, const TResultRecord& r) {
    out += std::to_string(yearIndex);
    out += ',';
    out += std::to_string(year);
    out += ',';
    out += std::to_string(month);
    // The values gathered at compile-time offsets first, so the loop that
    // formats them reads a plain array.
    const auto values = [&]<std::size_t... F>(std::index_sequence<F...>) {
        return std::array<double, RESULT_FIELDS.size()>{r.*RESULT_FIELDS[F].Value...};
    }(std::make_index_sequence<RESULT_FIELDS.size()>{});
    for (double v : values) AppendNumber(out, v);
    out += '\n';
}

}  // namespace

std::string FormatResultsTable(const TModel& model) {
    std::string out = "YearIndex,Year,Month";
    for (const ResultField& field : RESULT_FIELDS) out.append(",").append(field.Name);
    out += '\n';
    out.reserve(out.size() + static_cast<std::size_t>(model.AvailableYears) * 13 * 200);
    for (int i = 1; i <= model.AvailableYears; ++i) {
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = model.Results.At(i, m);
            AppendRecord(out, i, r.Year, r.Month, r);
        }
        AppendRecord(out, i, model.Results.At(i, 1).Year, 0, model.Results.At(i, 0));
    }
    return out;
}

}  // namespace kelmar
