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
        RandomState = RandomState * MULTIPLIER + INCREMENT;  // mod 2^32 by unsigned wrap-around
        return static_cast<double>(RandomState) * TWO_POW_MINUS_32;
    }

    // The state `steps` uniform draws after `state`, in O(log steps) time:
    // the composition of two affine steps x -> a x + c is again affine, so
    // the step is squared like a power (steps is taken modulo the period 2^32).
    static std::uint32_t Jump(std::uint32_t state, std::uint64_t steps);

    // mean + sd * (sum of 12 uniforms - 6): an approximately normal deviate.
    // Always consumes exactly 12 uniforms, whatever sd is.
    double NormalDeviate(double sd, double mean) {
        double sum = 0.0;
        for (int i = 0; i < 12; ++i) sum += UniformRandom();
        return (sum - 6.0) * sd + mean;
    }

    // The generator's constants: full period 2^32 (the multiplier is 1 mod 4
    // and the increment odd).
    static constexpr std::uint32_t MULTIPLIER = 134775813u;
    static constexpr std::uint32_t INCREMENT = 1u;

private:
    static constexpr double TWO_POW_MINUS_32 = 1.0 / 4294967296.0;
    std::uint32_t RandomState;
};

}  // namespace kelmar
