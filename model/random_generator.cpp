#include "random_generator.h"

RandomGenerator RandomGenerator::JumpedAhead(std::uint64_t steps) const
{
    // Compose the affine map x -> a*x + c with itself by repeated squaring.
    std::uint32_t accMul = 1, accAdd = 0;
    std::uint32_t curMul = kMultiplier, curAdd = kIncrement;
    while (steps > 0) {
        if (steps & 1u) {
            accMul = accMul * curMul;
            accAdd = accAdd * curMul + curAdd;
        }
        curAdd = curAdd * (curMul + 1u);
        curMul = curMul * curMul;
        steps >>= 1;
    }
    RandomGenerator jumped;
    jumped.seed = seed * accMul + accAdd;
    return jumped;
}

namespace {

// The affine map of four advances: x -> a4 * x + c4 (mod 2^32).
constexpr std::uint32_t kFourMultiplier = RandomGenerator::kMultiplier * RandomGenerator::kMultiplier *
                                          RandomGenerator::kMultiplier * RandomGenerator::kMultiplier;
constexpr std::uint32_t kFourIncrement =
    RandomGenerator::kIncrement * (RandomGenerator::kMultiplier * RandomGenerator::kMultiplier * RandomGenerator::kMultiplier +
                                   RandomGenerator::kMultiplier * RandomGenerator::kMultiplier +
                                   RandomGenerator::kMultiplier + 1u);

}  // namespace

void RandomGenerator::FillSeeds(std::uint32_t* seeds, std::size_t count)
{
    std::size_t i = 0;
    for (; i < count && i < 4; ++i) {
        Advance();
        seeds[i] = seed;
    }
    for (; i < count; ++i) seeds[i] = seeds[i - 4] * kFourMultiplier + kFourIncrement;
    if (count > 4) seed = seeds[count - 1];
}
