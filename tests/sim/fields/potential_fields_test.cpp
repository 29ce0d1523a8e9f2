#include <gtest/gtest.h>

#include <cmath>

#include "sim/fields/field_normalisation.h"
#include "sim/fields/potential_fields.h"
#include "tests/sim/sim_test_support.h"

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
    for (std::size_t i = 0; i < sim.run.cells.InPassOrder().size(); ++i)
        for (double v : sim.run.cells.PotentialsAt(i)) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(sim.random.seed, RandomGenerator{}.JumpedAhead(30).seed);  // one draw per cell
}

TEST(PotentialFields, OnePeakSpreadsAnEighthToEachNeighbourAcrossTheEdges)
{
    Simulation sim;
    MakeEmptyRun(sim, 6, 5);
    NoNoise(sim);
    sim.run.cells.Potential(0, 0, 0) = 10.0;
    DiffusePotentials(sim);
    NormalizePotentials(sim);
    for (std::int32_t r = 0; r < 5; ++r) {
        for (std::int32_t c = 0; c < 6; ++c) {
            const bool centre = c == 0 && r == 0;
            const bool neighbour = !centre && (c <= 1 || c == 5) && (r <= 1 || r == 4);
            EXPECT_EQ(sim.run.cells.Potential(c, r, 0), centre ? 10.0 : neighbour ? 1.25 : 0.0) << c << "," << r;
        }
    }
}

TEST(PotentialFields, FieldsOfACellShareItsDraw)
{
    // Zero fields, no diffusion, noise 3, 3 and 1 on a 4 x 4 grid from seed 0. The
    // draws are the first sixteen seeds times 2^-32; each value below is 3 r (fields
    // 0 and 1) or r (field 2), worked out exactly with python3 fractions and written
    // as the shortest decimal of that double.
    Simulation sim;
    MakeEmptyRun(sim, 4, 4);
    sim.usage.diffusion = {0.0, 0.0, 0.0};
    sim.usage.noise = {3.0, 3.0, 1.0};
    struct Expected {
        double threeR;
        double r;
    };
    // In pass order: rows outer, columns inner.
    const Expected expected[16] = {
        {6.984919309616089e-10, 2.3283064365386963e-10},  // seed 1
        {0.09413981856778264, 0.031379939522594213},      // seed 134775814
        {2.5831454016733915, 0.8610484672244638},         // seed 3698175007
        {0.6077428953722119, 0.20258096512407064},        // seed 870078620
        {0.8187638015951961, 0.2729212671983987},
        {2.0149632557295263, 0.6716544185765088},
        {0.956073813373223, 0.31869127112440765},
        {0.48538639582693577, 0.16179546527564526},
        {1.1167150761466473, 0.3722383587155491},
        {1.2770213023759425, 0.4256737674586475},
        {0.24603647855110466, 0.08201215951703489},
        {1.4243821939453483, 0.4747940646484494},
        {0.21170799038372934, 0.07056933012790978},
        {2.52256330428645, 0.84085443476215},
        {0.17917270422913134, 0.05972423474304378},
        {0.879889715462923, 0.29329657182097435},
    };
    DiffusePotentials(sim);
    for (std::int32_t r = 0; r < 4; ++r) {
        for (std::int32_t c = 0; c < 4; ++c) {
            const std::array<double, 3> cell = sim.run.cells.Potentials(c, r);
            const Expected& e = expected[r * 4 + c];
            EXPECT_EQ(cell[0], e.threeR) << c << "," << r;
            EXPECT_EQ(cell[1], e.threeR) << c << "," << r;
            EXPECT_EQ(cell[2], e.r) << c << "," << r;
        }
    }
}

