// The uniform and normal random source of the weather generator.
#pragma once

#include <cstdint>

namespace kelmar {

class RandomSource {
public:
    // Seeds the state from a high-resolution clock, so that every program
    // start generates a different weather sequence.
    RandomSource();
    explicit RandomSource(std::uint32_t state) : RandomState(state) {}

    std::uint32_t State() const { return RandomState; }
    // Lets a caller reproduce a run by fixing the state.
    void SetState(std::uint32_t state) { RandomState = state; }

    // 32-bit linear congruential step; the new state times 2^-32, in [0, 1).
    double UniformRandom() {
        RandomState = RandomState * 134775813u + 1u;  // mod 2^32 by unsigned wrap-around
        return static_cast<double>(RandomState) * TWO_POW_MINUS_32;
    }

    // mean + sd * (sum of 12 uniforms - 6): an approximately normal deviate.
    // Always consumes exactly 12 uniforms, whatever sd is.
    double NormalDeviate(double sd, double mean) {
        double sum = 0.0;
        for (int i = 0; i < 12; ++i) sum += UniformRandom();
        return (sum - 6.0) * sd + mean;
    }

private:
    static constexpr double TWO_POW_MINUS_32 = 1.0 / 4294967296.0;
    std::uint32_t RandomState;
};

}  // namespace kelmar
