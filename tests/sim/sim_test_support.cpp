#include "tests/sim/sim_test_support.h"

#include "sim/core/statistics.h"

void MakeEmptyRun(Simulation& sim, std::int32_t columns, std::int32_t rows, std::int32_t cellSize)
{
    Run& run = sim.run;
    run = Run{};
    run.cellSize = cellSize;
    run.halfCell = cellSize / 2;
    run.columns = columns;
    run.rows = rows;
    run.cells = TCellList(columns, rows);
    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t c = 0; c < columns; ++c)
            run.cells(c, r) = TCell(c * cellSize + run.halfCell, r * cellSize + run.halfCell, run.halfCell);
    run.means.Resize(columns, rows);
    run.returnMode = ReturnMode::UseExistingTracks;
    run.ready = true;
    ResetUsageTable(sim.controls, sim.usage);
}

TAgent& AddAgentAt(Simulation& sim, std::int32_t column, std::int32_t row, std::int32_t heading)
{
    TAgent agent;
    agent.column = agent.homeColumn = column;
    agent.row = agent.homeRow = row;
    agent.heading = heading;
    sim.run.cells(column, row).agentCount += 1;
    sim.run.agents.push_back(agent);
    return sim.run.agents.back();
}

RandomGenerator GeneratorDrawingOneHalf()
{
    std::uint32_t inverse = RandomGenerator::kMultiplier;  // Newton iteration for the inverse mod 2^32
    for (int i = 0; i < 5; ++i) inverse *= 2u - RandomGenerator::kMultiplier * inverse;
    return RandomGenerator{(0x80000000u - RandomGenerator::kIncrement) * inverse};
}

RandomGenerator GeneratorDrawing(std::int32_t range, std::int32_t wanted)
{
    for (std::uint32_t seed = 0;; ++seed) {
        RandomGenerator probe{seed};
        if (probe.Random(range) == wanted) return RandomGenerator{seed};
    }
}

void RecordingHooks::StepDone(const StepStatistics& statistics)
{
    plottedSteps.push_back(statistics.step);
}
