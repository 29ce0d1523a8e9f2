#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

// Real-to-integer conversion of the whole system: nearest integer, ties to even.
// Values beyond the 32-bit range saturate instead of invoking undefined behaviour;
// NaN gives 0.
inline std::int32_t RoundHalfEven(long double value)
{
    if (std::isnan(value)) return 0;
    const long double rounded = std::nearbyint(value);  // default mode: to nearest, ties to even
    if (rounded >= 2147483647.0L) return std::numeric_limits<std::int32_t>::max();
    if (rounded <= -2147483648.0L) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

inline std::int32_t RoundHalfEven(double value)
{
    return RoundHalfEven(static_cast<long double>(value));
}

// Round(numerator / denominator) of two integers, exactly, ties to even.
// denominator must be positive.
inline std::int64_t RoundedQuotient(std::int64_t numerator, std::int64_t denominator)
{
    std::int64_t quotient = numerator / denominator;
    std::int64_t remainder = numerator % denominator;
    if (remainder < 0) {  // floor division
        quotient -= 1;
        remainder += denominator;
    }
    const std::int64_t twice = 2 * remainder;
    if (twice > denominator || (twice == denominator && (quotient % 2 != 0))) quotient += 1;
    return quotient;
}
