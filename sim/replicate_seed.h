#pragma once
#include <cstdint>

// The generator's starting seed for replicate K of an experiment. Runs of this
// generator from seeds s and s + d stay correlated (a linear congruential
// generator shifts its whole sequence by a fixed offset), so replicates take
// seeds that a well-mixing 32-bit hash spreads over the whole range. The hash
// (xor-shift and multiply, three rounds: x ^= x >> 16; x *= 0x7feb352d;
// x ^= x >> 15; x *= 0x846ca68b; x ^= x >> 16) is a bijection with 0 -> 0, so
// replicate 0 is the program's own start and distinct replicates never share a seed.
std::uint32_t ReplicateSeed(std::uint32_t replicate);
