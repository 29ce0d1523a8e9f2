// The diffusion's update loops: the SSE2 integer update against the portable one,
// bit for bit, at the edges of its ranges; the scaled extended update against the
// plain extended-precision expression from the nine values themselves.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "sim/fields/diffusion_kernels.h"
#include "sim/fields/exact_diffusion.h"

namespace {

using diffusion_kernels::UpdateRowInputs;
using diffusion_kernels::UpdateRowOutputs;

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// One row of one field, as the diffusion hands it to an update loop.
struct Row {
    std::vector<std::int64_t> up, mid, down, centre;
    std::vector<std::uint8_t> upExact, midExact, downExact;
    std::vector<std::uint32_t> seeds;

    explicit Row(std::size_t n)
        : up(n), mid(n), down(n), centre(n), upExact(n, 1), midExact(n, 1), downExact(n, 1), seeds(n)
    {
    }
    UpdateRowInputs Inputs(std::int64_t noiseUnits) const
    {
        return {up.data(),       mid.data(),       down.data(),  centre.data(), upExact.data(),
                midExact.data(), downExact.data(), seeds.data(), noiseUnits};
    }
};

struct Outcome {
    std::vector<double> result;
    std::vector<std::uint8_t> redo;
    UpdateRowOutputs out{};

    explicit Outcome(std::size_t n) : result(n, -1.0), redo(n, 7) { out = {result.data(), redo.data(), 0.0, 0.0, false}; }
};

void ExpectSame(const Outcome& a, const Outcome& b, const char* what)
{
    for (std::size_t c = 0; c < a.result.size(); ++c) {
        EXPECT_EQ(Bits(a.result[c]), Bits(b.result[c])) << what << ", column " << c;
        EXPECT_EQ(a.redo[c], b.redo[c]) << what << ", column " << c;
    }
    EXPECT_EQ(Bits(a.out.rowMax), Bits(b.out.rowMax)) << what;
    EXPECT_EQ(Bits(a.out.rowMin), Bits(b.out.rowMin)) << what;
    EXPECT_EQ(a.out.anyRedo, b.out.anyRedo) << what;
}

constexpr std::int64_t kUnitsTop = (std::int64_t{1} << 59) - 1;  // the largest units of one value

}  // namespace

TEST(DiffusionKernels, IntegerUpdateGivesThePortableBitsAtEveryEdge)
{
    std::mt19937_64 draws(12345);
    const std::int64_t noises[] = {0,
                                   1,
                                   -1,
                                   6 * 67108864,
                                   5 * 67108864,
                                   -7 * 67108864,
                                   (std::int64_t{1} << 31) - 1,
                                   -((std::int64_t{1} << 31) - 1)};
    // Row lengths with and without an odd column left over, the empty row included.
    for (const std::size_t n : {0u, 1u, 2u, 3u, 8u, 202u}) {
        for (const std::int64_t q : noises) {
            for (int round = 0; round < 20; ++round) {
                Row row(n);
                for (std::size_t c = 0; c < n; ++c) {
                    // Sums of three units each, from small to the largest nine values give,
                    // of either sign; seeds over their whole range, 0 and the top included.
                    const auto pick = [&](std::int64_t top) {
                        const std::int64_t v = static_cast<std::int64_t>(draws() % static_cast<std::uint64_t>(top + 1));
                        return draws() % 2 ? -v : v;
                    };
                    const std::int64_t scale = round % 4 == 0 ? 3 * kUnitsTop : (round % 4 == 1 ? 1000 : kUnitsTop);
                    row.up[c] = pick(scale);
                    row.mid[c] = pick(scale);
                    row.down[c] = pick(scale);
                    row.centre[c] = pick(kUnitsTop);
                    row.seeds[c] = round % 5 == 0 ? 0xFFFFFFFFu : (round % 5 == 1 ? 0u : static_cast<std::uint32_t>(draws()));
                    row.upExact[c] = draws() % 8 != 0;
                    row.midExact[c] = draws() % 8 != 0;
                    row.downExact[c] = draws() % 8 != 0;
                }
                Outcome fast(n);
                Outcome portable(n);
                diffusion_kernels::IntegerUpdateRow(row.Inputs(q), fast.out, static_cast<std::int32_t>(n));
                diffusion_kernels::IntegerUpdateRowPortable(row.Inputs(q), portable.out, static_cast<std::int32_t>(n));
                ExpectSame(fast, portable, "random row");
            }
        }
    }

    // A sum that overflows 63 bits either way, and one of exactly -2^63: each declined.
    Row edge(4);
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    edge.up = {top / 2, -(top / 2), -(std::int64_t{1} << 62), 1};
    edge.mid = {top / 2, -(top / 2), -(std::int64_t{1} << 62), 2};
    edge.down = {0, 0, 0, 3};
    edge.centre = {0, 0, 0, 0};
    edge.seeds = {0xFFFFFFFFu, 0xFFFFFFFFu, 0u, 5u};
    for (const std::int64_t q : {(std::int64_t{1} << 31) - 1, -((std::int64_t{1} << 31) - 1)}) {
        Outcome fast(4);
        Outcome portable(4);
        diffusion_kernels::IntegerUpdateRow(edge.Inputs(q), fast.out, 4);
        diffusion_kernels::IntegerUpdateRowPortable(edge.Inputs(q), portable.out, 4);
        ExpectSame(fast, portable, "edge row");
        EXPECT_EQ(fast.redo[0], q > 0 ? 1 : 0);  // overflows upwards only with a positive product
        EXPECT_EQ(fast.redo[1], q < 0 ? 1 : 0);
        EXPECT_EQ(fast.redo[2], 1);  // exactly -2^63
        EXPECT_EQ(fast.redo[3], 0);
        EXPECT_TRUE(fast.out.anyRedo);
    }
}

