// Feeds arbitrary bytes to the interpretation of gridded climate files: the
// unit, calendar and time-units parsers, the check of the time axis, and the
// placing of sites on a latitude-longitude grid. The bytes are lines: a
// unit, a standard name, a calendar, time units, then raw doubles (time
// values, and bounds when there are twice as many). A refusal (KelmarError)
// is a fine outcome; a crash, a sanitizer report, a hang, a month count
// other than the steps given, or a cell outside the grid is not.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/grid/cell_search.h"
#include "io/grid_time.h"
#include "io/grid_units.h"
#include "model/errors.h"

namespace {

std::string_view NextLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return line;
}

[[noreturn]] void Fault(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void PlaceSites(const std::vector<double>& numbers) {
    using namespace kelmar::grid;
    // Rising latitudes and longitudes from the first numbers, clamped into range.
    std::vector<double> lats, lons;
    for (std::size_t i = 0; i < numbers.size() && i < 8; ++i)
        if (std::isfinite(numbers[i])) (i % 2 ? lons : lats).push_back(std::clamp(numbers[i], -90.0, 90.0) * (i % 2 ? 2 : 1));
    std::sort(lats.begin(), lats.end());
    std::sort(lons.begin(), lons.end());
    lats.erase(std::unique(lats.begin(), lats.end()), lats.end());
    lons.erase(std::unique(lons.begin(), lons.end()), lons.end());
    try {
        const CellSearch search(lats, lons);
        const double lat = std::isfinite(numbers.back()) ? std::fmod(numbers.back(), 90.0) : 0.0;
        const double lon = lat * 2;
        std::string outside;
        if (const auto own = search.Own(lat, lon, outside))
            if (own->Row < 0 || own->Row >= static_cast<int>(lats.size()) || own->Col < 0 ||
                own->Col >= static_cast<int>(lons.size()))
                Fault("the own cell lies outside the grid");
        for (const auto& [cell, weight] : search.Around(lat, lon))
            if (!(weight > 0 && weight <= 1 + 1e-9)) Fault("a bilinear weight outside (0, 1]");
        for (const auto& [cell, distance] : search.Near(lat, lon, 500))
            if (!(distance >= 0 && distance <= 500)) Fault("a near cell beyond the distance asked");
    } catch (const kelmar::KelmarError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view unit = NextLine(rest), standardName = NextLine(rest), calendar = NextLine(rest),
                           timeUnits = NextLine(rest);
    std::vector<double> numbers(rest.size() / sizeof(double));
    if (!numbers.empty()) std::memcpy(numbers.data(), rest.data(), numbers.size() * sizeof(double));

    for (GridQuantity quantity : {GridQuantity::Temperature, GridQuantity::Precipitation}) {
        try {
            const GridUnit parsed = ParseGridUnit(quantity, unit, standardName);
            if (!std::isfinite(parsed.Convert(1.0, 31))) Fault("a unit converts 1 to a number that is not finite");
        } catch (const KelmarError&) {
        }
    }
    if (!numbers.empty()) PlaceSites(numbers);
    try {
        const GridCalendar parsedCalendar = ParseGridCalendar(calendar);
        const GridTimeUnits parsedUnits = ParseGridTimeUnits(timeUnits);
        const std::size_t half = numbers.size() / 3;
        const std::vector<double> values(numbers.begin(), numbers.begin() + (numbers.size() - 2 * half));
        const std::vector<double> bounds(numbers.begin() + values.size(), numbers.end());
        const GridMonths months = CheckMonthlyAxis(parsedCalendar, parsedUnits, values, bounds);
        if (months.Count != static_cast<int>(values.size())) Fault("the month count differs from the steps");
        for (int m = 0; m < months.Count; ++m) {
            const GridMonth month = months.First + m;
            const int days = GridDaysInMonth(parsedCalendar, GridMonthYear(month), GridMonthOfYear(month));
            if (days < 28 || days > 31) Fault("a month of fewer than 28 or more than 31 days");
        }
    } catch (const KelmarError&) {
    }
    return 0;
}
