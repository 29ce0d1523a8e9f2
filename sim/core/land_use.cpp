#include "sim/core/land_use.h"

LandUse CountLandUse(const TCellList& cells)
{
    LandUse counts{};
    for (const TCell& cell : cells.InPassOrder()) ++counts[static_cast<std::size_t>(cell.kind)];
    return counts;
}
