#pragma once
#include <cstdint>
#include <vector>

#include "cell.h"

// The world: columns x rows cells by value in one contiguous block. Access is
// always (column, row); storage is row by row, so the row-outer, column-inner
// passes walk memory in order.
class TCellList {
public:
    TCellList() = default;
    TCellList(std::int32_t columns, std::int32_t rows)
        : columns_(columns), rows_(rows), cells_(static_cast<std::size_t>(columns) * rows)
    {
    }

    std::int32_t Columns() const { return columns_; }
    std::int32_t Rows() const { return rows_; }
    bool Empty() const { return cells_.empty(); }
    bool Contains(std::int32_t column, std::int32_t row) const
    {
        return column >= 0 && column < columns_ && row >= 0 && row < rows_;
    }

    TCell& operator()(std::int32_t column, std::int32_t row) { return cells_[Index(column, row)]; }
    const TCell& operator()(std::int32_t column, std::int32_t row) const { return cells_[Index(column, row)]; }

    // Cells in pass order: rows outer, columns inner.
    std::vector<TCell>& InPassOrder() { return cells_; }
    const std::vector<TCell>& InPassOrder() const { return cells_; }

    void Clear()
    {
        cells_.clear();
        cells_.shrink_to_fit();
        columns_ = rows_ = 0;
    }

private:
    std::size_t Index(std::int32_t column, std::int32_t row) const
    {
        return static_cast<std::size_t>(row) * columns_ + column;
    }

    std::int32_t columns_ = 0;
    std::int32_t rows_ = 0;
    std::vector<TCell> cells_;
};

// Brings a column and a row onto the torus with one correction each:
// valid for inputs from -n to 2n-1.
inline void WrapCoords(std::int32_t& column, std::int32_t& row, std::int32_t columns, std::int32_t rows)
{
    if (column < 0) column += columns;
    else if (column > columns - 1) column -= columns;
    if (row < 0) row += rows;
    else if (row > rows - 1) row -= rows;
}

// Grid geometry of a cell size on the 404-pixel panel.
inline constexpr std::int32_t kPanelSize = 404;
std::int32_t HalfCell(std::int32_t cellSize);
std::int32_t CellsAlong(std::int32_t panelPixels, std::int32_t cellSize);  // rounded half to even
