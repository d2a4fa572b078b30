// The units, calendars and time axes of gridded monthly climate, against
// months worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/grid_time.h"
#include "io/grid_units.h"
#include "model/errors.h"

namespace kelmar {
namespace {

struct UnitCase {
    GridQuantity Quantity;
    const char* Unit;
    const char* StandardName;
    double Value;
    int Days;
    double Expected;
};

TEST(GridUnits, ConvertToDegreesCelsiusAndMillimetresPerMonth) {
    const auto T = GridQuantity::Temperature, P = GridQuantity::Precipitation;
    const UnitCase cases[] = {
        {T, "K", "", 283.15, 31, 10.0},
        {T, "degK", "", 273.15, 31, 0.0},
        {T, "Kelvin", "", 173.15, 31, -100.0},
        {T, "degC", "", 12.5, 31, 12.5},
        {T, "Celsius", "", -3, 31, -3},
        {T, "degree_Celsius", "", 7, 31, 7},
        {T, "deg_C", "", 7, 31, 7},
        // A flux: February of a noleap year has 28 days of 86,400 s; 1 kg m-2 is 1 mm.
        {P, "kg m-2 s-1", "precipitation_flux", 1, 28, 28 * 86400.0},
        {P, "kg/m2/s", "", 1e-5, 31, 1e-5 * 31 * 86400},
        {P, "kg m**-2 s**-1", "", 2e-5, 30, 2e-5 * 30 * 86400},
        {P, "kg m^-2 s^-1", "", 2e-5, 29, 2e-5 * 29 * 86400},
        {P, "mm/day", "", 2, 31, 62},
        {P, "mm d-1", "", 2, 28, 56},
        {P, "mm day-1", "", 2, 29, 58},
        // The reanalysis' monthly mean of daily totals in metres; a 360_day month has 30 days.
        {P, "m/day", "", 0.002, 30, 60},
        {P, "m d-1", "lwe_thickness_of_precipitation_amount", 0.001, 31, 31},
        {P, "mm/month", "", 80, 31, 80},
        {P, "m/month", "", 0.08, 28, 80},
        {P, "kg m-2", "precipitation_amount", 70, 31, 70},
    };
    for (const UnitCase& c : cases) {
        const GridUnit unit = ParseGridUnit(c.Quantity, c.Unit, c.StandardName);
        const double got = unit.Convert(c.Value, c.Days);
        EXPECT_NEAR(got, c.Expected, 1e-9 * std::max(1.0, std::fabs(c.Expected)))
            << c.Value << " " << c.Unit << " in a month of " << c.Days << " days";
    }
}

TEST(GridUnits, RefuseUnknownAndAmbiguousUnits) {
    const struct {
        GridQuantity Quantity;
        const char* Unit;
        const char* StandardName;
        const char* Said;
    } cases[] = {
        {GridQuantity::Precipitation, "m", "lwe_thickness_of_precipitation_amount", "ambiguous"},
        {GridQuantity::Precipitation, "mm", "precipitation_amount", "ambiguous"},
        {GridQuantity::Precipitation, "kg m-2", "", "ambiguous"},
        {GridQuantity::Precipitation, "furlongs", "", "not a precipitation unit"},
        {GridQuantity::Precipitation, "kg m-2 s-2", "", "not a precipitation unit"},
        {GridQuantity::Precipitation, "", "", "no unit"},
        {GridQuantity::Temperature, "degF", "", "not a temperature unit"},
        {GridQuantity::Temperature, "1", "", "not a temperature unit"},
    };
    for (const auto& c : cases) {
        try {
            ParseGridUnit(c.Quantity, c.Unit, c.StandardName);
            ADD_FAILURE() << "\"" << c.Unit << "\" was taken";
        } catch (const KelmarError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Said), std::string::npos) << c.Unit << ": " << e.what();
        }
    }
}

TEST(GridUnits, AbsurdValues) {
    EXPECT_FALSE(AbsurdGridValue(GridQuantity::Temperature, 59.9));
    EXPECT_TRUE(AbsurdGridValue(GridQuantity::Temperature, 60.1));
    EXPECT_TRUE(AbsurdGridValue(GridQuantity::Temperature, -90.1));
    EXPECT_FALSE(AbsurdGridValue(GridQuantity::Precipitation, 0));
    EXPECT_TRUE(AbsurdGridValue(GridQuantity::Precipitation, -0.01));
    EXPECT_TRUE(AbsurdGridValue(GridQuantity::Precipitation, 10000.5));
}

TEST(GridCalendars, DaysOfMonths) {
    const struct {
        const char* Calendar;
        int Year, Month, Days;
    } cases[] = {
        {"standard", 2000, 2, 29}, {"gregorian", 1900, 2, 28}, {"proleptic_gregorian", 1600, 2, 29},
        {"noleap", 2000, 2, 28},   {"365_day", 2001, 12, 31},  {"all_leap", 1901, 2, 29},
        {"366_day", 1901, 4, 30},  {"360_day", 2001, 2, 30},   {"360_day", 2001, 7, 30},
        {"STANDARD", 2001, 1, 31}, {"", 1999, 2, 28},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GridDaysInMonth(ParseGridCalendar(c.Calendar), c.Year, c.Month), c.Days)
            << c.Calendar << " " << c.Year << "-" << c.Month;
    for (const char* refused : {"julian", "none", "365"})
        EXPECT_THROW(ParseGridCalendar(refused), KelmarError) << refused;
}

