// The units of gridded monthly climate, read from a variable's "units" (or
// given by the user) and turned into the record's: degrees Celsius for
// temperatures, millimetres per month for precipitation.
//
// The table is written here by hand rather than taken from a general unit
// library: a rate per second or per day becomes a monthly total only with
// the days of that month in the file's calendar (28 to 31, or always 30 in
// a 360-day calendar), which such libraries, taking a month as a fixed
// length, get wrong.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelmar {

enum class GridQuantity { Temperature, Precipitation };

// value in the record = value in the file * Factor (* days of the month when
// PerDay) + Offset.
struct GridUnit {
    double Factor = 1.0;
    double Offset = 0.0;
    bool PerDay = false;  // a rate: multiplied by the days of its month
    std::string Name;     // as read, for messages

    double Convert(double value, int daysInMonth) const {
        return value * Factor * (PerDay ? daysInMonth : 1) + Offset;
    }
};

// The unit `text` of a quantity. `standardName` is the variable's CF
// standard_name: "kg m-2" is the month's amount only for
// precipitation_amount. Raises KelmarError saying why the unit is unknown
// or ambiguous (a plain length "mm" or "m": a month's total, or a monthly
// mean of daily totals?), without naming the file: the caller adds it.
GridUnit ParseGridUnit(GridQuantity quantity, std::string_view text, std::string_view standardName);

// The units a user may give with --units, for messages.
const char* GridUnitChoices(GridQuantity quantity);

// Why a converted monthly value cannot be a monthly mean temperature (degC)
// or a monthly total of precipitation (mm), or nothing when it can be.
std::optional<std::string> AbsurdGridValue(GridQuantity quantity, double value);

// Monthly mean air or soil temperature beyond these (degC) is a wrong unit
// or a broken file: the coldest monthly means measured are near -75 degC
// (inland Antarctica), the warmest near 40 degC.
inline constexpr double GRID_TEMPERATURE_MIN = -90.0;
inline constexpr double GRID_TEMPERATURE_MAX = 60.0;
// Above the wettest months recorded (about 9,300 mm, Cherrapunji, July 1861).
inline constexpr double GRID_PRECIPITATION_MAX = 10000.0;
// Negative precipitation down to this (mm per month) is taken as rounding
// (of a float, or of regridding) and read as 0; a packed variable allows
// one packing step more (ClimateGrid). A tenth of a millimetre is below what
// a rain gauge records.
inline constexpr double GRID_PRECIPITATION_ROUNDING = 0.1;

}  // namespace kelmar
