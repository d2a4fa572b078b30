// The uniform and normal random source of the weather generator.
#pragma once

#include <cstdint>

#include <pcg_random.hpp>

namespace kelmar {

// The generators a run may draw from. Lcg32 is the weather generator's own
// and the default: every seed keeps its results. Pcg64 (PCG XSL RR 128/64
// of Debian's libpcg-cpp-dev, period 2^128) is for ensembles larger than
// the 19,881 non-overlapping 500-year streams that the 32-bit period holds.
enum class RandomKind : std::uint8_t { Lcg32, Pcg64 };

// The generator's name and version as written with results, so that a
// stored run can be repeated.
const char* RandomKindName(RandomKind kind);

class RandomSource {
public:
    // Seeds the state from a high-resolution clock, so that every program
    // start generates a different weather sequence.
    RandomSource();
    explicit RandomSource(std::uint32_t state) : RandomState(state) {}

    // The 32-bit state (of Lcg32).
    std::uint32_t State() const { return RandomState; }
    RandomKind Kind() const { return Generator; }
    // Lets a caller reproduce a run by fixing the state; draws from Lcg32.
    void SetState(std::uint32_t state) {
        Generator = RandomKind::Lcg32;
        RandomState = state;
    }
    // Draws from Pcg64 started from `seed` (its default stream).
    void SetPcg64(std::uint64_t seed) {
        Generator = RandomKind::Pcg64;
        Pcg = pcg64(seed);
    }
    // Moves `draws` uniforms ahead in O(log draws) time, whichever generator.
    void Advance(std::uint64_t draws) {
        if (Generator == RandomKind::Lcg32)
            RandomState = Jump(RandomState, draws);
        else
            Pcg.advance(draws);
    }

    // Lcg32: the 32-bit linear congruential step, the new state times 2^-32.
    // Pcg64: the upper 53 bits of the next output times 2^-53. In [0, 1).
    double UniformRandom() { return Generator == RandomKind::Lcg32 ? LcgUniform() : PcgUniform(); }

    // The state `steps` uniform draws after `state`, in O(log steps) time:
    // the composition of two affine steps x -> a x + c is again affine, so
    // the step is squared like a power (steps is taken modulo the period 2^32).
    static std::uint32_t Jump(std::uint32_t state, std::uint64_t steps);

    // mean + sd * (sum of 12 uniforms - 6): an approximately normal deviate.
    // Always consumes exactly 12 uniforms, whatever sd is.
    double NormalDeviate(double sd, double mean) {
        double sum = 0.0;
        // One test of the generator per deviate, not per uniform.
        if (Generator == RandomKind::Lcg32)
            for (int i = 0; i < 12; ++i) sum += LcgUniform();
        else
            for (int i = 0; i < 12; ++i) sum += PcgUniform();
        return (sum - 6.0) * sd + mean;
    }

    // The generator's constants: full period 2^32 (the multiplier is 1 mod 4
    // and the increment odd).
    static constexpr std::uint32_t MULTIPLIER = 134775813u;
    static constexpr std::uint32_t INCREMENT = 1u;

private:
    double LcgUniform() {
        RandomState = RandomState * MULTIPLIER + INCREMENT;  // mod 2^32 by unsigned wrap-around
        return static_cast<double>(RandomState) * TWO_POW_MINUS_32;
    }
    double PcgUniform() { return static_cast<double>(Pcg() >> 11) * TWO_POW_MINUS_53; }

    static constexpr double TWO_POW_MINUS_32 = 1.0 / 4294967296.0;
    static constexpr double TWO_POW_MINUS_53 = 1.0 / 9007199254740992.0;
    std::uint32_t RandomState;
    RandomKind Generator = RandomKind::Lcg32;
    pcg64 Pcg;
};

}  // namespace kelmar
