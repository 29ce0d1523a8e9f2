#pragma once
#include <cstdint>

struct StepStatistics;

// What the simulation asks of a screen. The window implements it; the headless
// runner keeps these empty defaults. The simulation never waits for or reads
// anything back, so a run is the same with or without a screen.
class DrawingHooks {
public:
    virtual ~DrawingHooks() = default;

    virtual void StopTimer() {}
    virtual void CreateLayers() {}
    virtual void ReleaseLayers() {}
    // The step's pass over all cells (repaints what changed; reads the "Graphic" page).
    virtual void DrawCells() {}
    // One cell changed by set-up, growth, migration or mouse editing: draw mode 0.
    virtual void DrawCell(std::int32_t /*column*/, std::int32_t /*row*/) {}
    virtual void ClearAgentLayer() {}
    virtual void DrawAgents() {}
    virtual void DrawGravityLines(double /*factor*/) {}
    virtual void ShowStepCount(std::int32_t /*stepCount*/) {}
    virtual void CreateChartSeries() {}
    virtual void PlotStatistics(const StepStatistics& /*statistics*/) {}
};
