#include "io/grid_time.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "model/errors.h"

namespace kelmar {

namespace {

constexpr std::array<int, 13> CUMULATIVE = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr std::array<int, 13> CUMULATIVE_LEAP = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t GregorianDays(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Date {
    std::int64_t Year;
    int Month, Day;
};

Date GregorianDate(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

// Days from 1970-01-01 (Gregorian) of a Julian calendar date, for the
// standard calendar's reference dates before 1582-10-15: the day after
// Julian 1582-10-04 is Gregorian 1582-10-15.
std::int64_t JulianDays(std::int64_t y, int m, int d) {
    // The Julian day number (Meeus, Astronomical Algorithms, ch. 7), less that of 1970-01-01.
    if (m <= 2) {
        y -= 1;
        m += 12;
    }
    const auto floorDiv = [](std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    return floorDiv(1461 * (y + 4716), 4) + (306 * (m + 1)) / 10 + d - 1524 - 2440588;
}

const std::int64_t GREGORIAN_START = GregorianDays(1582, 10, 15);

std::int64_t DayNumber(GridCalendar calendar, std::int64_t y, int m, int d) {
    switch (calendar) {
        case GridCalendar::Standard:
            if (y < 1582 || (y == 1582 && (m < 10 || (m == 10 && d < 15)))) return JulianDays(y, m, d);
            return GregorianDays(y, m, d);
        case GridCalendar::ProlepticGregorian:
            return GregorianDays(y, m, d);
        case GridCalendar::NoLeap:
            return y * 365 + CUMULATIVE[m - 1] + d - 1;
        case GridCalendar::AllLeap:
            return y * 366 + CUMULATIVE_LEAP[m - 1] + d - 1;
        case GridCalendar::Day360:
            return y * 360 + (m - 1) * 30 + d - 1;
    }
    return 0;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

Date DateOfDay(GridCalendar calendar, std::int64_t day) {
    if (calendar == GridCalendar::Standard || calendar == GridCalendar::ProlepticGregorian) return GregorianDate(day);
    const int length = calendar == GridCalendar::NoLeap ? 365 : calendar == GridCalendar::AllLeap ? 366 : 360;
    const std::int64_t year = FloorDiv(day, length);
    const int rest = static_cast<int>(day - year * length);
    if (calendar == GridCalendar::Day360) return {year, rest / 30 + 1, rest % 30 + 1};
    const auto& cumulative = calendar == GridCalendar::NoLeap ? CUMULATIVE : CUMULATIVE_LEAP;
    int month = 1;
    while (rest >= cumulative[month]) ++month;
    return {year, month, rest - cumulative[month - 1] + 1};
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Reads a whole number at the front of `text`; false when there is none.
bool TakeInteger(std::string_view& text, std::int64_t& value, std::size_t maxDigits) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits == 0 || digits > maxDigits) return false;
    std::from_chars(text.data(), text.data() + digits, value);
    text.remove_prefix(digits);
    return true;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

void SkipSpaces(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

// Within this many days of a later midnight, a time counts as that midnight
// (about 9 s): stamps stored as floats, or converted from hours, land a
// rounding away from the first of a month.
constexpr double SNAP_DAYS = 1e-4;
// Times are refused beyond this many days from the reference (some 2.7
// million years), so that every day number stays exact.
constexpr double MAX_DAYS = 1e9;

std::string DateText(const Date& date) {
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d", static_cast<long long>(date.Year), date.Month, date.Day);
    return text;
}

}  // namespace

GridCalendar ParseGridCalendar(std::string_view text) {
    const std::string lower = Lower(text);
    if (lower.empty() || lower == "standard" || lower == "gregorian") return GridCalendar::Standard;
    if (lower == "proleptic_gregorian") return GridCalendar::ProlepticGregorian;
    if (lower == "noleap" || lower == "365_day") return GridCalendar::NoLeap;
    if (lower == "all_leap" || lower == "366_day") return GridCalendar::AllLeap;
    if (lower == "360_day") return GridCalendar::Day360;
    throw KelmarError("the calendar \"" + std::string(text) + "\" is not read; the calendars read are standard "
                      "(gregorian), proleptic_gregorian, noleap (365_day), all_leap (366_day) and 360_day");
}

const char* GridCalendarName(GridCalendar calendar) {
    switch (calendar) {
        case GridCalendar::Standard: return "standard";
        case GridCalendar::ProlepticGregorian: return "proleptic_gregorian";
        case GridCalendar::NoLeap: return "noleap";
        case GridCalendar::AllLeap: return "all_leap";
        case GridCalendar::Day360: return "360_day";
    }
    return "";
}

int GridDaysInMonth(GridCalendar calendar, std::int64_t year, int month) {
    switch (calendar) {
        case GridCalendar::NoLeap: return CUMULATIVE[month] - CUMULATIVE[month - 1];
        case GridCalendar::AllLeap: return CUMULATIVE_LEAP[month] - CUMULATIVE_LEAP[month - 1];
        case GridCalendar::Day360: return 30;
        case GridCalendar::Standard:
        case GridCalendar::ProlepticGregorian: {
            const std::int64_t nextYear = month == 12 ? year + 1 : year;
            const int nextMonth = month == 12 ? 1 : month + 1;
            return static_cast<int>(DayNumber(calendar, nextYear, nextMonth, 1) - DayNumber(calendar, year, month, 1));
        }
    }
    return 30;
}

std::string GridMonthText(GridMonth month) {
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02d", static_cast<long long>(GridMonthYear(month)), GridMonthOfYear(month));
    return text;
}

GridTimeUnits ParseGridTimeUnits(std::string_view text) {
    const std::string shown(text);
    const auto fail = [&shown](const std::string& why) -> KelmarError {
        return KelmarError("its time units \"" + shown + "\" " + why +
                           " (time units are \"days|hours|minutes|seconds since YYYY-MM-DD[ hh:mm:ss]\")");
    };
    const std::string lower = Lower(text);
    std::string_view rest = lower;
    SkipSpaces(rest);
    std::size_t word = 0;
    while (word < rest.size() && std::isalpha(static_cast<unsigned char>(rest[word]))) ++word;
    const std::string unit(rest.substr(0, word));
    rest.remove_prefix(word);
    GridTimeUnits units;
    if (unit == "days" || unit == "day" || unit == "d") units.SecondsPerUnit = 86400;
    else if (unit == "hours" || unit == "hour" || unit == "hrs" || unit == "hr" || unit == "h") units.SecondsPerUnit = 3600;
    else if (unit == "minutes" || unit == "minute" || unit == "mins" || unit == "min") units.SecondsPerUnit = 60;
    else if (unit == "seconds" || unit == "second" || unit == "secs" || unit == "sec" || unit == "s") units.SecondsPerUnit = 1;
    else if (unit == "months" || unit == "month" || unit == "years" || unit == "year")
        throw fail("count " + unit + ", whose length varies; only days, hours, minutes or seconds are read");
    else throw fail("do not begin with days, hours, minutes or seconds");
    SkipSpaces(rest);
    if (rest.substr(0, 5) != "since") throw fail("lack \"since\"");
    rest.remove_prefix(5);
    SkipSpaces(rest);
    std::int64_t year = 0, month = 0, day = 0;
    if (!TakeInteger(rest, year, 4) || !TakeChar(rest, '-') || !TakeInteger(rest, month, 2) || !TakeChar(rest, '-') ||
        !TakeInteger(rest, day, 2))
        throw fail("have no date YYYY-MM-DD after \"since\"");
    if (month < 1 || month > 12 || day < 1 || day > 31) throw fail("have a date that does not exist");
    units.Year = year;
    units.Month = static_cast<int>(month);
    units.Day = static_cast<int>(day);
    if (!rest.empty() && (rest.front() == ' ' || rest.front() == 't')) {
        std::string_view time = rest.substr(1);
        SkipSpaces(time);
        std::int64_t hour = 0, minute = 0;
        if (TakeInteger(time, hour, 2) && TakeChar(time, ':') && TakeInteger(time, minute, 2)) {
            double second = 0;
            if (TakeChar(time, ':')) {
                std::size_t end = 0;
                while (end < time.size() && (std::isdigit(static_cast<unsigned char>(time[end])) || time[end] == '.')) ++end;
                const auto parsed = std::from_chars(time.data(), time.data() + end, second);
                if (end == 0 || parsed.ptr != time.data() + end || second >= 61) throw fail("have a time that does not exist");
                time.remove_prefix(end);
            }
            if (hour > 24 || minute > 59) throw fail("have a time that does not exist");
            units.Seconds = static_cast<double>(hour * 3600 + minute * 60) + second;
            rest = time;
        }
    }
    SkipSpaces(rest);
    // A zone: only UTC is read; another would shift stamps near a month's edge.
    for (const char* zone : {"z", "utc", "gmt", "+00:00", "+0000", "+00", "0", "00:00", "+0:00", "-00:00"})
        if (rest == zone) rest = "";
    if (!rest.empty()) throw fail("end in \"" + std::string(rest) + "\", not a date, a time or the zone UTC");
    const int days = GridDaysInMonth(GridCalendar::ProlepticGregorian, year, units.Month);
    if (units.Day > days && units.Day > 30) throw fail("have a date that does not exist");
    return units;
}

GridMonths CheckMonthlyAxis(GridCalendar calendar, const GridTimeUnits& units, const std::vector<double>& values,
                            const std::vector<double>& bounds) {
    if (values.empty()) throw KelmarError("its time axis has no steps");
    if (units.Day > GridDaysInMonth(calendar, units.Year, units.Month))
        throw KelmarError("its time units' reference date " + DateText({units.Year, units.Month, units.Day}) +
                          " does not exist in the " + GridCalendarName(calendar) + " calendar");
    const double reference = static_cast<double>(DayNumber(calendar, units.Year, units.Month, units.Day)) +
                             units.Seconds / 86400.0;
    const auto dayOf = [&](double value) { return reference + value * units.SecondsPerUnit / 86400.0; };
    const auto stepText = [&](std::size_t i, const std::string& date) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", values[i]);
        return "the time step " + std::to_string(i + 1) + " (time = " + number + (date.empty() ? "" : ", " + date) + ")";
    };
    // The month of an instant, and its date for messages.
    const auto monthAt = [&](std::size_t i, double value, Date& date) -> GridMonth {
        const double offset = value * units.SecondsPerUnit / 86400.0;
        if (!std::isfinite(value) || std::fabs(offset) > MAX_DAYS) throw KelmarError(stepText(i, "") + " is out of range");
        const auto day = static_cast<std::int64_t>(std::floor(dayOf(value) + SNAP_DAYS));
        date = DateOfDay(calendar, day);
        if (calendar == GridCalendar::Standard && day < GREGORIAN_START)
            throw KelmarError(stepText(i, DateText(date) + " Julian") +
                              " is before 1582-10-15, where the standard calendar is the Julian one; such months "
                              "are not read");
        return date.Year * 12 + date.Month - 1;
    };
    const bool withBounds = bounds.size() == 2 * values.size();
    GridMonths months;
    GridMonth previous = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        Date date{};
        GridMonth month = monthAt(i, values[i], date);
        if (withBounds) {
            const double lower = bounds[2 * i], upper = bounds[2 * i + 1];
            Date lowerDate{}, upperDate{}, middleDate{};
            const GridMonth middle = monthAt(i, (lower + upper) / 2, middleDate);
            const GridMonth first = monthAt(i, lower, lowerDate);
            // The upper bound is where the next step begins: taken just before it.
            const GridMonth last = monthAt(i, upper - 2 * SNAP_DAYS * 86400.0 / units.SecondsPerUnit, upperDate);
            if (!(upper > lower) || first != middle || last != middle)
                throw KelmarError(stepText(i, DateText(date)) + " has bounds that do not lie within one month");
            month = middle;
        }
        if (i == 0) {
            months.First = month;
        } else if (month == previous) {
            throw KelmarError(stepText(i, DateText(date)) + " falls in the month of the step before (" +
                              GridMonthText(month) + "): the steps are not monthly, or a month is given twice");
        } else if (month < previous) {
            throw KelmarError(stepText(i, DateText(date)) + " goes back from " + GridMonthText(previous) + " to " +
                              GridMonthText(month) + ": the months overlap or are out of order");
        } else if (month > previous + 1) {
            throw KelmarError(stepText(i, DateText(date)) + " leaves a gap: " + GridMonthText(previous + 1) +
                              (month - 1 > previous + 1 ? " to " + GridMonthText(month - 1) : "") + " missing");
        }
        previous = month;
    }
    if (previous - months.First + 1 > 1'000'000) throw KelmarError("its time axis is longer than a million months");
    months.Count = static_cast<int>(values.size());
    return months;
}

}  // namespace kelmar
