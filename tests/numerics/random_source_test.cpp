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

}  // namespace
}  // namespace kelmar
