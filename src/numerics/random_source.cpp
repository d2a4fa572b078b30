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

const char* RandomKindName(RandomKind kind) {
    // The version of pcg64 is that of the Debian package it is built from
    // (libpcg-cpp-dev 0.98.1 in Debian 12); its output sequence is fixed by
    // the PCG definition, not by the package.
    return kind == RandomKind::Lcg32 ? "lcg32 (x * 134775813 + 1 mod 2^32, KELMAR 1)"
                                     : "pcg64 (PCG XSL RR 128/64, pcg-cpp 0.98.1)";
}

std::uint32_t RandomSource::Jump(std::uint32_t state, std::uint64_t steps) {
    // (stepA, stepC) is the affine map of 2^bit steps; (a, c) that of the
    // steps taken so far. All arithmetic is mod 2^32 by unsigned wrap-around.
    std::uint32_t a = 1, c = 0;
    std::uint32_t stepA = MULTIPLIER, stepC = INCREMENT;
    for (; steps != 0; steps >>= 1) {
        if (steps & 1) {
            a = a * stepA;
            c = c * stepA + stepC;
        }
        stepC = stepC * stepA + stepC;
        stepA = stepA * stepA;
    }
    return a * state + c;
}

}  // namespace kelmar
