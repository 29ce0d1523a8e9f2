#pragma once
#include <cstdint>

// The reference arithmetic of the potential fields, which the plain passes and the
// fast ones both evaluate: the fast ones may take a shorter road only where it
// gives these bits (exact_diffusion.h says where).
namespace field_arithmetic {

// The normalisation's scan of a field starts from these, with strict comparisons.
inline constexpr double kScanStartMax = 1e-8;
inline constexpr double kScanStartMin = 9999999999.0;

// The real draw of a generator state: seed * 2^-32, exact in a double and in
// extended precision alike.
inline long double DrawOf(std::uint32_t seed)
{
    return static_cast<long double>(seed) * 0x1p-32L;
}

// A cell's neighbour mean from its 3 x 3 block, valueAt(dy, dx) for dy, dx in 0..2:
// summed in extended precision in that order (rows above to below, columns left to
// right), minus the centre, over 8.
template <typename ValueAt>
long double NeighbourMean(ValueAt valueAt)
{
    long double sum = 0.0L;
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx) sum += valueAt(dy, dx);
    return (sum - valueAt(1, 1)) / 8.0L;
}

// The diffusion's update of one field of one cell: (mean * coefficient + old) +
// draw * noise in extended precision, stored as a double. With a coefficient of
// exactly 1 (a constant the compiler folds) every extended value, NaN and -0.0
// included, multiplies to itself.
inline double DiffusedValue(long double mean, long double coefficient, double old, long double draw,
                            long double noise)
{
    return static_cast<double>((mean * coefficient + static_cast<long double>(old)) + draw * noise);
}

}  // namespace field_arithmetic
