// The time axis of gridded monthly climate: the CF calendars, the time
// units ("days since 1850-01-01 00:00:00") and the check that the steps are
// consecutive months, each step falling in one month.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmar {

enum class GridCalendar { Standard, ProlepticGregorian, NoLeap, AllLeap, Day360 };

// The calendar attribute (any case); empty or absent is standard, as CF
// has it. Raises KelmarError naming the allowed calendars for another.
GridCalendar ParseGridCalendar(std::string_view text);
const char* GridCalendarName(GridCalendar calendar);

// Days of `month` (1..12) of `year` in the calendar.
int GridDaysInMonth(GridCalendar calendar, std::int64_t year, int month);

struct GridTimeUnits {
    double SecondsPerUnit = 86400;
    std::int64_t Year = 1;
    int Month = 1, Day = 1;
    double Seconds = 0;  // of the reference day
};

// "UNIT since DATE[ TIME][ ZONE]": UNIT days, hours, minutes or seconds
// (and their usual short forms), DATE Y-M-D, TIME h:m[:s], ZONE Z, UTC or a
// zero offset. Raises KelmarError saying what is wrong.
GridTimeUnits ParseGridTimeUnits(std::string_view text);

// A month as a whole number: year * 12 + month - 1.
using GridMonth = std::int64_t;
inline std::int64_t GridMonthYear(GridMonth month) { return month >= 0 ? month / 12 : -((-month + 11) / 12); }
inline int GridMonthOfYear(GridMonth month) { return static_cast<int>(month - GridMonthYear(month) * 12) + 1; }
// "1901-02"
std::string GridMonthText(GridMonth month);

// The months of a time axis: `values` in `units` of `calendar`, and when the
// file has them the bounds of each step (lower, upper; empty otherwise).
// Each step must fall in one month (its bounds too), and the steps must be
// consecutive months. Raises KelmarError naming the first offending step
// (index, value and date) and why: a gap, a month given twice (overlapping
// or not monthly steps), a step whose bounds leave its month, a date before
// the standard calendar's Gregorian start (1582-10-15) or out of range.
struct GridMonths {
    GridMonth First = 0;
    int Count = 0;
};
GridMonths CheckMonthlyAxis(GridCalendar calendar, const GridTimeUnits& units, const std::vector<double>& values,
                            const std::vector<double>& bounds);

}  // namespace kelmar
