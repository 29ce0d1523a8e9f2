#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <vector>

#include "sim/core/program_start.h"
#include "sim/core/random_streams.h"
#include "sim/core/simulation.h"
#include "sim/core/time_step.h"

TEST(RandomStreams, ReplicatesStartBitReversedDrawsFromZero)
{
    // Stepping the generator from 0 by brute force (a one-off C loop): after 2^30
    // draws the state is 0xC0000000, after 2^31 0x80000000, after 3 * 2^30 0x40000000.
    EXPECT_EQ(ReplicateSeed(0), 0u);
    EXPECT_EQ(ReplicateSeed(1), 0x80000000u);  // bitreverse32(1) = 2^31
    EXPECT_EQ(ReplicateSeed(2), 0xC0000000u);  // bitreverse32(2) = 2^30
    EXPECT_EQ(ReplicateSeed(3), 0x40000000u);  // bitreverse32(3) = 3 * 2^30

    // The first 64 replicates are 2^26 draws apart, the first 128 at least 2^25.
    for (const std::uint32_t count : {64u, 128u}) {
        std::vector<std::uint32_t> positions;
        for (std::uint32_t k = 0; k < count; ++k) positions.push_back(DrawsBetween(0, ReplicateSeed(k)));
        std::sort(positions.begin(), positions.end());
        std::uint64_t smallest = (1ull << 32) - positions.back() + positions.front();
        for (std::size_t i = 1; i < positions.size(); ++i) smallest = std::min<std::uint64_t>(smallest, positions[i] - positions[i - 1]);
        EXPECT_EQ(smallest, (1ull << 32) / count);
    }
    // Any N: the first N start 2^32 / M draws apart at the least, M being N rounded
    // up to a power of two, so runs of at most that many draws share no number, and
    // one more draw reaches the next replicate's stream (--help states this).
    for (const std::uint32_t count : {2u, 3u, 5u, 33u, 63u, 65u, 100u, 129u}) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> starts;  // (draws from state 0, the state)
        for (std::uint32_t k = 0; k < count; ++k) starts.emplace_back(DrawsBetween(0, ReplicateSeed(k)), ReplicateSeed(k));
        std::sort(starts.begin(), starts.end());
        starts.push_back(starts.front());  // the cycle closes
        std::uint64_t smallest = ~0ull;
        std::size_t at = 0;
        for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
            const std::uint64_t apart = DrawsBetween(starts[i].second, starts[i + 1].second);
            if (apart < smallest) smallest = apart, at = i;
        }
        const std::uint32_t first = starts[at].second, next = starts[at + 1].second;
        const std::uint64_t gap = (1ull << 32) / std::bit_ceil(count);
        EXPECT_EQ(smallest, gap) << count;
        EXPECT_GE(gap, (1ull << 32) / (2ull * count)) << count;
        EXPECT_FALSE(StreamsOverlap(first, gap, next, gap)) << count;
        EXPECT_TRUE(StreamsOverlap(first, gap + 1, next, gap)) << count;
    }
}

TEST(RandomStreams, DistanceAgreesWithSteppingAndOverlapFollowsIt)
{
    RandomGenerator random{12345u};
    const std::uint32_t start = random.seed;
    for (std::uint32_t n = 0; n < 5000; ++n) {
        EXPECT_EQ(DrawsBetween(start, random.seed), n);
        random.Advance();
    }
    EXPECT_EQ(DrawsBetween(7u, 7u), 0u);
    EXPECT_EQ(DrawsBetween(RandomGenerator{7u}.JumpedAhead(4294967295u).seed, 7u), 1u);

    // Run B starts 1000 draws into run A's stretch.
    const std::uint32_t a = 99u;
    const std::uint32_t b = RandomGenerator{a}.JumpedAhead(1000).seed;
    EXPECT_TRUE(StreamsOverlap(a, 1001, b, 5));
    EXPECT_FALSE(StreamsOverlap(a, 1000, b, 5));
    EXPECT_TRUE(StreamsOverlap(b, 5, a, 1001));
    // B wraps round the cycle into A's start.
    EXPECT_TRUE(StreamsOverlap(a, 1, b, (1ull << 32) - 999));
    EXPECT_FALSE(StreamsOverlap(a, 1, b, (1ull << 32) - 1000));
    EXPECT_FALSE(StreamsOverlap(a, 0, a, 10));
}

TEST(RandomStreams, ARunCountsEveryDrawOfItsSetUpAndSteps)
{
    Simulation sim;
    sim.random.seed = 777u;
    StartProgram(sim, {});
    const std::uint32_t start = sim.run.startSeed;
    for (int step = 0; step < 3; ++step) TimeStep(sim);
    EXPECT_EQ(DrawsSoFar(sim), DrawsBetween(start, sim.random.seed));
    EXPECT_GT(DrawsSoFar(sim), 3u * static_cast<std::uint64_t>(sim.run.columns * sim.run.rows));
}