struct AxisCase {
    const char* Name;
    const char* Calendar;
    const char* Units;
    std::vector<double> Values;
    std::vector<double> Bounds;
    GridMonth First;  // year * 12 + month - 1
    int Count;
};

TEST(GridTimeAxis, MonthsOfGoodAxes) {
    const AxisCase cases[] = {
        {"mid-month days, noleap", "noleap", "days since 1850-01-01 00:00:00", {15.5, 45, 74.5}, {}, 1850 * 12, 3},
        {"month starts in hours", "standard", "hours since 1900-01-01", {0, 744, 1416}, {}, 1900 * 12, 3},
        {"with bounds, month-start stamps", "proleptic_gregorian", "days since 2000-01-01",
         {0, 31}, {0, 31, 31, 60}, 2000 * 12, 2},
        {"360_day", "360_day", "days since 2001-01-01", {15, 45, 75, 105}, {}, 2001 * 12, 4},
        {"all_leap February", "all_leap", "days since 2001-02-01", {14, 43}, {}, 2001 * 12 + 1, 2},
        // A stamp a few seconds short of midnight (a float) still counts as the first of the month.
        {"float rounding before month start", "standard", "days since 1970-01-01", {-0.00001, 30.99999}, {},
         1970 * 12, 2},
        // From a reference in the Julian part of the standard calendar: 2000-01-15 is day 730,135.
        {"Julian reference", "standard", "days since 0001-01-01 00:00:00", {730135, 730166}, {}, 2000 * 12, 2},
        {"seconds with a zone", "standard", "seconds since 1970-01-01T00:00:00Z", {1296000}, {}, 1970 * 12, 1},
    };
    for (const AxisCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const GridMonths months =
            CheckMonthlyAxis(ParseGridCalendar(c.Calendar), ParseGridTimeUnits(c.Units), c.Values, c.Bounds);
        EXPECT_EQ(GridMonthText(months.First), GridMonthText(c.First));
        EXPECT_EQ(months.Count, c.Count);
    }
}

TEST(GridTimeAxis, RefusesAxesThatAreNotConsecutiveMonths) {
    const struct {
        const char* Name;
        const char* Calendar;
        std::vector<double> Values;
        std::vector<double> Bounds;
        const char* Said;
    } cases[] = {
        {"gap", "noleap", {15, 45, 105}, {}, "the time step 3 (time = 105, 1850-04-16) leaves a gap: 1850-03 missing"},
        {"daily steps", "noleap", {0, 1, 2}, {}, "the time step 2 (time = 1, 1850-01-02) falls in the month of the step before"},
        {"overlap", "noleap", {15, 45, 74.5, 50}, {}, "the time step 4 (time = 50, 1850-02-20) goes back from 1850-03 to 1850-02"},
        {"back", "noleap", {45, 15}, {}, "goes back from 1850-02 to 1850-01"},
        {"bounds over two months", "noleap", {15, 45}, {0, 40, 40, 59}, "the time step 1 (time = 15, 1850-01-16) has bounds"},
        {"empty", "noleap", {}, {}, "no steps"},
        {"not finite", "noleap", {15, NAN}, {}, "the time step 2 (time = nan) is out of range"},
        {"huge", "noleap", {15, 1e300}, {}, "out of range"},
        {"Julian months", "standard", {15}, {}, "before 1582-10-15"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const char* units = std::string(c.Name) == "Julian months" ? "days since 1500-01-01" : "days since 1850-01-01";
        try {
            CheckMonthlyAxis(ParseGridCalendar(c.Calendar), ParseGridTimeUnits(units), c.Values, c.Bounds);
            ADD_FAILURE() << "taken";
        } catch (const KelmarError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Said), std::string::npos) << e.what();
        }
    }
}

TEST(GridTimeAxis, TimeUnits) {
    const GridTimeUnits units = ParseGridTimeUnits("hours since 1900-01-01 06:30:00");
    EXPECT_EQ(units.SecondsPerUnit, 3600);
    EXPECT_EQ(units.Year, 1900);
    EXPECT_EQ(units.Seconds, 6 * 3600 + 30 * 60);
    EXPECT_EQ(ParseGridTimeUnits("days since 1850-1-1").Day, 1);
    EXPECT_EQ(ParseGridTimeUnits("minutes since 2000-01-01 00:00:0.0 UTC").SecondsPerUnit, 60);
    for (const char* refused : {"months since 1850-01-01", "days after 1850-01-01", "days since 1850-13-01",
                                "days since yesterday", "days since 1850-01-01 +05:00", "", "since 1850-01-01"})
        EXPECT_THROW(ParseGridTimeUnits(refused), KelmarError) << refused;
}

}  // namespace
}  // namespace kelmar
