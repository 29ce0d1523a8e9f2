#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/cell.h"

// The world: columns x rows cells by value in one contiguous block, and beside
// them the cells' three potential fields, one contiguous array per field. Access
// is always (column, row) or an index in pass order; storage is row by row, so the
// row-outer, column-inner passes walk memory in order.
class TCellList {
public:
    TCellList() = default;
    TCellList(std::int32_t columns, std::int32_t rows)
        : columns_(columns), rows_(rows), cells_(static_cast<std::size_t>(columns) * rows)
    {
        for (std::vector<double>& field : potentials_) field.assign(cells_.size(), 0.0);
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
    // The pass-order index of the cell at (column, row), and of a cell of this grid.
    std::size_t IndexOf(std::int32_t column, std::int32_t row) const { return Index(column, row); }
    std::size_t IndexOf(const TCell& cell) const { return static_cast<std::size_t>(&cell - cells_.data()); }

    // The cell's value of potential field f (a PotentialField), by position or by
    // pass-order index.
    double& Potential(std::int32_t column, std::int32_t row, int f) { return potentials_[f][Index(column, row)]; }
    double Potential(std::int32_t column, std::int32_t row, int f) const { return potentials_[f][Index(column, row)]; }
    double& PotentialAt(std::size_t index, int f) { return potentials_[f][index]; }
    double PotentialAt(std::size_t index, int f) const { return potentials_[f][index]; }
    // All three of the cell's fields: population, service, industry.
    std::array<double, 3> PotentialsAt(std::size_t index) const
    {
        return {potentials_[0][index], potentials_[1][index], potentials_[2][index]};
    }
    std::array<double, 3> Potentials(std::int32_t column, std::int32_t row) const
    {
        return PotentialsAt(Index(column, row));
    }
    void SetPotentials(std::int32_t column, std::int32_t row, const std::array<double, 3>& values)
    {
        for (int f = 0; f < 3; ++f) potentials_[f][Index(column, row)] = values[f];
    }
    // One field's values of every cell, in pass order.
    double* Field(int f) { return potentials_[f].data(); }
    const double* Field(int f) const { return potentials_[f].data(); }

    void Clear()
    {
        cells_.clear();
        cells_.shrink_to_fit();
        for (std::vector<double>& field : potentials_) {
            field.clear();
            field.shrink_to_fit();
        }
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
    std::array<std::vector<double>, 3> potentials_;  // [field][pass-order index]
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
