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
