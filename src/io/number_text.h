// Strict conversion of the numbers in the data files. "." is the decimal
// separator whatever the user's locale. A text that does not convert raises
// KelmarError with the message the user sees, the offending text shown in
// UTF-8 with its control bytes escaped (ShownFileText); a text that looks
// like UTF-16 gets a line of advice after it.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelmar {

// Message formats of a failed conversion; "%s" is the offending text. The
// doubled quotes of the integer message are part of the system's own text.
inline constexpr const char* INVALID_REAL_MESSAGE = "'%s' is not a valid floating point value";
inline constexpr const char* INVALID_INTEGER_MESSAGE = "''%s'' is not a valid integer value";

// A real number: optional leading and trailing spaces, an optional sign,
// digits with an optional "." and fraction (one of the two parts may be
// empty), an optional exponent ("E" or "e", optional sign, digits). A value
// too large for a double does not convert; one too small for it gives 0.
double ParseReal(std::string_view text);

enum class IntegerForm {
    Decimal,       // digits only
    DecimalOrHex,  // also hexadecimal digits after "$" or "0x"
};

// A signed 32-bit integer: optional leading spaces, an optional sign, then
// the digits, with nothing after them.
std::int32_t ParseInteger(std::string_view text, IntegerForm form);

}  // namespace kelmar
