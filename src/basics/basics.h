// The few definitions every layer shares: the marker of a missing value, the
// monthly array and the capacity of every year-indexed store. Nothing here
// includes anything of the project, so every layer may include it.
#pragma once

#include <array>

namespace kelmar {

// Capacity of every year-indexed store: the longest run, in years.
inline constexpr int MAX_YEARS = 500;

// Marks a value that is not available. A value counts as present only when it
// is strictly greater than PRESENT_LIMIT, so -90.0 itself is missing.
inline constexpr double MISSING_VALUE = -99.9;
inline constexpr double PRESENT_LIMIT = -90.0;

inline bool IsPresent(double value) { return value > PRESENT_LIMIT; }

// Monthly values indexed by month 1..12 (January = 1); slot 0 = the December
// before January where an array uses it.
using MonthArray = std::array<double, 13>;

}  // namespace kelmar
