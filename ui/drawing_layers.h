#pragma once
#include <QImage>

#include "simulation.h"

// The two layers of the drawing panel and the passes that paint the run on
// them: the cell layer below (cells and gravity lines) and the agent layer
// above (agent dots; white is transparent, so it is only ever cleared to white).
// The passes read the "Graphic" page from the simulation's control state.
class DrawingLayers {
public:
    static constexpr int kSide = 404;

    // Both layers white, panel-sized.
    void Create();
    void Release();
    bool Exists() const { return !cellLayer_.isNull(); }

    QImage& CellLayer() { return cellLayer_; }
    QImage& AgentLayer() { return agentLayer_; }
    const QImage& CellLayer() const { return cellLayer_; }
    const QImage& AgentLayer() const { return agentLayer_; }

    void ClearAgentLayer();
    // The step's pass: repaints the cells whose traffic moved (or, with the
    // potential field shown, every cell), after whitening the layer when "all
    // cells white" or "show no tracks" asks for it.
    void DrawCells(Simulation& sim);
    // Full redraw of every cell in the draw mode of the "Graphic" page.
    void RedrawCells(Simulation& sim);
    // Draws the agents of the list from index `from` on, in list order.
    void DrawAgents(const Simulation& sim, std::size_t from = 0);
    // One changed cell, as set-up, growth, migration and mouse editing draw it.
    void DrawSingleCell(Simulation& sim, std::int32_t column, std::int32_t row);
    // A maroon line from every destination with more than one arrival to the
    // centre of the grid, as wide as its arrivals per step times the factor.
    void DrawGravityLines(const Simulation& sim, double factor);

private:
    // Copies the run's display range into every cell, unless every cell already
    // holds it: each pass gives all cells the same copy, so one record of the
    // last copy stands for the whole grid.
    void CopyRangeIntoCells(Simulation& sim);

    QImage cellLayer_;
    QImage agentLayer_;
    bool rangeCopied_ = false;  // false for a new grid until a pass has copied the range
    long double copiedMax_ = 0.0L;
    long double copiedMin_ = 0.0L;
};

// The draw mode the "Graphic" page selects: potential field, return tracks or all tracks.
int SelectedDrawMode(const ControlState& controls);
