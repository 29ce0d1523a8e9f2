#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "model/cell_grid.h"

// Neighbour means of the three potential fields, extended precision, shaped
// like the cell grid and stored like it (row by row).
struct TLimbo {
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::array<std::vector<long double>, 3> fields;

    void Resize(std::int32_t newColumns, std::int32_t newRows);
    void Clear();
    long double& at(int field, std::int32_t column, std::int32_t row)
    {
        return fields[field][static_cast<std::size_t>(row) * columns + column];
    }
};

// For each field, the mean over the eight wrapped neighbours of (column, row),
// accumulated in extended precision: the 3 x 3 sum, minus the centre, over 8.
void NeighbourMean(std::int32_t column, std::int32_t row, std::int32_t columns, std::int32_t rows, TLimbo& means,
                   const TCellList& grid);

// Agents in the wrapped 3 x 3 block around (column, row), minus 1.
std::int32_t NeighbourAgentCount(std::int32_t column, std::int32_t row, const TCellList& grid);
