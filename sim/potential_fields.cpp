#include "potential_fields.h"

void DiffusePotentials(Simulation& sim)
{
    Run& run = sim.run;
    const std::int32_t columns = run.columns;
    const std::int32_t rows = run.rows;
    // All means first, so no cell's update sees an updated neighbour.
    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t c = 0; c < columns; ++c) NeighbourMean(c, r, columns, rows, run.means, run.cells);

    const UsageParameters& usage = sim.usage;
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t c = 0; c < columns; ++c) {
            const double draw = sim.random.RandomReal();
            TCell& cell = run.cells(c, r);
            for (int f = 0; f < 3; ++f) {
                const long double mean = run.means.at(f, c, r);
                cell.potential[f] = static_cast<double>(
                    (mean * static_cast<long double>(usage.diffusion[f]) + static_cast<long double>(cell.potential[f])) +
                    static_cast<long double>(draw) * static_cast<long double>(usage.noise[f]));
            }
        }
    }
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
