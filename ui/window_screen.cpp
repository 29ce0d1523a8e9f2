#include "window_screen.h"

#include <QLabel>
#include <QTimer>
#include <utility>

#include "cell_drawing.h"
#include "drawing_layers.h"
#include "drawing_panel.h"
#include "simulation.h"
#include "statistics_chart.h"

void WindowScreen::ShowDrawing()
{
    parts_.panel->ScheduleRepaint();
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
    const auto cells = RecordCellsDrawn(sim_, CellPass::Step);
    parts_.layers->PaintStepPass(std::as_const(sim_), cells, &sim_.splitter);
    ShowDrawing();
}

void WindowScreen::RedrawCells()
{
    const auto cells = RecordCellsDrawn(sim_, CellPass::Redraw);
    parts_.layers->PaintCells(std::as_const(sim_), cells, &sim_.splitter);
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
    parts_.chart->SetCoalescing(false);
}

void WindowScreen::RunStarted()
{
    parts_.chart->CreateChartSeries();
}

void WindowScreen::StepCounted(std::int32_t stepCount)
{
    parts_.stepLabel->setText(QString::number(stepCount));
}

void WindowScreen::StepDone(const StepStatistics& statistics)
{
    parts_.chart->PlotStatistics(statistics);
}
