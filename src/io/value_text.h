// Numbers as the grids show them and as the results file writes them.
// Every conversion uses "." as the decimal separator, whatever the locale.
#pragma once

#include <string>
#include <string_view>

namespace kelmar {

// Fixed point with exactly `decimals` digits after ".", rounded to nearest
// with an exact half rounded away from zero (0.125 -> "0.13" with two
// decimals). Negative values keep their "-" also when they round to zero
// (-0.04 -> "-0.0"); zero itself, of either sign, has none.
std::string FormatFixed(double value, int decimals);

// FormatFixed, filled with spaces on the left to `width` characters; a longer
// text is kept whole.
std::string FormatFixedWidth(double value, int width, int decimals);

// An integer filled with spaces on the left to `width` characters.
std::string FormatIntWidth(long long value, int width);

// The text of a grid cell: two decimals ("12.50", "-99.90", "0.00").
std::string FormatValue(double value);

// A grid cell's text as a number: optional leading blanks, optional sign,
// digits with an optional "." and fraction (either part may be empty, not
// both), optional exponent; the number must end the text. Anything else,
// empty text and values beyond the range of a double give 0.
double ParseValueLenient(std::string_view text);

}  // namespace kelmar