TEST(PotentialFields, NewValueIsWeightedMeanPlusOldPlusNoise)
{
    // A 3 x 3 torus, where the eight neighbours of a cell are all the other cells.
    // Every field holds 8 at the centre and 0 elsewhere, so an outer cell's mean is 1
    // and the centre's is 0. Coefficients 0.5, 0.25, 0 and noise 2, 0, 1 give
    //   field 0: 0.5 + 2 r outside, 8 + 2 r at the centre;
    //   field 1: 0.25 outside, 8 at the centre;
    //   field 2: r outside, 8 + r at the centre,
    // with r the cell's draw from seed 0 in pass order. Worked out exactly with
    // python3 fractions; every value is exact in a double.
    Simulation sim;
    MakeEmptyRun(sim, 3, 3);
    sim.usage.diffusion = {0.5, 0.25, 0.0};
    sim.usage.noise = {2.0, 0.0, 1.0};
    sim.run.cells.SetPotentials(1, 1, {8.0, 8.0, 8.0});
    const double expected[9][3] = {
        {0.5000000004656613, 0.25, 2.3283064365386963e-10},
        {0.5627598790451884, 0.25, 0.031379939522594213},
        {2.2220969344489276, 0.25, 0.8610484672244638},
        {0.9051619302481413, 0.25, 0.20258096512407064},
        {8.545842534396797, 8.0, 8.272921267198399},
        {1.8433088371530175, 0.25, 0.6716544185765088},
        {1.1373825422488153, 0.25, 0.31869127112440765},
        {0.8235909305512905, 0.25, 0.16179546527564526},
        {1.2444767174310982, 0.25, 0.3722383587155491},
    };
    DiffusePotentials(sim);
    for (std::int32_t r = 0; r < 3; ++r)
        for (std::int32_t c = 0; c < 3; ++c)
            for (int f = 0; f < 3; ++f)
                EXPECT_EQ(sim.run.cells.Potential(c, r, f), expected[r * 3 + c][f]) << c << "," << r << " field " << f;
    EXPECT_EQ(sim.random.seed, 1598751577u);  // the ninth seed from 0: one draw per cell
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
    for (std::size_t i = 0; i < sim.run.cells.InPassOrder().size(); ++i) sim.run.cells.PotentialAt(i, 0) = 1.0;
    sim.run.cells.Potential(0, 0, 0) = std::ldexp(1.0, -53);
    sim.random = GeneratorDrawingOneHalf();
    DiffusePotentials(sim);
    EXPECT_EQ(sim.run.cells.Potential(0, 0, 0), 1.0 + std::ldexp(1.0, -52));
}

TEST(PotentialFields, NormalisationRescalesToTen)
{
    Simulation sim;
    MakeEmptyRun(sim, 3, 1);
    sim.run.cells.Potential(0, 0, 1) = 2.0;
    sim.run.cells.Potential(1, 0, 1) = 4.0;
    sim.run.cells.Potential(2, 0, 1) = 6.0;
    // A field at or below 1e-8 is not stretched.
    sim.run.cells.Potential(0, 0, 2) = 0.0;
    sim.run.cells.Potential(1, 0, 2) = 5e-9;
    sim.run.cells.Potential(2, 0, 2) = 0.0;
    // A uniform field above 1e-8 has no scale and is left alone.
    for (std::size_t i = 0; i < sim.run.cells.InPassOrder().size(); ++i) sim.run.cells.PotentialAt(i, 0) = 3.0;
    NormalizePotentials(sim);
    EXPECT_EQ(sim.run.cells.Potential(0, 0, 1), 0.0);
    EXPECT_EQ(sim.run.cells.Potential(1, 0, 1), 5.0);
    EXPECT_EQ(sim.run.cells.Potential(2, 0, 1), 10.0);
    // max stays at its start 1e-8 and min is 0: 5e-9 * (10 / 1e-8) is 5 in doubles.
    EXPECT_EQ(sim.run.cells.Potential(1, 0, 2), 5.0);
    for (std::size_t i = 0; i < sim.run.cells.InPassOrder().size(); ++i) EXPECT_EQ(sim.run.cells.PotentialAt(i, 0), 3.0);
}