TEST(DiffusionKernels, ScaledNoiseFitsOnlyFiniteNoisesWellInsideTheNormalRange)
{
    for (const double noise : {4.8, -4.8, 0.1, 1e15, 0x1.fffffffffffffp63, 0x1.0000000000001p-900})
        EXPECT_EQ(diffusion_kernels::ScaledNoiseFits(noise), exact_diffusion::kAvailable) << noise;
    for (const double noise : {0.0, -0.0, 0x1p64, -0x1p64, 0x1p-900, 5e-324, 1e308,
                               std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(diffusion_kernels::ScaledNoiseFits(noise)) << noise;
}

TEST(DiffusionKernels, ScaledUpdateGivesTheExtendedExpressionFromTheNineValues)
{
    if (!exact_diffusion::kAvailable) GTEST_SKIP() << "no 64-bit mantissa";
    std::mt19937_64 draws(99);
    // Values the integer forms take: +0.0 and 2^-3 <= |v| < 2^4 with any mantissa.
    const auto value = [&draws]() {
        if (draws() % 10 == 0) return 0.0;
        const std::uint64_t exponent = 1020 + draws() % 7;  // 2^-3 .. 2^3
        const std::uint64_t mantissa = draws() & 0xFFFFFFFFFFFFFull;
        return std::bit_cast<double>((draws() % 2) << 63 | exponent << 52 | mantissa);
    };
    const double noises[] = {4.8, -4.8, 0.1, 3.3, 1e-5, 1e15, 0x1.fffffffffffffp63, 0x1.0000000000001p-900, 7.0};
    constexpr std::size_t n = 203;
    for (const double noise : noises) {
        ASSERT_TRUE(diffusion_kernels::ScaledNoiseFits(noise));
        for (int round = 0; round < 30; ++round) {
            // Three rows of values around the row; column c reads columns c-1..c+1 (wrapped).
            std::array<std::vector<double>, 3> grid;
            std::array<std::vector<std::int64_t>, 3> units;
            for (int r = 0; r < 3; ++r) {
                for (std::size_t c = 0; c < n; ++c) {
                    grid[r].push_back(value());
                    std::int64_t u = 0;
                    ASSERT_TRUE(exact_diffusion::ToUnits(grid[r].back(), u));
                    units[r].push_back(u);
                }
            }
            Row row(n);
            std::vector<double> expected(n);
            for (std::size_t c = 0; c < n; ++c) {
                const std::size_t left = (c + n - 1) % n;
                const std::size_t right = (c + 1) % n;
                std::int64_t* across[3] = {&row.up[c], &row.mid[c], &row.down[c]};
                long double sum = 0.0L;
                for (int r = 0; r < 3; ++r) {
                    *across[r] = units[r][left] + units[r][c] + units[r][right];
                    sum += grid[r][left];
                    sum += grid[r][c];
                    sum += grid[r][right];
                }
                row.centre[c] = units[1][c];
                row.seeds[c] = round == 0 ? (c % 2 ? 0xFFFFFFFFu : 0u) : static_cast<std::uint32_t>(draws());
                const long double mean = (sum - grid[1][c]) / 8.0L;
                const long double draw = static_cast<long double>(row.seeds[c]) * 0x1p-32L;
                expected[c] = static_cast<double>((mean + static_cast<long double>(grid[1][c])) +
                                                  draw * static_cast<long double>(noise));
            }
            Outcome got(n);
            diffusion_kernels::ScaledUnitUpdateRow(row.Inputs(0), noise, got.out, static_cast<std::int32_t>(n));
            for (std::size_t c = 0; c < n; ++c) {
                ASSERT_EQ(Bits(got.result[c]), Bits(expected[c])) << "noise " << noise << ", column " << c;
                ASSERT_EQ(got.redo[c], 0);
            }
            EXPECT_FALSE(got.out.anyRedo);
        }
    }

    // A cell whose rows are not all exact is left for the redo.
    Row row(3);
    row.midExact[1] = 0;
    Outcome got(3);
    diffusion_kernels::ScaledUnitUpdateRow(row.Inputs(0), 4.8, got.out, 3);
    EXPECT_EQ(got.redo[0], 0);
    EXPECT_EQ(got.redo[1], 1);
    EXPECT_TRUE(got.out.anyRedo);
}

// The exact-row kernels, for rows whose flags are all set, give the flagged kernels'
// results and extremes, and decline a row exactly when the flagged kernel redoes a cell.
TEST(DiffusionKernels, ExactRowKernelsGiveTheFlaggedKernelsBits)
{
    std::mt19937_64 draws(777);
    for (const std::size_t n : {0u, 1u, 2u, 5u, 202u}) {
        for (int round = 0; round < 40; ++round) {
            Row row(n);  // every flag set
            const std::int64_t scale = round % 3 == 0 ? 3 * kUnitsTop : 1000000;
            for (std::size_t c = 0; c < n; ++c) {
                const auto pick = [&](std::int64_t top) {
                    const auto v = static_cast<std::int64_t>(draws() % static_cast<std::uint64_t>(top + 1));
                    return draws() % 2 ? -v : v;
                };
                row.up[c] = pick(scale);
                row.mid[c] = pick(scale);
                row.down[c] = pick(scale);
                row.centre[c] = pick(kUnitsTop);
                row.seeds[c] = static_cast<std::uint32_t>(draws());
            }
            for (const std::int64_t q : {std::int64_t{6} * 67108864, -((std::int64_t{1} << 31) - 1)}) {
                Outcome flagged(n);
                Outcome exactRow(n);
                diffusion_kernels::IntegerUpdateRow(row.Inputs(q), flagged.out, static_cast<std::int32_t>(n));
                for (const auto kernel : {diffusion_kernels::IntegerUpdateExactRow,
                                          diffusion_kernels::IntegerUpdateExactRowPortable}) {
                    kernel(row.Inputs(q), exactRow.out, static_cast<std::int32_t>(n));
                    ASSERT_EQ(exactRow.out.anyRedo, flagged.out.anyRedo) << "n " << n << ", round " << round;
                    if (flagged.out.anyRedo) continue;  // the caller takes the flagged results then
                    for (std::size_t c = 0; c < n; ++c) ASSERT_EQ(Bits(exactRow.result[c]), Bits(flagged.result[c]));
                    EXPECT_EQ(Bits(exactRow.out.rowMax), Bits(flagged.out.rowMax));
                    EXPECT_EQ(Bits(exactRow.out.rowMin), Bits(flagged.out.rowMin));
                    EXPECT_EQ(exactRow.redo, std::vector<std::uint8_t>(n, 7)) << "no flag written";
                }
            }
            if (round % 3 == 0) continue;  // the scaled update's sums stay within 63 bits
            Outcome flagged(n);
            Outcome exactRow(n);
            diffusion_kernels::ScaledUnitUpdateRow(row.Inputs(0), 4.8, flagged.out, static_cast<std::int32_t>(n));
            diffusion_kernels::ScaledUnitUpdateExactRow(row.Inputs(0), 4.8, exactRow.out, static_cast<std::int32_t>(n));
            for (std::size_t c = 0; c < n; ++c) ASSERT_EQ(Bits(exactRow.result[c]), Bits(flagged.result[c]));
            EXPECT_EQ(Bits(exactRow.out.rowMax), Bits(flagged.out.rowMax));
            EXPECT_EQ(Bits(exactRow.out.rowMin), Bits(flagged.out.rowMin));
            EXPECT_FALSE(exactRow.out.anyRedo);
        }
    }

    // A four-cell row (one pass of the widest loop) whose only cell out of range is
    // one of the edges: a sum past 63 bits upwards or downwards, or exactly -2^63.
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    const std::int64_t q = (std::int64_t{1} << 31) - 1;
    const struct {
        std::int64_t up, mid;
        std::uint32_t seed;
        std::int64_t q;
    } edges[] = {{top / 2, top / 2, 0xFFFFFFFFu, q},
                 {-(top / 2), -(top / 2), 0xFFFFFFFFu, -q},
                 {-(std::int64_t{1} << 62), -(std::int64_t{1} << 62), 0u, q}};
    for (const auto& edge : edges) {
        for (std::size_t at = 0; at < 4; ++at) {
            Row row(4);
            row.up = {1, 2, 3, 4};
            row.up[at] = edge.up;
            row.mid[at] = edge.mid;
            row.seeds = {5, 6, 7, 8};
            row.seeds[at] = edge.seed;
            Outcome got(4);
            diffusion_kernels::IntegerUpdateExactRow(row.Inputs(edge.q), got.out, 4);
            EXPECT_TRUE(got.out.anyRedo) << "column " << at;
        }
    }
}

// The row conversion gives ToUnits's units and verdict for every value, whichever
// loop the processor takes: the range's edges and their neighbours, both zeros,
// subnormals, infinities, NaN and random bit patterns, at every place in a row.
TEST(DiffusionKernels, RowConversionGivesToUnitsForEveryValue)
{
    std::vector<double> specials = {0.0, -0.0, 0.125, -0.125, std::nextafter(0.125, 0.0), std::nextafter(16.0, 0.0),
                                    16.0, -16.0, -std::nextafter(16.0, 0.0), 3.0, -9.75, 1e-300, 5e-324,
                                    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN(), 1e300};
    std::mt19937_64 draws(4);
    for (int i = 0; i < 400; ++i) {
        const std::uint64_t exponent = 1016 + draws() % 14;  // around the range, both sides
        specials.push_back(std::bit_cast<double>((draws() % 2) << 63 | exponent << 52 | (draws() & 0xFFFFFFFFFFFFFull)));
    }
    for (const std::size_t n : {0u, 1u, 3u, 4u, 7u, 202u}) {
        for (int round = 0; round < 60; ++round) {
            std::vector<double> values(n);
            const bool allInRange = round % 2 == 0;  // half the rows hold only values with a form
            std::int64_t scratch = 0;
            for (double& v : values) {
                do v = specials[draws() % specials.size()];
                while (allInRange && !exact_diffusion::ToUnits(v, scratch));
            }
            std::vector<std::int64_t> got(n, -7), portable(n, -7);
            bool expectedAll = true;
            for (std::size_t c = 0; c < n; ++c) {
                std::int64_t units = -7;
                expectedAll &= exact_diffusion::ToUnits(values[c], units);
                portable[c] = units;
            }
            ASSERT_EQ(diffusion_kernels::ToUnitsRow(values.data(), got.data(), static_cast<std::int32_t>(n)), expectedAll);
            ASSERT_EQ(got, portable) << "n " << n << ", round " << round;
            std::vector<std::int64_t> again(n, -7);
            ASSERT_EQ(diffusion_kernels::ToUnitsRowPortable(values.data(), again.data(), static_cast<std::int32_t>(n)),
                      expectedAll);
            ASSERT_EQ(again, portable);
        }
    }
}

// Sums across three columns wrap at both ends of a row, for every length the loops
// split differently, a single column counted three times.
TEST(DiffusionKernels, SumsAcrossWrapAtBothEnds)
{
    std::mt19937_64 draws(8);
    for (std::int32_t n = 0; n <= 13; ++n) {
        std::vector<std::int64_t> units(static_cast<std::size_t>(n));
        for (std::int64_t& u : units) u = static_cast<std::int64_t>(draws() % (std::uint64_t{1} << 61)) - (std::int64_t{1} << 60);
        std::vector<std::int64_t> across(units.size() + 1, -7);
        diffusion_kernels::SumsAcross(units.data(), across.data(), n);
        for (std::int32_t c = 0; c < n; ++c) {
            const std::int64_t expected = units[(c + n - 1) % n] + units[c] + units[(c + 1) % n];
            ASSERT_EQ(across[c], expected) << "n " << n << ", column " << c;
        }
        EXPECT_EQ(across[units.size()], -7) << "nothing written past the row";
    }
}
