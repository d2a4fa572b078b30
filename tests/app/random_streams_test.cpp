#include "app/random_streams.h"

#include <gtest/gtest.h>

#include <optional>

#include "model/errors.h"

namespace kelmar::streams {
namespace {

// Where a task's stream starts and what its results record as the seed.
TEST(RandomStreams, EachTaskStartsOnItsOwnStream) {
    const struct {
        std::optional<std::uint64_t> place;  // nothing: the site has a seed of its own
        std::uint64_t realizations, replicate, stream;
    } cases[] = {
        {0, 1, 0, 0},        // a lone run, replicate 0 of an ensemble
        {std::nullopt, 4, 3, 3},  // own seed: its replicates from stream 0 of that seed
        {2, 1, 0, 2},        // site 2 of a list without replicates
        {3, 47, 5, 146},     // site 3 of 47 replicates each: after the 141 streams of sites 0..2
    };
    for (const auto& c : cases) {
        const std::uint64_t stream = StreamIndex(c.place, c.realizations, c.replicate);
        EXPECT_EQ(stream, c.stream) << "place " << c.place.value_or(99) << ", " << c.realizations
                                    << " realizations, replicate " << c.replicate;
        // lcg32 records the state the stream starts from, and starts there.
        RandomSource random(0);
        const std::uint64_t seed = StartStream(random, RandomKind::Lcg32, 2024, stream);
        EXPECT_EQ(seed, RandomSource::Jump(2024, stream * UNIFORMS_PER_RUN)) << "stream " << stream;
        EXPECT_EQ(random.State(), seed);
        // pcg64 records its seed; the stream is reached by advancing.
        EXPECT_EQ(StartStream(random, RandomKind::Pcg64, 2024, stream), 2024u);
        EXPECT_EQ(random.Kind(), RandomKind::Pcg64);
    }
}

TEST(RandomStreams, LimitsOfTheThirtyTwoBitGenerator) {
    EXPECT_NO_THROW(CheckSeed(RandomKind::Lcg32, 0xFFFFFFFFu));
    EXPECT_THROW(CheckSeed(RandomKind::Lcg32, 0x100000000u), KelmarError);
    EXPECT_NO_THROW(CheckSeed(RandomKind::Pcg64, 0x100000000u));
    EXPECT_NO_THROW(CheckReplicates(RandomKind::Lcg32, LCG32_DISJOINT_STREAMS));
    EXPECT_THROW(CheckReplicates(RandomKind::Lcg32, LCG32_DISJOINT_STREAMS + 1), KelmarError);
    EXPECT_NO_THROW(CheckReplicates(RandomKind::Pcg64, LCG32_DISJOINT_STREAMS + 1));
    // The disjoint streams are those whole ones that fit the period 2^32.
    EXPECT_LE(LCG32_DISJOINT_STREAMS * UNIFORMS_PER_RUN, std::uint64_t{1} << 32);
    EXPECT_GT((LCG32_DISJOINT_STREAMS + 1) * UNIFORMS_PER_RUN, std::uint64_t{1} << 32);

    const struct {
        RandomKind kind;
        std::int64_t lastPlace;
        std::uint64_t realizations;
        bool warned;
    } cases[] = {
        {RandomKind::Lcg32, -1, 1, false},  // every site has a seed of its own
        {RandomKind::Lcg32, LCG32_DISJOINT_STREAMS - 1, 1, false},
        {RandomKind::Lcg32, LCG32_DISJOINT_STREAMS, 1, true},
        {RandomKind::Lcg32, LCG32_DISJOINT_STREAMS / 2 - 1, 2, false},
        {RandomKind::Lcg32, LCG32_DISJOINT_STREAMS / 2, 2, true},
        {RandomKind::Pcg64, 1'000'000'000, 1000, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RepeatingStreamsWarning(c.kind, c.lastPlace, c.realizations).has_value(), c.warned)
            << ShortName(c.kind) << ", last place " << c.lastPlace << ", " << c.realizations << " realizations";
    for (const RandomKind kind : {RandomKind::Lcg32, RandomKind::Pcg64}) EXPECT_EQ(KindNamed(ShortName(kind)), kind);
    EXPECT_EQ(KindNamed("mt19937"), std::nullopt);
}

}  // namespace
}  // namespace kelmar::streams
