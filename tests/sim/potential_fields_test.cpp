#include <gtest/gtest.h>

#include <cmath>

#include "potential_fields.h"
#include "sim_test_support.h"

namespace {

void NoNoise(Simulation& sim, double coefficient = 1.0)
{
    sim.usage.noise = {0.0, 0.0, 0.0};
    sim.usage.diffusion = {coefficient, coefficient, coefficient};
}

}  // namespace

TEST(PotentialFields, ZeroFieldsWithoutNoiseStayZero)
{
    Simulation sim;
    MakeEmptyRun(sim, 6, 5);
    NoNoise(sim);
    DiffusePotentials(sim);
    NormalizePotentials(sim);
    for (const TCell& cell : sim.run.cells.InPassOrder())
        for (double v : cell.potential) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(sim.random.seed, RandomGenerator{}.JumpedAhead(30).seed);  // one draw per cell
}

TEST(PotentialFields, OnePeakSpreadsAnEighthToEachNeighbourAcrossTheEdges)
{
    Simulation sim;
    MakeEmptyRun(sim, 6, 5);
    NoNoise(sim);
    sim.run.cells(0, 0).potential[0] = 10.0;
    DiffusePotentials(sim);
    NormalizePotentials(sim);
    for (std::int32_t r = 0; r < 5; ++r) {
        for (std::int32_t c = 0; c < 6; ++c) {
            const bool centre = c == 0 && r == 0;
            const bool neighbour = !centre && (c <= 1 || c == 5) && (r <= 1 || r == 4);
            EXPECT_EQ(sim.run.cells(c, r).potential[0], centre ? 10.0 : neighbour ? 1.25 : 0.0) << c << "," << r;
        }
    }
}

TEST(PotentialFields, FieldsOfACellShareItsDraw)
{
    Simulation sim;
    MakeEmptyRun(sim, 4, 4);
    sim.usage.diffusion = {0.0, 0.0, 0.0};
    sim.usage.noise = {3.0, 3.0, 1.0};
    RandomGenerator expected = sim.random;
    DiffusePotentials(sim);
    for (const TCell& cell : sim.run.cells.InPassOrder()) {
        const double r = expected.RandomReal();
        EXPECT_EQ(cell.potential[0], cell.potential[1]);
        EXPECT_EQ(cell.potential[0], static_cast<double>(static_cast<long double>(r) * 3.0L));
        EXPECT_EQ(cell.potential[2], r);
    }
}

TEST(PotentialFields, UpdateIsEvaluatedInExtendedPrecision)
{
    // Cell (0, 0) of a 3 x 3 torus: its eight neighbours hold 1, itself 2^-53, and its
    // draw is exactly 0.5 with a noise of 2^-52. In extended precision
    // (1 * 1 + 2^-53) + 0.5 * 2^-52 is 1 + 2^-52; in doubles both halves would be lost.
    Simulation sim;
    MakeEmptyRun(sim, 3, 3);
    sim.usage.diffusion = {1.0, 1.0, 1.0};
    sim.usage.noise = {std::ldexp(1.0, -52), 0.0, 0.0};
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.potential[0] = 1.0;
    sim.run.cells(0, 0).potential[0] = std::ldexp(1.0, -53);
    sim.random = GeneratorDrawingOneHalf();
    DiffusePotentials(sim);
    EXPECT_EQ(sim.run.cells(0, 0).potential[0], 1.0 + std::ldexp(1.0, -52));
}

TEST(PotentialFields, NormalisationRescalesToTen)
{
    Simulation sim;
    MakeEmptyRun(sim, 3, 1);
    sim.run.cells(0, 0).potential[1] = 2.0;
    sim.run.cells(1, 0).potential[1] = 4.0;
    sim.run.cells(2, 0).potential[1] = 6.0;
    // A field at or below 1e-8 is not stretched.
    sim.run.cells(0, 0).potential[2] = 0.0;
    sim.run.cells(1, 0).potential[2] = 5e-9;
    sim.run.cells(2, 0).potential[2] = 0.0;
    // A uniform field above 1e-8 has no scale and is left alone.
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.potential[0] = 3.0;
    NormalizePotentials(sim);
    EXPECT_EQ(sim.run.cells(0, 0).potential[1], 0.0);
    EXPECT_EQ(sim.run.cells(1, 0).potential[1], 5.0);
    EXPECT_EQ(sim.run.cells(2, 0).potential[1], 10.0);
    EXPECT_EQ(sim.run.cells(1, 0).potential[2], 5e-9 * (10.0 / 1e-8));
    for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_EQ(cell.potential[0], 3.0);
}
