#include "numerics/clock_seed.h"

#include <chrono>

#include "numerics/random_source.h"

namespace kelmar {

std::uint32_t ClockSeed() {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ticks));
}

RandomSource::RandomSource() : RandomState(ClockSeed()) {}

}  // namespace kelmar
