// The clock that seeds the random source once per program start.
#pragma once

#include <cstdint>

namespace kelmar {

// Low 32 bits of the highest-resolution monotonic clock available.
std::uint32_t ClockSeed();

}  // namespace kelmar
