#include <gtest/gtest.h>

#include "random_generator.h"

TEST(RandomGenerator, StartsAtZeroAndAdvancesBeforeEachDraw)
{
    RandomGenerator random;
    EXPECT_EQ(random.seed, 0u);
    EXPECT_EQ(random.RandomReal(), 1.0 / 4294967296.0);  // seed 1
    EXPECT_EQ(random.seed, 1u);
    random.Advance();
    EXPECT_EQ(random.seed, 134775814u);
    // seed := seed * 134775813 + 1 modulo 2^32
    random.Advance();
    EXPECT_EQ(random.seed, static_cast<std::uint32_t>(134775814ull * 134775813ull + 1ull));
}

TEST(RandomGenerator, IntegerDrawIsHighWordOfProduct)
{
    RandomGenerator random{0xFFFFFFF0u};
    const std::uint32_t next = 0xFFFFFFF0u * 134775813u + 1u;
    EXPECT_EQ(random.Random(360), static_cast<std::int32_t>((static_cast<std::uint64_t>(next) * 360u) >> 32));
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

TEST(RandomGenerator, JumpAheadMatchesRepeatedAdvances)
{
    RandomGenerator base{12345u};
    for (std::uint64_t k : {0ull, 1ull, 2ull, 3ull, 40803ull, 40804ull, 1000000ull}) {
        RandomGenerator stepped = base;
        for (std::uint64_t i = 0; i < k; ++i) stepped.Advance();
        EXPECT_EQ(base.JumpedAhead(k).seed, stepped.seed) << k;
    }
}
