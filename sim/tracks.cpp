#include "tracks.h"


void DecayTracks(TCellList& cells, double factor)
{
    for (TCell& cell : cells.InPassOrder()) {
        cell.allTracks = cell.allTracks * factor;
        cell.returnTracks = cell.returnTracks * factor;
    }
}

void NormalizeTracks(TCellList& grid)
{
    std::vector<TCell>& cells = grid.InPassOrder();
    double returnMax = 0.1, returnMin = 99999999999.0;
    double allMax = 0.1, allMin = 99999999999.0;
    for (const TCell& cell : cells) {
        if (cell.returnTracks > returnMax) returnMax = cell.returnTracks;
        if (cell.returnTracks < returnMin) returnMin = cell.returnTracks;
        if (cell.allTracks > allMax) allMax = cell.allTracks;
        if (cell.allTracks < allMin) allMin = cell.allTracks;
    }
    // Both values are rescaled by the ranges of the scan; a value uniform over the
    // grid has no scale and is left as it is. One pass serves both, as neither
    // depends on the other.
    const bool rescaleReturn = returnMax != returnMin;
    const bool rescaleAll = allMax != allMin;
    const double returnScale = rescaleReturn ? 255.0 / (returnMax - returnMin) : 0.0;
    const double allScale = rescaleAll ? 255.0 / (allMax - allMin) : 0.0;
    for (TCell& cell : cells) {
        if (rescaleReturn && cell.returnTracks > 0.0) cell.returnTracks = (cell.returnTracks - returnMin) * returnScale;
        if (rescaleAll) cell.allTracks = (cell.allTracks - allMin) * allScale;
    }
}
