#pragma once
#include <array>
#include <cstdint>

#include "model/cell.h"
#include "model/cell_grid.h"

// How many cells of each kind the grid holds, indexed by kind (empty .. industry).
// Kept up to date where a kind changes, so a step's statistics need no scan.
using LandUse = std::array<std::int32_t, 6>;

// The counts by a scan of the grid.
LandUse CountLandUse(const TCellList& cells);

// Gives the cell its new kind and moves it from one count to the other.
inline void SetCellKind(LandUse& landUse, TCell& cell, std::int32_t kind)
{
    --landUse[static_cast<std::size_t>(cell.kind)];
    ++landUse[static_cast<std::size_t>(kind)];
    cell.kind = kind;
}
