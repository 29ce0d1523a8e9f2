#pragma once
#include <cstdint>
#include <optional>

#include "sim/core/simulation.h"
#include "sim/phases/growth.h"

// The state of a mouse gesture on the drawing panel.
struct MouseEditingState {
    bool leftButton = false;
    bool rightButton = false;
    bool addDestination = false;         // fixed when the button goes down with Ctrl
    std::int32_t lastDestinationIndex = 0;
};

enum class MouseButton { Left, Right, Other };

// The cell under a panel pixel: x / cell size and y / cell size, each rounded
// half to even; nothing when that lies outside the grid.
std::optional<CellPosition> CellUnderMouse(const Run& run, std::int32_t x, std::int32_t y);

void AddDestination(Simulation& sim, MouseEditingState& state, std::int32_t x, std::int32_t y);
// Applies the gesture to the cells under (x, y): a 3 x 3 block of obstacles
// (left), erasing (right), or a destination cell (left begun with Ctrl).
// A position outside the grid paints nothing.
void PaintCells(Simulation& sim, const MouseEditingState& state, std::int32_t x, std::int32_t y);

void MouseDown(Simulation& sim, MouseEditingState& state, MouseButton button, bool ctrl, std::int32_t x,
               std::int32_t y);
void MouseMove(Simulation& sim, const MouseEditingState& state, std::int32_t x, std::int32_t y);
void MouseUp(MouseEditingState& state);
