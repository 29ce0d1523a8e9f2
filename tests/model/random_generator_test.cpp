#include <gtest/gtest.h>

#include <vector>

#include "model/random_generator.h"

TEST(RandomGenerator, StartsAtZeroAndAdvancesBeforeEachDraw)
{
    RandomGenerator random;
    EXPECT_EQ(random.seed, 0u);
    EXPECT_EQ(random.RandomReal(), 1.0 / 4294967296.0);  // seed 1
    EXPECT_EQ(random.seed, 1u);
    random.Advance();
    EXPECT_EQ(random.seed, 134775814u);
    // seed := seed * 134775813 + 1 modulo 2^32, worked out with python3 integers:
    // (134775814 * 134775813 + 1) % 2**32 == 3698175007.
    random.Advance();
    EXPECT_EQ(random.seed, 3698175007u);
    // 3698175007 * 134775813 + 1 wraps to 870078620; a real draw is that times 2^-32.
    EXPECT_EQ(random.RandomReal(), 870078620.0 / 4294967296.0);
    EXPECT_EQ(random.seed, 870078620u);
}

TEST(RandomGenerator, IntegerDrawIsHighWordOfProduct)
{
    // From 0xFFFFFFF0 the seed wraps to 2138554289, and (2138554289 * 360) >> 32 == 179
    // (python3 integers); the low word or a modulo would give something else.
    RandomGenerator random{0xFFFFFFF0u};
    EXPECT_EQ(random.Random(360), 179);
    EXPECT_EQ(random.seed, 2138554289u);
    // The product must not overflow: seed 3698175007 (the third from 0) times
    // 2147483647, shifted right by 32, is 1849087502.
    RandomGenerator wide{134775814u};
    EXPECT_EQ(wide.Random(2147483647), 1849087502);
    // Draws stay in range across many seeds.
    RandomGenerator sweep;
    for (int i = 0; i < 10000; ++i) {
        const auto d = sweep.Random(7);
        ASSERT_GE(d, 0);
        ASSERT_LT(d, 7);
    }
    RandomGenerator one;
    EXPECT_EQ(one.Random(1), 0);
    EXPECT_EQ(one.seed, 1u);  // Random(1) still consumes a draw
}

TEST(RandomGenerator, SequenceFromProgramStart)
{
    // The first twenty draws below 202 from seed 0, worked out with python3 integers
    // (seed = (seed * 134775813 + 1) % 2**32, draw = (seed * 202) >> 32). The first
    // four are the first two destinations of the first run at cell size 2.
    const std::int32_t expected202[] = {0,  6,  173, 40, 55, 135, 64, 32,  75, 85,
                                        16, 95, 14,  169, 12, 59, 185, 74, 156, 66};
    RandomGenerator random;
    for (std::int32_t draw : expected202) EXPECT_EQ(random.Random(202), draw);
    // The same way, the first eight draws below 7.
    const std::int32_t expected7[] = {0, 0, 6, 1, 1, 4, 2, 1};
    RandomGenerator small;
    for (std::int32_t draw : expected7) EXPECT_EQ(small.Random(7), draw);
}

TEST(RandomGenerator, JumpAheadMatchesRepeatedAdvances)
{
    RandomGenerator base{12345u};
    for (std::uint64_t k : {0ull, 1ull, 2ull, 3ull, 40803ull, 40804ull, 1000000ull}) {
        RandomGenerator stepped = base;
        for (std::uint64_t i = 0; i < k; ++i) stepped.Advance();
        EXPECT_EQ(base.JumpedAhead(k).seed, stepped.seed) << k;
    }
}

TEST(RandomGenerator, FilledSeedsAreTheSeedsOfTheNextDraws)
{
    for (const std::uint32_t start : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
        for (std::size_t count = 0; count <= 203; count += (count < 12 ? 1 : 95)) {
            RandomGenerator filled{start};
            RandomGenerator stepped{start};
            std::vector<std::uint32_t> seeds(count + 1, 0xDEADBEEFu);
            filled.FillSeeds(seeds.data(), count);
            for (std::size_t i = 0; i < count; ++i) {
                stepped.Advance();
                ASSERT_EQ(seeds[i], stepped.seed) << "start " << start << ", count " << count << ", seed " << i;
            }
            EXPECT_EQ(filled.seed, stepped.seed) << "start " << start << ", count " << count;
            EXPECT_EQ(seeds[count], 0xDEADBEEFu);  // nothing written past the count
        }
    }
}
