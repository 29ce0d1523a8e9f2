#include "potential_fields.h"

void DiffusePotentials(Simulation& sim)
{
    Run& run = sim.run;
    const std::int32_t columns = run.columns;
    const std::int32_t rows = run.rows;
    const std::int32_t middle = rows / 2;
    const UsageParameters& usage = sim.usage;

    // All means first, so no cell's update sees an updated neighbour.
    auto means = [&](std::int32_t rowBegin, std::int32_t rowEnd) {
        for (std::int32_t r = rowBegin; r < rowEnd; ++r)
            for (std::int32_t c = 0; c < columns; ++c) NeighbourMean(c, r, columns, rows, run.means, run.cells);
    };
    sim.splitter.ForHalves(rows, middle, means);

    // One draw per cell in row-major order: the half from `middle` on starts with
    // the generator advanced by the draws of the rows before it.
    const RandomGenerator start = sim.random;
    auto update = [&](std::int32_t rowBegin, std::int32_t rowEnd) {
        RandomGenerator random = start.JumpedAhead(static_cast<std::uint64_t>(rowBegin) * columns);
        for (std::int32_t r = rowBegin; r < rowEnd; ++r) {
            for (std::int32_t c = 0; c < columns; ++c) {
                const long double draw = random.RandomReal();
                TCell& cell = run.cells(c, r);
                for (int f = 0; f < 3; ++f) {
                    const long double mean = run.means.at(f, c, r);
                    cell.potential[f] = static_cast<double>(
                        (mean * static_cast<long double>(usage.diffusion[f]) + static_cast<long double>(cell.potential[f])) +
                        draw * static_cast<long double>(usage.noise[f]));
                }
            }
        }
    };
    sim.splitter.ForHalves(rows, middle, update);
    sim.random = start.JumpedAhead(static_cast<std::uint64_t>(rows) * columns);
}

void NormalizePotentials(Simulation& sim)
{
    // Each field is rescaled on its own; the three share one scan and one pass
    // because no field's result depends on another's.
    std::vector<TCell>& cells = sim.run.cells.InPassOrder();
    std::array<double, 3> max{1e-8, 1e-8, 1e-8};
    std::array<double, 3> min{9999999999.0, 9999999999.0, 9999999999.0};
    for (const TCell& cell : cells) {
        for (int f = 0; f < 3; ++f) {
            const double value = cell.potential[f];
            if (value > max[f]) max[f] = value;
            if (value < min[f]) min[f] = value;
        }
    }
    std::array<double, 3> scale{};
    std::array<bool, 3> rescale{};
    for (int f = 0; f < 3; ++f) {
        rescale[f] = max[f] != min[f];  // a uniform field has no scale: keep it
        if (rescale[f]) scale[f] = 10.0 / (max[f] - min[f]);
    }
    for (TCell& cell : cells)
        for (int f = 0; f < 3; ++f)
            if (rescale[f]) cell.potential[f] = (cell.potential[f] - min[f]) * scale[f];
}
