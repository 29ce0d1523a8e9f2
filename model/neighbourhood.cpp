#include "neighbourhood.h"

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
    for (int f = 0; f < 3; ++f) {
        long double sum = 0.0L;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                std::int32_t c = column + dx;
                std::int32_t r = row + dy;
                WrapCoords(c, r, columns, rows);
                sum += grid(c, r).potential[f];
            }
        }
        sum -= grid(column, row).potential[f];
        means.at(f, column, row) = sum / 8.0L;
    }
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
