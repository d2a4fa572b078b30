#include "numerics/random_source.h"

#include <chrono>

namespace kelmar {

namespace {

// Low 32 bits of the highest-resolution monotonic clock available.
std::uint32_t ClockSeed() {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ticks));
}

}  // namespace

RandomSource::RandomSource() : RandomState(ClockSeed()) {}

}  // namespace kelmar
