#include "diffusion_rows.h"

void DiffusionRows::Resize(std::int32_t newColumns, std::int32_t newRows)
{
    columns = newColumns;
    rows = newRows;
    const auto n = static_cast<std::size_t>(newColumns);
    for (Range& range : ranges) {
        for (Row& row : range.ring) {
            for (int f = 0; f < 3; ++f) {
                row.value[f].assign(n, 0.0);
                row.units[f].assign(n, 0);
                row.own[f].assign(n, 0);
                row.across[f].assign(n, 0);
                row.exact[f].assign(n, 0);
                row.result[f].assign(n, 0.0);
            }
            row.redo.assign(n, 0);
        }
        range.above.assign(3 * n, 0.0);
        range.below.assign(3 * n, 0.0);
        range.seeds.assign(n, 0);
    }
}
