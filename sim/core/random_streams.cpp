#include "sim/core/random_streams.h"

#include "sim/core/simulation.h"

std::uint32_t ReplicateSeed(std::uint32_t replicate)
{
    std::uint32_t reversed = 0;
    for (int bit = 0; bit < 32; ++bit) reversed |= ((replicate >> bit) & 1u) << (31 - bit);
    return RandomGenerator{}.JumpedAhead(reversed).seed;
}

std::uint32_t DrawsBetween(std::uint32_t from, std::uint32_t to)
{
    // Bit by bit from the lowest: the low k bits of a state repeat with period 2^k,
    // so bit k of the distance is settled once the low k bits agree. Jumping 2^k
    // draws, when that bit differs, never disturbs the bits below it.
    std::uint32_t multiplier = RandomGenerator::kMultiplier;
    std::uint32_t increment = RandomGenerator::kIncrement;
    std::uint32_t distance = 0;
    for (std::uint32_t bit = 1; from != to; bit <<= 1) {
        if ((from & bit) != (to & bit)) {
            from = from * multiplier + increment;
            distance |= bit;
        }
        increment = (multiplier + 1u) * increment;
        multiplier *= multiplier;
    }
    return distance;
}

bool StreamsOverlap(std::uint32_t startA, std::uint64_t drawsA, std::uint32_t startB, std::uint64_t drawsB)
{
    // A run that starts at s draws the states after s, s + 1 .. s + n draws on.
    if (drawsA == 0 || drawsB == 0) return false;
    if (drawsA >= (1ull << 32) || drawsB >= (1ull << 32)) return true;
    return DrawsBetween(startA, startB) < drawsA || DrawsBetween(startB, startA) < drawsB;
}

std::uint64_t DrawsSoFar(const Simulation& sim)
{
    return sim.run.drawCount.counted + DrawsBetween(sim.run.drawCount.countedTo, sim.random.seed);
}

void CountDraws(Simulation& sim)
{
    Run::DrawCount& count = sim.run.drawCount;
    count.counted += DrawsBetween(count.countedTo, sim.random.seed);
    count.countedTo = sim.random.seed;
}
