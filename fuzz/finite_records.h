// What every fuzzer checks after a read, accepted or refused: no value the
// reader stored is NaN or infinite.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "model/model_state.h"

namespace kelmar::fuzz {

inline void RequireFinite(double value, const char* what) {
    if (std::isfinite(value)) return;
    std::fprintf(stderr, "%s holds %g after a read\n", what, value);
    std::abort();
}

inline void RequireFinite(const MonthArray& values, const char* what) {
    for (double v : values) RequireFinite(v, what);
}

}  // namespace kelmar::fuzz
