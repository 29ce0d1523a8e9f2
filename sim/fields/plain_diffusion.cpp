// The diffusion as the model describes it: every neighbour mean into the means
// grid, then every update, one draw per cell in row-major order. The reference
// for the one-pass version (one_pass_diffusion.cpp).
#include "sim/fields/plain_diffusion.h"

#include "sim/fields/field_arithmetic.h"

void DiffusePotentialsPlain(Simulation& sim)
{
    Run& run = sim.run;
    const std::int32_t columns = run.columns;
    const std::int32_t rows = run.rows;
    const UsageParameters& usage = sim.usage;
    run.diffusionSummary.extremesValid = false;
    run.diffusionSummary.candidatesValid = false;

    // All means first, so no cell's update sees an updated neighbour.
    auto means = [&](const RowBlock& block) {
        for (std::int32_t r = block.begin; r < block.end; ++r)
            for (std::int32_t c = 0; c < columns; ++c) NeighbourMean(c, r, columns, rows, run.means, run.cells);
    };
    sim.splitter.ForBlocks(rows, means);

    // Each block starts with the generator advanced by the draws of the rows before it.
    const RandomGenerator start = sim.random;
    auto update = [&](const RowBlock& block) {
        RandomGenerator random = start.JumpedAhead(static_cast<std::uint64_t>(block.begin) * columns);
        for (std::int32_t r = block.begin; r < block.end; ++r) {
            for (std::int32_t c = 0; c < columns; ++c) {
                const long double draw = random.RandomReal();
                for (int f = 0; f < 3; ++f) {
                    double& potential = run.cells.Potential(c, r, f);
                    potential = field_arithmetic::DiffusedValue(run.means.at(f, c, r), usage.diffusion[f], potential,
                                                                draw, usage.noise[f]);
                }
            }
        }
    };
    sim.splitter.ForBlocks(rows, update);
    sim.random = start.JumpedAhead(static_cast<std::uint64_t>(rows) * columns);
}
