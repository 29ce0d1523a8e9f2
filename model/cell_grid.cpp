#include "model/cell_grid.h"

#include "model/rounding.h"

std::int32_t HalfCell(std::int32_t cellSize)
{
    // Floor, also for negative sizes (which the panel never lets through).
    return cellSize >= 0 ? cellSize / 2 : -((-cellSize + 1) / 2);
}

std::int32_t CellsAlong(std::int32_t panelPixels, std::int32_t cellSize)
{
    return static_cast<std::int32_t>(RoundedQuotient(panelPixels, cellSize));
}
