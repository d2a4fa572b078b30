#include "app/batch/batch_tables.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "app/batch/batch_summary.h"
#include "io/csv_text.h"
#include "model/errors.h"

namespace kelmar::batch {

std::string ColumnName(const ResultField& field) {
    const std::string_view key = field.Key, unit = field.Unit;
    std::string name(key);
    // vol_pct after w_ms_vol gives w_ms_vol_pct, not w_ms_vol_vol_pct.
    const std::size_t underscore = unit.find('_');
    if (underscore != std::string_view::npos) {
        const std::string_view firstWord = unit.substr(0, underscore);
        if (key.size() > firstWord.size() && key.ends_with(firstWord) && key[key.size() - firstWord.size() - 1] == '_') {
            name.append(unit.substr(underscore));
            return name;
        }
    }
    name.push_back('_');
    name.append(unit);
    return name;
}

std::string MonthlyHeader(bool tasks) {
    std::string header = tasks ? "site_id,scenario,replicate,year,month" : "site_id,year,month";
    for (const ResultField& field : RESULT_FIELDS) header.append(",").append(ColumnName(field));
    return header + "\n";
}

std::string AnnualHeader(bool tasks) {
    std::string header = tasks ? "site_id,scenario,replicate,year" : "site_id,year";
    for (const ResultField& field : RESULT_FIELDS) header.append(",").append(ColumnName(field));
    return header + ",seed\n";
}

void AppendShortest(std::string& out, double value) {
    char buffer[32];  // the longest shortest form of a double has 24 characters
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void CheckCsvDigits(int digits) {
    if (digits != SHORTEST_DIGITS && (digits < MIN_CSV_DIGITS || digits > MAX_CSV_DIGITS))
        throw KelmarError("--csv-digits needs " + std::to_string(MIN_CSV_DIGITS) + " to " +
                          std::to_string(MAX_CSV_DIGITS) + " significant digits, not " + std::to_string(digits) + ".");
}

char* PutNumber(char* p, double value, int digits) {
    if (digits == SHORTEST_DIGITS) return std::to_chars(p, p + MAX_NUMBER_CHARS, value).ptr;
    return std::to_chars(p, p + MAX_NUMBER_CHARS, value, std::chars_format::general, digits).ptr;
}

void AppendNumber(std::string& out, double value, int digits) {
    char buffer[MAX_NUMBER_CHARS];
    out.append(buffer, PutNumber(buffer, value, digits));
}

std::string OneLine(std::string_view message) {
    if (message.find_first_of("\r\n") == std::string_view::npos) return std::string(message);
    std::string line;
    line.reserve(message.size());
    std::size_t start = 0;
    while (start <= message.size()) {
        std::size_t end = message.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = message.size();
        std::string_view piece = message.substr(start, end - start);
        while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) piece.remove_prefix(1);
        while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) piece.remove_suffix(1);
        if (!piece.empty()) {
            // After a stop or a comma a space is enough; elsewhere "; "
            // stands for the line end.
            if (!line.empty()) line.append(std::string_view(".!?,:;").find(line.back()) != std::string_view::npos ? " " : "; ");
            line.append(piece);
        }
        if (end < message.size() && message[end] == '\r' && end + 1 < message.size() && message[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return line;
}

namespace {

// A row is formatted into a buffer on the stack and appended in one piece:
// one capacity check per row instead of one per number.
// year, month, nine fields, seed: at most 24 characters and a comma each.
constexpr std::size_t ROW_NUMBERS_BYTES = (RESULT_FIELDS.size() + 3) * (MAX_NUMBER_CHARS + 1) + 2;

// The text of the value a column had last: many columns keep one value
// over many rows (a saturated soil, a frozen month's temperatures), and the
// same bits give the same text, so it is copied, not made again.
struct LastValues {
    struct Column {
        std::uint64_t Bits = 0;
        bool Set = false;
        unsigned char Length = 0;
        char Text[MAX_NUMBER_CHARS];
    };
    std::array<Column, RESULT_FIELDS.size()> Columns;
};

char* PutValues(char* p, const TResultRecord& record, LastValues& last, int digits) {
    for (std::size_t f = 0; f < RESULT_FIELDS.size(); ++f) {
        *p++ = ',';
        const double value = record.*RESULT_FIELDS[f].Value;
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
        LastValues::Column& column = last.Columns[f];
        if (!column.Set || column.Bits != bits) {
            column.Length = static_cast<unsigned char>(PutNumber(column.Text, value, digits) - column.Text);
            column.Bits = bits;
            column.Set = true;
        }
        std::memcpy(p, column.Text, MAX_NUMBER_CHARS);  // whole, for a fixed-size copy; only Length counts
        p += column.Length;
    }
    return p;
}

char* PutInteger(char* p, std::int64_t value) { return std::to_chars(p, p + 20, value).ptr; }

}  // namespace

std::string RowStart(std::string_view siteId, const std::string* scenario, int replicate) {
    std::string start;
    AppendCsvField(start, siteId);
    start.push_back(',');
    if (scenario) {
        AppendCsvField(start, *scenario);
        start.push_back(',');
        start.append(std::to_string(replicate));
        start.push_back(',');
    }
    return start;
}

void AppendSiteRows(const TModel& model, std::string_view siteId, std::uint32_t seed, std::string& monthly,
                    std::string& annual, int digits) {
    AppendTaskRows(model, RowStart(siteId), seed, monthly, annual, digits);
}

void AppendTaskRows(const TModel& model, std::string_view id, std::uint32_t seed, std::string& monthly,
                    std::string& annual, int digits) {
    char row[ROW_NUMBERS_BYTES];
    const std::size_t monthlyStart = monthly.size();
    LastValues lastMonthly, lastAnnual;
    for (int i = 1; i <= model.AvailableYears; ++i) {
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = model.Results.At(i, m);
            char* p = PutInteger(row, r.Year);
            *p++ = ',';
            p = PutInteger(p, r.Month);
            p = PutValues(p, r, lastMonthly, digits);
            *p++ = '\n';
            monthly.append(id);
            monthly.append(row, p);
        }
        if (i == 1) {
            // Room for the rest at about the first year's length, so that the
            // text is not copied again and again as it grows.
            const std::size_t yearBytes = monthly.size() - monthlyStart;
            monthly.reserve(monthly.size() + yearBytes * (model.AvailableYears - 1) * 9 / 8);
            annual.reserve(annual.size() + (id.size() + 16 * (RESULT_FIELDS.size() + 2)) * model.AvailableYears);
        }
        char* p = PutInteger(row, model.Results.At(i, 1).Year);
        p = PutValues(p, model.Results.At(i, 0), lastAnnual, digits);
        *p++ = ',';
        p = PutInteger(p, seed);
        *p++ = '\n';
        annual.append(id);
        annual.append(row, p);
    }
}

void AppendErrorRow(std::string& errors, std::string_view siteId, std::string_view message) {
    AppendCsvField(errors, siteId);
    errors.push_back(',');
    AppendCsvField(errors, OneLine(message));
    errors.push_back('\n');
}

std::string SummaryMonthlyHeader() { return "site_id,scenario,month," + SummaryFieldNames() + "\n"; }
std::string SummaryAnnualHeader() { return "site_id,scenario,year," + SummaryFieldNames() + "\n"; }

void AppendSummaryRow(std::string& out, std::string_view rowStart, std::int64_t when, const ResultField& field,
                      const SampleSummary& summary, int digits) {
    out.append(rowStart);
    out += std::to_string(when);
    for (const SummaryField& column : SUMMARY_FIELDS) {
        out.push_back(',');
        switch (column.Kind) {
            case SummaryFieldKind::Variable: out += ColumnName(field); break;
            case SummaryFieldKind::Count: out += std::to_string(summary.Count); break;
            case SummaryFieldKind::Number:
                if (const std::optional<double> value = column.Number(summary)) AppendNumber(out, *value, digits);
                break;
        }
    }
    out.push_back('\n');
}

}  // namespace kelmar::batch
