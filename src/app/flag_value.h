// The one rule for a site's flags and codes (Saturat, Permafr, Fortype) set
// from outside a site file (a column of a batch's site list, a Python
// setter): what a site file stores for them, a whole number from 0 to 255.
// A site file's own reader keeps the low eight bits of any integer, as the
// files written so far expect; set anywhere else, a value that would wrap is
// refused.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/errors.h"

namespace kelmar {

// `number` as the flag `key`'s stored value; raises KelmarError naming the
// allowed values and `shown` (the value as the user wrote it) otherwise.
inline std::uint8_t FlagValue(double number, std::string_view key, std::string_view shown) {
    if (!(number >= 0 && number <= 255 && number == std::floor(number)))  // NaN too
        throw BadValueError(std::string(key) + " takes a whole number from 0 to 255, not " + std::string(shown) + ".");
    return static_cast<std::uint8_t>(number);
}

}  // namespace kelmar
