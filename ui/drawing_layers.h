#pragma once
#include <QImage>
#include <QPoint>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/core/simulation.h"
#include "sim/drawing/cell_drawing.h"
#include "ui/cell_painter.h"

// The two layers of the drawing panel and the passes that paint the run on
// them: the cell layer below (cells and gravity lines) and the agent layer
// above (agent dots; white is transparent, so it is only ever cleared to white).
// The passes only read the simulation; what drawing records in the cells is
// recorded before them (cell_drawing.h).
class DrawingLayers {
public:
    static constexpr int kSide = kPictureSide;

    // Both layers white, panel-sized.
    void Create();
    void Release();

    QImage& CellLayer() { return cellLayer_; }
    QImage& AgentLayer() { return agentLayer_; }
    const QImage& CellLayer() const { return cellLayer_; }
    const QImage& AgentLayer() const { return agentLayer_; }

    void ClearAgentLayer();

    // Paints the cells the drawing pass hands over as it records them, from either
    // worker: each call writes the pixels of its own rows of the cell layer.
    class StretchPainter {
    public:
        StretchPainter(DrawingLayers& layers, const Simulation& sim);
        PaintStretch Hook() { return {&Paint, this}; }

    private:
        static void Paint(void* painter, std::span<const std::uint32_t> cells);

        PixelTarget target_;
        const std::vector<TCell>& grid_;
        bool noDestinations_;
    };
    // The start of the step's pass: the cell layer whitened when "all cells white"
    // or "show no tracks" asks for it.
    void BeginStepPass(const Simulation& sim);

    // The step's pass: the cell layer whitened first when "all cells white" or "show
    // no tracks" asks for it, then the listed cells.
    void PaintStepPass(const Simulation& sim, std::span<const std::uint32_t> cells);
    // The listed cells (indexes in pass order) as their last recorded drawing looks.
    void PaintCells(const Simulation& sim, std::span<const std::uint32_t> cells);
    void PaintCell(const Simulation& sim, std::int32_t column, std::int32_t row);
    // Agents [first, first + count) of the list, in list order.
    void DrawAgents(const Simulation& sim, std::size_t first, std::size_t count);
    // A maroon line from every destination with more than one arrival to the
    // centre of the grid, as wide as its arrivals per step times the factor.
    void DrawGravityLines(const Simulation& sim, double factor);

private:
    // Dots the agent layer can have erased one by one before a whole fill is cheaper.
    static constexpr std::size_t kMostDotsErased = 16384;

    QImage cellLayer_;
    QImage agentLayer_;
    // Nothing drawn on the agent layer since it was last made white: clearing it
    // again, as every step does while agents are not shown, changes no pixel.
    bool agentLayerBlank_ = false;
    // The centres of the dots drawn since the agent layer was last white, while
    // there are few enough: only agents draw there, so whitening their dots makes
    // the layer white again without writing the rest of it.
    std::vector<QPoint> dotsDrawn_;
    bool tooManyDots_ = false;
};
