#pragma once
#include "simulation.h"

// Spreads each potential field to its neighbours, with one uniform draw per
// cell (row by row) scaled by the field's noise amplitude.
void DiffusePotentials(Simulation& sim);
// Rescales each field to 0..10; a field whose values are all equal is left as it is.
void NormalizePotentials(Simulation& sim);
