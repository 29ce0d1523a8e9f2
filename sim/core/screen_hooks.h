#pragma once
#include <cstddef>
#include <cstdint>

// What the simulation asks of a screen, in the spirit of a debug-draw table: each
// call says what changed, and the screen draws it from the simulation's state
// without reaching back into the run. The window implements it; without a screen
// these empty defaults draw nothing. Nothing read back changes the run, so a run is
// the same with or without a screen.
class ScreenHooks {
public:
    virtual ~ScreenHooks() = default;

    // True when the step's cell pass paints: the step's normalisation pass then
    // also lists the cells whose traffic moved, sparing the drawing a scan of its own.
    virtual bool PaintsCells() const { return false; }

    virtual void CreateLayers() {}
    virtual void ReleaseLayers() {}
    // The step's pass over all cells: repaint what the "Graphic" page asks for.
    virtual void DrawCells() {}
    // Every cell again, in the draw mode of the "Graphic" page.
    virtual void RedrawCells() {}
    // One cell changed (set-up, growth, migration, mouse editing).
    virtual void DrawCell(std::int32_t /*column*/, std::int32_t /*row*/) {}
    virtual void ClearAgentLayer() {}
    // Agents [first, first + count) of the list, drawn in list order over what the
    // agent layer shows.
    virtual void DrawAgents(std::size_t /*first*/, std::size_t /*count*/) {}
    virtual void DrawGravityLines(double /*factor*/) {}
};
