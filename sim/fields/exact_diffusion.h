#pragma once
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

// Integer forms of the diffusion's extended-precision arithmetic, for the values
// where the two give the same bits.
//
// Sums. A double that is +0.0 or has 2^-3 <= |v| < 2^4 is a whole multiple of
// 2^-55 (its last mantissa bit is worth at least 2^-3-52) and below 2^59 of those
// units. Nine of them, and every partial sum on the way, stay below 9 * 2^59 < 2^63
// units, so an extended-precision sum of them (64-bit mantissa) never rounds, and
// neither does taking away the centre or dividing by 8: the neighbour mean is
// exactly (sum of the eight in units of 2^-55) / 8, that is, that integer in units
// of 2^-58.
//
// Update. With diffusion coefficient exactly 1 the update is
//   (mean + old) + draw * noise,  draw = seed * 2^-32.
// When noise * 2^26 is a whole number q with |q| < 2^31, draw * noise = seed * q
// units of 2^-58 (below 2^63), and mean and old are whole numbers of such units
// too. If the whole sum X stays below 2^63 in magnitude, each extended-precision
// step is exact and the only rounding is the final store to double, which rounds
// X * 2^-58 to nearest, ties to even, just as converting X to double does (the
// power of two then scales it exactly). A sum of 0 is +0.0 either way.
//
// Both rest on a long double with at least a 64-bit mantissa; where it has less,
// nothing takes the integer path.
namespace exact_diffusion {

inline constexpr bool kAvailable = std::numeric_limits<long double>::digits >= 64;

// The value in units of 2^-55 when it is +0.0 or 2^-3 <= |v| < 2^4; false for
// anything else (-0.0, smaller or larger values, subnormals, infinities, NaN).
inline bool ToUnits(double value, std::int64_t& units)
{
    // 2^-3 <= |v| < 2^4 is a biased exponent of 1020 to 1026 whatever the sign
    // (NaN and the infinities have 2047): one test on the bits without the sign.
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const bool inRange = (bits << 1) - (std::uint64_t{1020} << 53) < (std::uint64_t{7} << 53);
    // A whole number below 2^59 when in range, so the conversion is exact.
    units = inRange ? static_cast<std::int64_t>(value * 0x1p55) : 0;
    return inRange | (bits == 0);
}

// q = noise * 2^26 when that is a whole number with |q| < 2^31 and noise is not
// -0.0 (whose product with a zero draw would be -0.0); false otherwise.
inline bool NoiseUnits(double noise, std::int64_t& q)
{
    q = 0;
    if (!(noise > -2147483648.0 / 67108864.0 && noise < 2147483648.0 / 67108864.0)) return false;  // |noise| < 32, not NaN
    if (noise == 0.0 && std::bit_cast<std::uint64_t>(noise) != 0) return false;
    const double scaled = noise * 67108864.0;  // exact: a power of two, far from overflow
    const auto whole = static_cast<std::int64_t>(scaled);
    if (static_cast<double>(whole) != scaled) return false;
    q = whole;
    return true;
}

// The stored update for a mean of `meanUnits` (units of 2^-58), an old value of
// `oldUnits` (units of 2^-55), the draw's seed and the noise's q, when the sum
// stays within 63 bits; false when it does not.
inline bool Update(std::int64_t meanUnits, std::int64_t oldUnits, std::uint32_t seed, std::int64_t q, double& result)
{
    // |meanUnits| < 8 * 2^59 and |8 * oldUnits| < 8 * 2^59: their sum cannot overflow.
    std::int64_t sum = 0;
    const bool overflow = __builtin_add_overflow(meanUnits + oldUnits * 8, static_cast<std::int64_t>(seed) * q, &sum);
    result = static_cast<double>(sum) * 0x1p-58;
    return !overflow & (sum != std::numeric_limits<std::int64_t>::min());  // 2^63 itself is out of range
}

// The neighbour mean of the extended-precision evaluation, from its exact sum.
inline long double MeanOf(std::int64_t meanUnits)
{
    return static_cast<long double>(meanUnits) * 0x1p-58L;
}

}  // namespace exact_diffusion
