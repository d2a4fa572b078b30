#include "numerics/random_source.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kelmar {
namespace {

constexpr double TWO_POW_32 = 4294967296.0;

TEST(RandomSource, UniformFromZeroStateIsTwoToMinus32) {
    RandomSource random(0);
    EXPECT_EQ(random.UniformRandom(), 1.0 / TWO_POW_32);
    EXPECT_EQ(random.State(), 1u);
}

TEST(RandomSource, PinnedUniformSequence) {
    RandomSource random(12345);
    const std::uint32_t expectedStates[] = {1655067934u, 1242767767u, 342459380u, 2377737157u,
                                            2721613530u};
    for (std::uint32_t state : expectedStates) {
        const double u = random.UniformRandom();
        EXPECT_EQ(random.State(), state);
        EXPECT_EQ(u, state / TWO_POW_32);
        EXPECT_GE(u, 0.0);
        EXPECT_LT(u, 1.0);
    }
}

TEST(RandomSource, NormalDeviateConsumesTwelveUniforms) {
    RandomSource random(12345);
    EXPECT_DOUBLE_EQ(random.NormalDeviate(2.5, 10), 7.632919248426333);
    EXPECT_EQ(random.State(), 1376306845u);

    // A zero deviation returns the mean exactly and still advances 12 steps.
    RandomSource zeroSd(12345);
    EXPECT_EQ(zeroSd.NormalDeviate(0, 3.25), 3.25);
    EXPECT_EQ(zeroSd.State(), 1376306845u);
}

TEST(RandomSource, StateWrapsModulo2To32) {
    RandomSource random(0xFFFFFFFFu);
    random.UniformRandom();
    EXPECT_EQ(random.State(), static_cast<std::uint32_t>(0xFFFFFFFFull * 134775813ull + 1ull));
}

// The batch gives each site the state a jump ahead of the base: it must be
// the state that many single steps reach, for any count.
TEST(RandomSource, JumpEqualsSteppingOneDrawAtATime) {
    const std::uint64_t counts[] = {0, 1, 2, 3, 7, 64, 1000, 216024, 3 * 216024 + 5};
    for (const std::uint32_t start : {0u, 12345u, 0xFFFFFFFFu}) {
        for (const std::uint64_t k : counts) {
            RandomSource stepped(start);
            for (std::uint64_t i = 0; i < k; ++i) stepped.UniformRandom();
            EXPECT_EQ(RandomSource::Jump(start, k), stepped.State()) << "state " << start << ", " << k << " steps";
        }
    }
}

TEST(RandomSource, JumpWrapsAtThePeriod) {
    constexpr std::uint64_t PERIOD = std::uint64_t{1} << 32;
    EXPECT_EQ(RandomSource::Jump(777u, PERIOD), 777u);
    EXPECT_EQ(RandomSource::Jump(777u, PERIOD + 3), RandomSource::Jump(777u, 3));
    RandomSource oneShort(RandomSource::Jump(777u, PERIOD - 1));
    oneShort.UniformRandom();
    EXPECT_EQ(oneShort.State(), 777u);
}

}  // namespace
}  // namespace kelmar

namespace kelmar {
namespace {

// The 64-bit generator: its jump equals as many draws, and a fixed seed
// gives fixed numbers (the sequence is defined by PCG, so a stored
// ensemble repeats).
TEST(RandomSourcePcg64, JumpEqualsDrawsAndTheSequenceIsFixed) {
    for (const std::uint64_t steps : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{216024}}) {
        RandomSource drawn(0), jumped(0);
        drawn.SetPcg64(42);
        jumped.SetPcg64(42);
        for (std::uint64_t i = 0; i < steps; ++i) drawn.UniformRandom();
        jumped.Advance(steps);
        EXPECT_EQ(drawn.UniformRandom(), jumped.UniformRandom()) << steps << " steps";
    }
    RandomSource fixed(0);
    fixed.SetPcg64(42);
    // The first output of PCG XSL RR 128/64 seeded 42 is 2915081201720324186.
    EXPECT_EQ(fixed.UniformRandom(), static_cast<double>(2915081201720324186u >> 11) / 9007199254740992.0);
    RandomSource a(0), b(0);
    a.SetPcg64(7);
    b.SetPcg64(8);
    const double first = a.UniformRandom();
    EXPECT_NE(first, b.UniformRandom()) << "two seeds gave one sequence";
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 1.0);
    // The 32-bit jump moves a 32-bit source the same way.
    RandomSource lcg(99), lcgJumped(99);
    for (int i = 0; i < 1000; ++i) lcg.UniformRandom();
    lcgJumped.Advance(1000);
    EXPECT_EQ(lcg.State(), lcgJumped.State());
}

}  // namespace
}  // namespace kelmar
