#include "model/neighbourhood.h"

void TLimbo::Resize(std::int32_t newColumns, std::int32_t newRows)
{
    columns = newColumns;
    rows = newRows;
    for (auto& field : fields) field.assign(static_cast<std::size_t>(newColumns) * newRows, 0.0L);
}

void TLimbo::Clear()
{
    columns = rows = 0;
    for (auto& field : fields) {
        field.clear();
        field.shrink_to_fit();
    }
}

void NeighbourMean(std::int32_t column, std::int32_t row, std::int32_t columns, std::int32_t rows, TLimbo& means,
                   const TCellList& grid)
{
    // Wrap the neighbourhood once, then sum each field over the 3 x 3 block in the
    // fixed order (rows above to below, columns left to right), keeping the sum in
    // an extended-precision register: the same bits as summing in the grid itself.
    std::int32_t left = column - 1, up = row - 1;
    WrapCoords(left, up, columns, rows);
    std::int32_t right = column + 1, down = row + 1;
    WrapCoords(right, down, columns, rows);
    const std::int32_t blockColumns[3] = {left, column, right};
    const std::int32_t blockRows[3] = {up, row, down};
    std::size_t block[9];
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx) block[dy * 3 + dx] = grid.IndexOf(blockColumns[dx], blockRows[dy]);

    long double sum0 = 0.0L, sum1 = 0.0L, sum2 = 0.0L;
    for (const std::size_t cell : block) {
        sum0 += grid.PotentialAt(cell, 0);
        sum1 += grid.PotentialAt(cell, 1);
        sum2 += grid.PotentialAt(cell, 2);
    }
    const std::size_t centre = block[4];
    means.at(0, column, row) = (sum0 - grid.PotentialAt(centre, 0)) / 8.0L;
    means.at(1, column, row) = (sum1 - grid.PotentialAt(centre, 1)) / 8.0L;
    means.at(2, column, row) = (sum2 - grid.PotentialAt(centre, 2)) / 8.0L;
}

std::int32_t NeighbourAgentCount(std::int32_t column, std::int32_t row, const TCellList& grid)
{
    std::int32_t count = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            std::int32_t c = column + dx;
            std::int32_t r = row + dy;
            WrapCoords(c, r, grid.Columns(), grid.Rows());
            count += grid(c, r).agentCount;
        }
    }
    return count - 1;
}
