#include "ui/window_screen.h"

#include <QLabel>
#include <QTimer>
#include <utility>
#include <vector>

#include "sim/core/simulation.h"
#include "sim/drawing/cell_drawing.h"
#include "ui/drawing_layers.h"
#include "ui/drawing_panel.h"
#include "ui/statistics_chart.h"

namespace {
// The step label's refresh while the timer runs: as often as the panel's frames.
constexpr int kLabelMilliseconds = 16;
}  // namespace

WindowScreen::WindowScreen(Simulation& sim, const Parts& parts) : sim_(sim), parts_(parts)
{
    labelTimer_.setSingleShot(true);
    labelTimer_.setInterval(kLabelMilliseconds);
    QObject::connect(&labelTimer_, &QTimer::timeout, [this] { ShowStepCount(); });
}

void WindowScreen::SetCoalescing(bool on)
{
    coalescing_ = on;
    parts_.chart->SetCoalescing(on);
    if (!on && labelTimer_.isActive()) ShowStepCount();  // a count is waiting
}

void WindowScreen::ShowStepCount()
{
    labelTimer_.stop();
    // A label told the text it already shows repaints nothing.
    parts_.stepLabel->setText(QString::number(stepCount_));
}

void WindowScreen::ShowDrawing()
{
    parts_.panel->ScheduleRepaint();
}

void WindowScreen::ShowLoadedRun(std::span<const StepStatistics> history)
{
    parts_.layers->Create();
    if (sim_.run.drawingRecorded) {
        std::vector<std::uint32_t> everyCell(sim_.run.cells.InPassOrder().size());
        for (std::size_t i = 0; i < everyCell.size(); ++i) everyCell[i] = static_cast<std::uint32_t>(i);
        parts_.layers->PaintCells(std::as_const(sim_), everyCell);
    } else {
        StartDrawingRecord(sim_);  // saved without its drawing: every cell drawn afresh
    }
    if (sim_.controls.CB_showAg) parts_.layers->DrawAgents(std::as_const(sim_), 0, sim_.run.agents.size());
    ShowDrawing();
    parts_.chart->CreateChartSeries();
    for (const StepStatistics& step : history) parts_.chart->PlotStatistics(step);
    parts_.chart->Flush();
    stepCount_ = sim_.run.stepCount;
    ShowStepCount();
}

void WindowScreen::CreateLayers()
{
    parts_.layers->Create();
    ShowDrawing();
}

void WindowScreen::ReleaseLayers()
{
    parts_.layers->Release();
    ShowDrawing();
}

void WindowScreen::DrawCells()
{
    parts_.layers->BeginStepPass(sim_);
    DrawingLayers::StretchPainter painter(*parts_.layers, sim_);
    RecordCellsDrawn(sim_, CellPass::Step, painter.Hook());
    ShowDrawing();
}

void WindowScreen::RedrawCells()
{
    DrawingLayers::StretchPainter painter(*parts_.layers, sim_);
    RecordCellsDrawn(sim_, CellPass::Redraw, painter.Hook());
    ShowDrawing();
}

void WindowScreen::DrawCell(std::int32_t column, std::int32_t row)
{
    if (RecordCellDrawn(sim_, column, row)) parts_.layers->PaintCell(std::as_const(sim_), column, row);
    ShowDrawing();
}

void WindowScreen::ClearAgentLayer()
{
    parts_.layers->ClearAgentLayer();
    ShowDrawing();
}

void WindowScreen::DrawAgents(std::size_t first, std::size_t count)
{
    parts_.layers->DrawAgents(std::as_const(sim_), first, count);
    ShowDrawing();
}

void WindowScreen::DrawGravityLines(double factor)
{
    parts_.layers->DrawGravityLines(std::as_const(sim_), factor);
    ShowDrawing();
}

void WindowScreen::StopRequested()
{
    parts_.timer->stop();
    SetCoalescing(false);
}

void WindowScreen::RunStarted()
{
    parts_.chart->CreateChartSeries();
}

void WindowScreen::StepCounted(std::int32_t stepCount)
{
    stepCount_ = stepCount;
    if (!coalescing_) ShowStepCount();
    else if (!labelTimer_.isActive()) labelTimer_.start();
}

void WindowScreen::StepDone(const StepStatistics& statistics)
{
    parts_.chart->PlotStatistics(statistics);
}
