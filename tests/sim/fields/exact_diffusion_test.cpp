// The integer forms of the diffusion's arithmetic against the extended-precision
// expressions they stand in for, over every exponent and the edges of each range.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "sim/fields/exact_diffusion.h"
#include "sim/fields/field_arithmetic.h"

namespace {

using exact_diffusion::MeanOf;
using exact_diffusion::NoiseUnits;
using exact_diffusion::ToUnits;
using exact_diffusion::Update;

constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The reference arithmetic, with a diffusion coefficient of 1.
long double ExtendedMean(const double (&nine)[9])
{
    return field_arithmetic::NeighbourMean([&nine](int dy, int dx) { return nine[3 * dy + dx]; });
}

double ExtendedUpdate(long double mean, double old, std::uint32_t seed, double noise)
{
    return field_arithmetic::DiffusedValue(mean, 1.0L, old, field_arithmetic::DrawOf(seed), noise);
}

// Values of every sign and exponent, with the smallest, largest and a middling mantissa.
std::vector<double> EveryExponent()
{
    std::vector<double> values;
    for (std::uint64_t sign : {0ull, 1ull})
        for (std::uint64_t exponent = 0; exponent < 2048; ++exponent)
            for (std::uint64_t mantissa : {0ull, 1ull, 0x8000000000000ull, 0xfffffffffffffull})
                values.push_back(std::bit_cast<double>(sign << 63 | exponent << 52 | mantissa));
    return values;
}

}  // namespace

TEST(ExactDiffusion, ToUnitsTakesExactlyPositiveZeroAndTheRangeFromAnEighthBelowSixteen)
{
    ASSERT_TRUE(exact_diffusion::kAvailable);
    for (double v : EveryExponent()) {
        std::int64_t units = 1;
        const bool inRange = std::isfinite(v) && std::fabs(v) >= 0.125 && std::fabs(v) < 16.0;
        const bool expected = Bits(v) == 0 || inRange;
        ASSERT_EQ(ToUnits(v, units), expected) << v;
        if (expected) {
            ASSERT_EQ(static_cast<long double>(units) * 0x1p-55L, static_cast<long double>(v)) << v;
        }
    }
    // The edges, -0.0, subnormals, infinities and NaN by name.
    std::int64_t units = 0;
    EXPECT_TRUE(ToUnits(0.125, units));
    EXPECT_EQ(units, std::int64_t{1} << 52);
    EXPECT_TRUE(ToUnits(-std::nextafter(16.0, 0.0), units));
    EXPECT_EQ(units, -((std::int64_t{1} << 59) - 64));  // 16 - 2^-49
    EXPECT_FALSE(ToUnits(std::nextafter(0.125, 0.0), units));
    EXPECT_FALSE(ToUnits(16.0, units));
    EXPECT_FALSE(ToUnits(-0.0, units));
    EXPECT_FALSE(ToUnits(std::numeric_limits<double>::denorm_min(), units));
    EXPECT_FALSE(ToUnits(kInf, units));
    EXPECT_FALSE(ToUnits(-kInf, units));
    EXPECT_FALSE(ToUnits(std::numeric_limits<double>::quiet_NaN(), units));
}

TEST(ExactDiffusion, IntegerMeanEqualsTheExtendedSumForAnyNineValuesInRange)
{
    // The sum can only round when a partial sum needs more than 64 bits; the widest
    // cases are the extremes of the range in every sign pattern, and the finest
    // mantissas beside the largest values.
    const double top = std::nextafter(16.0, 0.0);
    const double fine = std::nextafter(0.125, 1.0);
    std::vector<double> pool{0.0, 0.125, -0.125, fine, -fine, top, -top, 8.0, -8.0, 1.0 + 0x1p-52, 15.5};
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> magnitude(0.125, 16.0);
    for (int i = 0; i < 64; ++i) pool.push_back((i % 2 ? -1 : 1) * magnitude(random));

    auto check = [](const double (&nine)[9]) {
        std::int64_t units[9];
        std::int64_t sum = 0;
        for (int i = 0; i < 9; ++i) {
            ASSERT_TRUE(ToUnits(nine[i], units[i]));
            sum += units[i];
        }
        const long double expected = ExtendedMean(nine);
        const long double integer = MeanOf(sum - units[4]);
        ASSERT_EQ(integer, expected);
        ASSERT_EQ(std::signbit(integer), std::signbit(expected));
    };
    // Every sign pattern of the widest values.
    for (int pattern = 0; pattern < 512; ++pattern) {
        double nine[9];
        for (int i = 0; i < 9; ++i) nine[i] = (pattern >> i & 1) ? top : -fine;
        check(nine);
        for (int i = 0; i < 9; ++i) nine[i] = (pattern >> i & 1) ? top : -top;
        check(nine);
    }
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    for (int trial = 0; trial < 200000; ++trial) {
        double nine[9];
        for (double& v : nine) v = pool[pick(random)];
        check(nine);
    }
}

