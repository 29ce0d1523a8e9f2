#include "sim/fields/diffusion_rows.h"

void DiffusionRows::Resize(std::int32_t newColumns, std::int32_t newRows)
{
    columns = newColumns;
    rows = newRows;
    const auto n = static_cast<std::size_t>(newColumns);
    for (Ring& ring : rings) {
        for (Row& row : ring.rows) {
            for (int f = 0; f < 3; ++f) {
                row.value[f].assign(n, 0.0);
                row.units[f].assign(n, 0);
                row.own[f].assign(n, 0);
                row.across[f].assign(n, 0);
                row.exact[f].assign(n, 0);
            }
            row.redo.assign(n, 0);
        }
        ring.seeds.assign(n, 0);
    }
    for (Borders& block : borders) {
        block.above.assign(3 * n, 0.0);
        block.below.assign(3 * n, 0.0);
    }
}
