#include "sim/controls/world_editing.h"

#include "model/rounding.h"

std::optional<CellPosition> CellUnderMouse(const Run& run, std::int32_t x, std::int32_t y)
{
    if (run.cellSize <= 0 || run.cells.Empty()) return std::nullopt;
    const std::int32_t column = static_cast<std::int32_t>(RoundedQuotient(x, run.cellSize));
    const std::int32_t row = static_cast<std::int32_t>(RoundedQuotient(y, run.cellSize));
    if (!run.cells.Contains(column, row)) return std::nullopt;
    return CellPosition{column, row};
}

void AddDestination(Simulation& sim, MouseEditingState& state, std::int32_t x, std::int32_t y)
{
    sim.run.destinations.push_back(Destination{x, y, 0});
    sim.run.editedByHand = true;
    state.lastDestinationIndex = static_cast<std::int32_t>(sim.run.destinations.size()) - 1;
}

void PaintCells(Simulation& sim, const MouseEditingState& state, std::int32_t x, std::int32_t y)
{
    Run& run = sim.run;
    if (!run.ready) return;
    const std::optional<CellPosition> under = CellUnderMouse(run, x, y);
    if (!under) return;
    const auto paint = [&](std::int32_t column, std::int32_t row, std::int32_t kind) {
        TCell& cell = run.cells(column, row);
        SetCellKind(run.landUse, cell, kind);
        run.editedByHand = true;
        if (kind == kDestination) cell.destinationIndex = state.lastDestinationIndex;
        sim.screen().DrawCell(column, row);
    };

    if (state.leftButton && !state.addDestination) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                std::int32_t column = under->column + dx;
                std::int32_t row = under->row + dy;
                WrapCoords(column, row, run.columns, run.rows);
                paint(column, row, kObstacle);
            }
        }
    } else if (state.rightButton) {
        paint(under->column, under->row, kEmpty);
    } else if (state.leftButton && state.addDestination) {
        paint(under->column, under->row, kDestination);
    }
}

void MouseDown(Simulation& sim, MouseEditingState& state, MouseButton button, bool ctrl, std::int32_t x,
               std::int32_t y)
{
    if (button == MouseButton::Right) state.rightButton = true;
    if (button == MouseButton::Left) state.leftButton = true;
    if (ctrl) {
        AddDestination(sim, state, x, y);
        state.addDestination = true;
    }
}

void MouseMove(Simulation& sim, const MouseEditingState& state, std::int32_t x, std::int32_t y)
{
    if (state.leftButton || state.rightButton) PaintCells(sim, state, x, y);
}

void MouseUp(MouseEditingState& state)
{
    state.leftButton = false;
    state.rightButton = false;
    state.addDestination = false;
}