TEST(ExactDiffusion, NoiseUnitsTakeWholeMultiplesOfTwoToTheMinus26BelowThirtyTwo)
{
    std::int64_t q = 0;
    EXPECT_TRUE(NoiseUnits(6.0, q));
    EXPECT_EQ(q, 6 * 67108864ll);
    EXPECT_TRUE(NoiseUnits(5.0, q));
    EXPECT_TRUE(NoiseUnits(-6.0, q));
    EXPECT_EQ(q, -6 * 67108864ll);
    EXPECT_TRUE(NoiseUnits(0.0, q));
    EXPECT_EQ(q, 0);
    EXPECT_TRUE(NoiseUnits(0x1p-26, q));
    EXPECT_TRUE(NoiseUnits(32.0 - 0x1p-26, q));
    EXPECT_EQ(q, (1ll << 31) - 1);
    for (double refused : {4.8, 0x1p-27, 32.0, -32.0, 1e300, -0.0, std::numeric_limits<double>::denorm_min(), kInf,
                           -kInf, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(NoiseUnits(refused, q)) << refused;
}

TEST(ExactDiffusion, IntegerUpdateRoundsAsTheExtendedExpressionOrDeclines)
{
    std::mt19937_64 random(7);
    const std::int64_t meanEdge = (std::int64_t{1} << 62) - 1;  // 8 values just below 2^4
    const std::int64_t oldEdge = (std::int64_t{1} << 59) - 1;
    std::vector<std::int64_t> means{0, 1, -1, meanEdge, -meanEdge, meanEdge / 3, 123456789};
    std::vector<std::int64_t> olds{0, 1ll << 52, -(1ll << 52), oldEdge - 127, -(oldEdge - 127), 3ll << 55};
    std::vector<std::uint32_t> seeds{0, 1, 0x80000000u, 0xffffffffu, 0x9e3779b9u};
    std::vector<double> noises{6.0, 5.0, -6.0, 0.0, 0x1p-26, 32.0 - 0x1p-26, -(32.0 - 0x1p-26), 3.0 + 0x1p-20};
    for (int i = 0; i < 2000; ++i) {
        means.push_back(static_cast<std::int64_t>(random() >> 2) * (i % 2 ? 1 : -1));
        olds.push_back(static_cast<std::int64_t>((random() >> 5) & ~std::uint64_t{7}) * (i % 3 ? 1 : -1));
        seeds.push_back(static_cast<std::uint32_t>(random()));
    }
    int taken = 0, declined = 0;
    for (std::size_t i = 0; i < means.size(); ++i) {
        for (std::int64_t oldUnits : {olds[i % olds.size()], olds[(i * 7) % olds.size()]}) {
            // The old value is a double of the range (or +0.0): keep only those.
            const double old = static_cast<double>(static_cast<long double>(oldUnits) * 0x1p-55L);
            std::int64_t check = 0;
            if (!ToUnits(old, check) || check != oldUnits) continue;
            for (double noise : noises) {
                std::int64_t q = 0;
                ASSERT_TRUE(NoiseUnits(noise, q));
                const std::uint32_t seed = seeds[(i * 13 + static_cast<std::size_t>(q & 7)) % seeds.size()];
                double result = 0.0;
                if (Update(means[i], oldUnits, seed, q, result)) {
                    ++taken;
                    const double expected = ExtendedUpdate(MeanOf(means[i]), old, seed, noise);
                    ASSERT_EQ(Bits(result), Bits(expected)) << means[i] << " " << oldUnits << " " << seed << " " << noise;
                } else {
                    ++declined;
                    // Only a sum beyond 63 bits is declined.
                    const __int128 sum = static_cast<__int128>(means[i]) + static_cast<__int128>(oldUnits) * 8 +
                                         static_cast<__int128>(seed) * q;
                    ASSERT_TRUE(sum >= (static_cast<__int128>(1) << 63) || sum <= -(static_cast<__int128>(1) << 63));
                }
            }
        }
    }
    EXPECT_GT(taken, 5000);
    EXPECT_GT(declined, 10);  // the edges were reached
}
