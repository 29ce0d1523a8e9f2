#pragma once
#include <QTimer>
#include <span>

#include "sim/core/run_events.h"
#include "sim/core/screen_hooks.h"

class DrawingLayers;
class DrawingPanel;
class StatisticsChart;
class QLabel;
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

    WindowScreen(Simulation& sim, const Parts& parts);

    // While the timer runs, the step label and the chart catch up a few times a
    // second instead of at every step; switching it off brings both up to date.
    void SetCoalescing(bool on);

    // A run loaded from a state: both layers painted afresh from what the cells
    // recorded at their last drawing (nothing is recorded again, so the run goes
    // on as the saved one would), the agents if shown, the step count, and the
    // chart with the saved statistics.
    void ShowLoadedRun(std::span<const StepStatistics> history);

    // ScreenHooks
    bool PaintsCells() const override { return true; }
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
    void ShowStepCount();

    Simulation& sim_;
    Parts parts_;
    bool coalescing_ = false;
    std::int32_t stepCount_ = 0;  // the count the label is to show
    QTimer labelTimer_;
};
