#include "replicate_seed.h"

std::uint32_t ReplicateSeed(std::uint32_t replicate)
{
    std::uint32_t x = replicate;
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}
