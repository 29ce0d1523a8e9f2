#pragma once
#include "sim/core/simulation.h"

// The plain diffusion's bits in one pass over the rows, keeping only three rows
// of means' inputs at a time, summing in integers wherever that is exact
// (exact_diffusion.h).
void DiffusePotentialsInOnePass(Simulation& sim);
