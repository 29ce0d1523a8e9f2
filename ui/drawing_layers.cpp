#include "ui/drawing_layers.h"

#include <QPainter>
#include <QPen>
#include <algorithm>

#include "model/rounding.h"
#include "ui/cell_painter.h"

namespace {

// Wider pens add nothing on a 404-pixel panel and only cost time.
constexpr int kWidestGravityLine = 1000;

}  // namespace

void DrawingLayers::Create()
{
    cellLayer_ = QImage(kSide, kSide, QImage::Format_RGB32);
    agentLayer_ = QImage(kSide, kSide, QImage::Format_RGB32);
    cellLayer_.fill(colors::kWhite);
    agentLayer_.fill(colors::kWhite);
    agentLayerBlank_ = true;
    dotsDrawn_.clear();
    dotsDrawn_.reserve(kMostDotsErased);
    tooManyDots_ = false;
}

void DrawingLayers::Release()
{
    cellLayer_ = QImage();
    agentLayer_ = QImage();
    dotsDrawn_.clear();
    tooManyDots_ = false;
}

void DrawingLayers::ClearAgentLayer()
{
    if (agentLayer_.isNull() || agentLayerBlank_) return;
    if (tooManyDots_) {
        FillLayer(agentLayer_, colors::kWhite);
    } else {
        PixelTarget target(agentLayer_);
        for (const QPoint& dot : dotsDrawn_) target.Dot(dot.x(), dot.y(), colors::kWhite, colors::kWhite);
    }
    dotsDrawn_.clear();
    tooManyDots_ = false;
    agentLayerBlank_ = true;
}

DrawingLayers::StretchPainter::StretchPainter(DrawingLayers& layers, const Simulation& sim)
    : target_(layers.cellLayer_), grid_(sim.run.cells.InPassOrder()), noDestinations_(sim.controls.cb_noDesti)
{
}

void DrawingLayers::StretchPainter::Paint(void* painter, std::span<const std::uint32_t> cells)
{
    auto& self = *static_cast<StretchPainter*>(painter);
    PixelTarget target = self.target_;  // a copy per call: the two workers share nothing they write
    for (const std::uint32_t index : cells) ::PaintCell(target, self.grid_[index], self.noDestinations_);
}

void DrawingLayers::BeginStepPass(const Simulation& sim)
{
    const ControlState& controls = sim.controls;
    if ((controls.CB_noTracks || controls.CB_showOrig) && !cellLayer_.isNull()) FillLayer(cellLayer_, colors::kWhite);
}

void DrawingLayers::PaintStepPass(const Simulation& sim, std::span<const std::uint32_t> cells)
{
    BeginStepPass(sim);
    PaintCells(sim, cells);
}

void DrawingLayers::PaintCells(const Simulation& sim, std::span<const std::uint32_t> cells)
{
    StretchPainter painter(*this, sim);
    const PaintStretch hook = painter.Hook();
    hook.paint(hook.context, cells);
}

void DrawingLayers::PaintCell(const Simulation& sim, std::int32_t column, std::int32_t row)
{
    if (!sim.run.cells.Contains(column, row)) return;
    PixelTarget target(cellLayer_);
    ::PaintCell(target, sim.run.cells(column, row), sim.controls.cb_noDesti);
}

void DrawingLayers::DrawAgents(const Simulation& sim, std::size_t first, std::size_t count)
{
    PixelTarget target(agentLayer_);
    const std::vector<TAgent>& agents = sim.run.agents;
    const std::size_t end = std::min(agents.size(), first + count);
    for (std::size_t i = first; i < end; ++i) {
        DrawAgent(target, agents[i]);
        if (dotsDrawn_.size() < kMostDotsErased) dotsDrawn_.emplace_back(agents[i].pixelX, agents[i].pixelY);
        else tooManyDots_ = true;
    }
    if (first < end) agentLayerBlank_ = false;
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
