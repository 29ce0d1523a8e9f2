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
    std::vector<TCell>& cells = sim.run.cells.InPassOrder();
    for (int f = 0; f < 3; ++f) {
        double max = 1e-8;
        double min = 9999999999.0;
        for (const TCell& cell : cells) {
            const double value = cell.potential[f];
            if (value > max) max = value;
            if (value < min) min = value;
        }
        if (max == min) continue;  // a uniform field has no scale: keep it
        const double scale = 10.0 / (max - min);
        for (TCell& cell : cells) cell.potential[f] = (cell.potential[f] - min) * scale;
    }
}
