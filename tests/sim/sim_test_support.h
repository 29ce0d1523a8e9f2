#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/simulation.h"

// A run of the given shape with every cell empty, no destinations and no
// agents, ready for a phase to act on. Usage parameters are the defaults.
void MakeEmptyRun(Simulation& sim, std::int32_t columns, std::int32_t rows, std::int32_t cellSize = 2);

// Appends a searching agent standing at (column, row), which is also its home.
TAgent& AddAgentAt(Simulation& sim, std::int32_t column, std::int32_t row, std::int32_t heading = 0);

// A generator state whose next real draw is exactly 0.5 (the next seed is 2^31).
RandomGenerator GeneratorDrawingOneHalf();

// A generator state whose next Random(range) gives `wanted`.
RandomGenerator GeneratorDrawing(std::int32_t range, std::int32_t wanted);

// Records what the model asks of the screen and tells of the run.
class RecordingHooks : public ScreenHooks, public RunEvents {
public:
    void StopRequested() override { ++timerStops; }
    void DrawCell(std::int32_t column, std::int32_t row) override { drawnCells.push_back({column, row}); }
    void DrawAgents(std::size_t first, std::size_t count) override { drawnAgents.push_back({first, count}); }
    void StepDone(const StepStatistics& statistics) override;
    int timerStops = 0;
    std::vector<std::pair<std::int32_t, std::int32_t>> drawnCells;
    std::vector<std::pair<std::size_t, std::size_t>> drawnAgents;  // (first, count)
    std::vector<std::int32_t> plottedSteps;
};
