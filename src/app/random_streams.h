// Where every run's random numbers come from: the generators by name, where
// the stream of each site and replicate starts, and the limits of the 32-bit
// generator. The batch, ensembles, kelmar-cli and the Python module all take
// their streams from here, so that one seed gives the same weather wherever
// it is used.
//
// A run of simulated weather draws from one stream of UNIFORMS_PER_RUN
// uniforms. Stream k of a seed starts k * UNIFORMS_PER_RUN draws after it,
// reached by a jump of the generator (O(log k) steps), never by drawing.
// In a batch with R realizations per site (R = 1 without replicates), site i
// of the list (from 0) takes streams i * R to i * R + R - 1, replicate r the
// r-th of them; a site with a seed of its own starts at stream 0 of that
// seed. Every scenario of a site takes the same streams (common random
// numbers). A lone run or an ensemble is site 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "numerics/random_source.h"

namespace kelmar::streams {

// Uniform draws of a 500-year simulated run: (500 years x 36 months' draws
// + the 2 of the start state) normal deviates of 12 uniforms each.
inline constexpr std::uint64_t UNIFORMS_PER_RUN = (500 * 36 + 2) * 12;  // 216,024
// Streams of lcg32 that do not overlap within its period 2^32.
inline constexpr std::uint64_t LCG32_DISJOINT_STREAMS = (std::uint64_t{1} << 32) / UNIFORMS_PER_RUN;  // 19,881

// The short names of the generators, as --rng, rng= and the batch manifest
// write them: "lcg32" and "pcg64".
const char* ShortName(RandomKind kind);
// The generator of a short name; nothing for another name.
std::optional<RandomKind> KindNamed(std::string_view name);

// The stream a task starts on: `place` is the site's place in its list, or
// nothing for a site with a seed of its own; `realizations` the streams each
// site takes (its replicates, at least 1); `replicate` from 0.
std::uint64_t StreamIndex(std::optional<std::uint64_t> place, std::uint64_t realizations, std::uint64_t replicate);

// What the results record as the seed of stream `stream` of `seed`: with
// lcg32 the 32-bit state the stream starts from (so `simulate --seed` with
// it repeats the run alone), with pcg64 the seed itself (its streams are
// reached by advancing).
std::uint64_t StreamSeed(RandomKind kind, std::uint64_t seed, std::uint64_t stream);

// Puts `random` at the start of stream `stream` of `seed` and gives
// StreamSeed. Raises KelmarError for an lcg32 seed beyond 32 bits.
std::uint64_t StartStream(RandomSource& random, RandomKind kind, std::uint64_t seed, std::uint64_t stream);

// Raises KelmarError when `seed` does not fit the generator (lcg32: 32 bits).
void CheckSeed(RandomKind kind, std::uint64_t seed);

// Raises KelmarError when one site's `replicates` would overlap within the
// generator's period (more than LCG32_DISJOINT_STREAMS with lcg32).
void CheckReplicates(RandomKind kind, std::uint64_t replicates);

// The warning for a list whose streams repeat: `lastPlace` is the place of
// the last site without a seed of its own (-1: none), `realizations` the
// streams each site takes. Nothing while every stream is disjoint.
std::optional<std::string> RepeatingStreamsWarning(RandomKind kind, std::int64_t lastPlace,
                                                   std::uint64_t realizations);

}  // namespace kelmar::streams
