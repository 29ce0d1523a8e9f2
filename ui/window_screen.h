#pragma once
#include "run_events.h"
#include "screen_hooks.h"

class DrawingLayers;
class DrawingPanel;
class StatisticsChart;
class QLabel;
class QTimer;
struct Simulation;

// The window as the simulation sees it: the drawing hooks paint on the layers
// what the run says changed, and the run's events reach the timer, the step
// label and the chart.
class WindowScreen : public ScreenHooks, public RunEvents {
public:
    struct Parts {
        DrawingLayers* layers;
        DrawingPanel* panel;
        StatisticsChart* chart;
        QLabel* stepLabel;
        QTimer* timer;
    };

    WindowScreen(Simulation& sim, const Parts& parts) : sim_(sim), parts_(parts) {}

    // ScreenHooks
    void CreateLayers() override;
    void ReleaseLayers() override;
    void DrawCells() override;
    void RedrawCells() override;
    void DrawCell(std::int32_t column, std::int32_t row) override;
    void ClearAgentLayer() override;
    void DrawAgents(std::size_t first, std::size_t count) override;
    void DrawGravityLines(double factor) override;

    // RunEvents
    void StopRequested() override;
    void RunStarted() override;
    void StepCounted(std::int32_t stepCount) override;
    void StepDone(const StepStatistics& statistics) override;

private:
    void ShowDrawing();

    Simulation& sim_;
    Parts parts_;
};
