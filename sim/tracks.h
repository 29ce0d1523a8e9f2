#pragma once
#include "cell_grid.h"

// Multiplies both track values of every cell by the factor (E_decay).
void DecayTracks(TCellList& cells, double factor);
// Rescales both track values to 0..255; a track value uniform over the grid is left as it is.
void NormalizeTracks(TCellList& cells);
