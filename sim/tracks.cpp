#include "tracks.h"

#include "conversion.h"

void DecayTracks(Simulation& sim)
{
    const double factor = StrToFloat(sim.controls.E_decay);
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        cell.allTracks = cell.allTracks * factor;
        cell.returnTracks = cell.returnTracks * factor;
    }
}

void NormalizeTracks(Simulation& sim)
{
    std::vector<TCell>& cells = sim.run.cells.InPassOrder();
    double returnMax = 0.1, returnMin = 99999999999.0;
    double allMax = 0.1, allMin = 99999999999.0;
    for (const TCell& cell : cells) {
        if (cell.returnTracks > returnMax) returnMax = cell.returnTracks;
        if (cell.returnTracks < returnMin) returnMin = cell.returnTracks;
        if (cell.allTracks > allMax) allMax = cell.allTracks;
        if (cell.allTracks < allMin) allMin = cell.allTracks;
    }
    if (returnMax != returnMin) {
        const double scale = 255.0 / (returnMax - returnMin);
        for (TCell& cell : cells)
            if (cell.returnTracks > 0.0) cell.returnTracks = (cell.returnTracks - returnMin) * scale;
    }
    if (allMax != allMin) {
        const double scale = 255.0 / (allMax - allMin);
        for (TCell& cell : cells) cell.allTracks = (cell.allTracks - allMin) * scale;
    }
}
