#pragma once
#include "sim/core/simulation.h"

// The plain diffusion of the potential fields: every neighbour mean into the
// means grid, in extended precision, then every update. The reference for the
// one-pass version.
void DiffusePotentialsPlain(Simulation& sim);
