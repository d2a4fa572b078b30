#include "io/weather_table_rows.h"

#include <charconv>
#include <cmath>

#include "io/csv_text.h"

namespace kelmar {

void AppendWeatherTableRows(std::string& out, const std::string& siteId, std::int64_t firstYear, int firstMonth,
                            const std::array<std::vector<double>, 3>& values) {
    const std::size_t count = values[0].size();
    std::string id;
    AppendCsvField(id, siteId);
    const std::int64_t lead = firstMonth - 1;
    const std::int64_t total = (lead + static_cast<std::int64_t>(count) + 11) / 12 * 12;
    char buffer[32];  // the longest shortest form of a double has 24 characters
    for (std::int64_t i = 0; i < total; ++i) {
        out += id;
        out += ',';
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, firstYear + i / 12).ptr);
        out += ',';
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, i % 12 + 1).ptr);
        const std::int64_t at = i - lead;
        for (const std::vector<double>& series : values) {
            out += ',';
            const double value =
                at >= 0 && at < static_cast<std::int64_t>(series.size()) ? series[at] : std::nan("");
            if (std::isfinite(value)) out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
            else out += "NA";
        }
        out += '\n';
    }
}

}  // namespace kelmar
