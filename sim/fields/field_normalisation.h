#pragma once
#include "sim/core/simulation.h"

// Rescales each field to 0..10; a field whose values are all equal is left as it is.
void NormalizePotentials(Simulation& sim);

// The same rescaling and the display range in one pass split between the
// workers, with the extremes from the diffusion's summary where it holds.
void NormalizePotentialsInDisplayPass(Simulation& sim);
