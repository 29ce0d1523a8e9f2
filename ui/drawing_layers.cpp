#include "drawing_layers.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cstring>

#include "cell_painter.h"
#include "rounding.h"

namespace {

// Wider pens add nothing on a 404-pixel panel and only cost time.
constexpr int kWidestGravityLine = 1000;

}  // namespace

void DrawingLayers::CopyRangeIntoCells(Simulation& sim)
{
    const Run& run = sim.run;
    // Values equal under == draw alike (only 0 and -0 differ otherwise), so they need no copy.
    if (rangeCopied_ && copiedMax_ == run.displayMax && copiedMin_ == run.displayMin) return;
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        // Byte copies: the values are only passed on here, and copying them through
        // the extended-precision unit costs more than the rest of a cell's drawing.
        std::memcpy(&cell.displayMax, &run.displayMax, sizeof run.displayMax);
        std::memcpy(&cell.displayMin, &run.displayMin, sizeof run.displayMin);
    }
    rangeCopied_ = true;
    copiedMax_ = run.displayMax;
    copiedMin_ = run.displayMin;
}

int SelectedDrawMode(const ControlState& controls)
{
    if (controls.CB_potField) return kDrawPotentialField;
    return controls.CB_showAB ? kDrawReturnTracks : kDrawAllTracks;
}

void DrawingLayers::Create()
{
    cellLayer_ = QImage(kSide, kSide, QImage::Format_RGB32);
    agentLayer_ = QImage(kSide, kSide, QImage::Format_RGB32);
    cellLayer_.fill(colors::kWhite);
    agentLayer_.fill(colors::kWhite);
    rangeCopied_ = false;  // a set-up follows with a new grid
}

void DrawingLayers::Release()
{
    cellLayer_ = QImage();
    agentLayer_ = QImage();
}

void DrawingLayers::ClearAgentLayer()
{
    if (!agentLayer_.isNull()) FillLayer(agentLayer_, colors::kWhite);
}

void DrawingLayers::DrawCells(Simulation& sim)
{
    const ControlState& controls = sim.controls;
    if (controls.CB_noTracks || controls.CB_showOrig) FillLayer(cellLayer_, colors::kWhite);
    if (controls.CB_noTracks) return;

    if (controls.CB_potField) {
        // The full redraw copies the range into every cell and draws it; the
        // per-cell pass that would follow it in the potential-field mode then
        // draws every cell again exactly as it stands, or none, so it is left out.
        RedrawCells(sim);
        return;
    }
    const int drawMode = controls.CB_showAB ? kDrawReturnTracks : kDrawAllTracks;

    const Run& run = sim.run;
    const bool noDestinations = controls.cb_noDesti;
    const bool onlyKinds = controls.CB_showOrig;
    // Every cell gets the same copy of the range, so one scale serves them all.
    const GrayScale scale = GrayScale::Of(run.displayMax, run.displayMin);
    CopyRangeIntoCells(sim);
    PixelTarget target(cellLayer_);
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        if (onlyKinds) {
            if (cell.kind != kEmpty) DrawCell(target, cell, drawMode, noDestinations, scale);
        } else {
            DrawCellIfChanged(target, cell, drawMode, noDestinations, scale);
        }
    }
}

void DrawingLayers::RedrawCells(Simulation& sim)
{
    const int drawMode = SelectedDrawMode(sim.controls);
    const bool noDestinations = sim.controls.cb_noDesti;
    const Run& run = sim.run;
    const GrayScale scale = GrayScale::Of(run.displayMax, run.displayMin);
    CopyRangeIntoCells(sim);
    PixelTarget target(cellLayer_);
    for (TCell& cell : sim.run.cells.InPassOrder()) DrawCell(target, cell, drawMode, noDestinations, scale);
}

void DrawingLayers::DrawAgents(const Simulation& sim, std::size_t from)
{
    PixelTarget target(agentLayer_);
    const std::vector<TAgent>& agents = sim.run.agents;
    for (std::size_t i = from; i < agents.size(); ++i) DrawAgent(target, agents[i]);
}

void DrawingLayers::DrawSingleCell(Simulation& sim, std::int32_t column, std::int32_t row)
{
    if (!sim.run.cells.Contains(column, row)) return;
    DrawCell(cellLayer_, sim.run.cells(column, row), kDrawAllTracks, sim.controls.cb_noDesti);
}

void DrawingLayers::DrawGravityLines(const Simulation& sim, double factor)
{
    const Run& run = sim.run;
    if (cellLayer_.isNull() || run.stepCount <= 0 || run.cellSize <= 0) return;
    const int centreX = static_cast<int>(RoundedQuotient(run.columns, 2)) * run.cellSize + run.halfCell;
    const int centreY = static_cast<int>(RoundedQuotient(run.rows, 2)) * run.cellSize + run.halfCell;

    QPainter painter(&cellLayer_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const Destination& destination : run.destinations) {
        if (destination.arrivals <= 1) continue;
        const long double width =
            static_cast<long double>(destination.arrivals) / run.stepCount * static_cast<long double>(factor);
        // Width 0 is Qt's cosmetic one-pixel pen, the thinnest there is.
        const int penWidth = std::clamp(RoundHalfEven(width), 0, kWidestGravityLine);
        painter.setPen(QPen(QColor::fromRgb(colors::kMaroon), penWidth, Qt::SolidLine));
        painter.drawLine(destination.pixelX, destination.pixelY, centreX, centreY);
    }
}
