#include "app/random_streams.h"

#include "model/errors.h"

namespace kelmar::streams {

namespace {

constexpr std::uint64_t LCG32_MAX_SEED = 0xFFFFFFFFu;

}  // namespace

const char* ShortName(RandomKind kind) { return kind == RandomKind::Lcg32 ? "lcg32" : "pcg64"; }

std::optional<RandomKind> KindNamed(std::string_view name) {
    for (const RandomKind kind : {RandomKind::Lcg32, RandomKind::Pcg64})
        if (name == ShortName(kind)) return kind;
    return std::nullopt;
}

std::uint64_t StreamIndex(std::optional<std::uint64_t> place, std::uint64_t realizations, std::uint64_t replicate) {
    return (place ? *place * realizations : 0) + replicate;
}

std::uint64_t StreamSeed(RandomKind kind, std::uint64_t seed, std::uint64_t stream) {
    if (kind == RandomKind::Pcg64) return seed;
    return RandomSource::Jump(static_cast<std::uint32_t>(seed), stream * UNIFORMS_PER_RUN);
}

std::uint64_t StartStream(RandomSource& random, RandomKind kind, std::uint64_t seed, std::uint64_t stream) {
    CheckSeed(kind, seed);
    const std::uint64_t recorded = StreamSeed(kind, seed, stream);
    if (kind == RandomKind::Lcg32) {
        random.SetState(static_cast<std::uint32_t>(recorded));
    } else {
        random.SetPcg64(seed);
        random.Advance(stream * UNIFORMS_PER_RUN);
    }
    return recorded;
}

void CheckSeed(RandomKind kind, std::uint64_t seed) {
    if (kind == RandomKind::Lcg32 && seed > LCG32_MAX_SEED)
        throw BadValueError("The seed " + std::to_string(seed) + " does not fit lcg32's 32 bits.");
}

void CheckReplicates(RandomKind kind, std::uint64_t replicates) {
    if (kind == RandomKind::Lcg32 && replicates > LCG32_DISJOINT_STREAMS)
        throw KelmarError("lcg32 holds " + std::to_string(LCG32_DISJOINT_STREAMS) +
                          " replicates of 500 years apart within its period, not " + std::to_string(replicates) +
                          ": use --rng pcg64 for more.");
}

std::optional<std::string> RepeatingStreamsWarning(RandomKind kind, std::int64_t lastPlace,
                                                   std::uint64_t realizations) {
    if (kind != RandomKind::Lcg32 || lastPlace < 0) return std::nullopt;
    const std::uint64_t sites = static_cast<std::uint64_t>(lastPlace) + 1;
    if (sites * realizations <= LCG32_DISJOINT_STREAMS) return std::nullopt;
    const std::string held = "the random streams of the sites repeat: the generator's period holds " +
                             std::to_string(LCG32_DISJOINT_STREAMS) + " streams of " +
                             std::to_string(UNIFORMS_PER_RUN) + " draws, and the list places " +
                             std::to_string(sites) + " sites";
    if (realizations == 1)
        return held + "; sites " + std::to_string(LCG32_DISJOINT_STREAMS) + " places apart draw overlapping weather";
    return held + " of " + std::to_string(realizations) + " replicates; use --rng pcg64 for streams that do not overlap";
}

}  // namespace kelmar::streams
