#include "model/random_generator.h"

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
    if (count < 8) {
        for (std::size_t i = 0; i < count; ++i) {
            Advance();
            seeds[i] = seed;
        }
        return;
    }
    // The four streams held in registers, four seeds a round.
    std::uint32_t stream[4];
    for (std::uint32_t& s : stream) {
        Advance();
        s = seed;
    }
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        for (int k = 0; k < 4; ++k) {
            seeds[i + k] = stream[k];
            stream[k] = stream[k] * kFourMultiplier + kFourIncrement;
        }
    }
    // The rest one by one from the last seed written.
    seed = seeds[i - 1];
    for (; i < count; ++i) {
        Advance();
        seeds[i] = seed;
    }
}
