#include "io/results_file.h"

#include <algorithm>

#include "io/file_bytes.h"
#include "io/value_text.h"

namespace kelmar {

namespace {

constexpr int FIELD_WIDTH = 6;  // characters per field; longer texts are kept whole
constexpr int DECIMALS = 1;

// Leading year indices up to yearCount whose January record holds a year.
int YearsToWrite(const TResultsTable& results, int yearCount) {
    int years = 0;
    const int last = std::min(yearCount, MAX_YEARS);
    while (years < last && results.At(years + 1, 1).Year != 0) ++years;
    return years;
}

}  // namespace

void WriteResultsFile(const std::string& fileName, const TResultsTable& results, int yearCount) {
    const std::string bytes = FormatResultsFile(results, yearCount);
    if (!bytes.empty()) WriteFileAtomically(fileName, bytes);
}

std::string FormatResultsFile(const TResultsTable& results, int yearCount) {
    const int years = YearsToWrite(results, yearCount);
    if (years == 0) return {};
    std::string bytes = std::string(RESULTS_HEADER_LINE) + std::string(LINE_END);
    for (int y = 1; y <= years; ++y)
        for (int m = 1; m <= 12; ++m) {
            const TResultRecord& r = results.At(y, m);
            bytes.append(FormatIntWidth((y - 1) * 12 + m, FIELD_WIDTH));
            for (double value : {r.T_ff, r.T_ms, r.W_ff_vol, r.W_ms_vol})
                bytes.append(",").append(FormatFixedWidth(value, FIELD_WIDTH, DECIMALS));
            bytes.append(LINE_END);
        }
    return bytes;
}

}  // namespace kelmar
