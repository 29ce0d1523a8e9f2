#pragma once
#include "simulation.h"

// Multiplies both track values of every cell by the factor in E_decay.
void DecayTracks(Simulation& sim);
// Rescales both track values to 0..255; a track value uniform over the grid is left as it is.
void NormalizeTracks(Simulation& sim);
