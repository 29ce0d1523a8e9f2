#pragma once
#include "sim/core/simulation.h"

// The potential fields' phases as the step runs them: the fast version of each,
// or the plain one in a build with LANDUSE_REFERENCE_PHASES. The plain diffusion
// is in plain_diffusion.h, the fast one in one_pass_diffusion.h, both
// normalisations in field_normalisation.h; their shared arithmetic in
// field_arithmetic.h.

// Spreads each potential field to its neighbours, with one uniform draw per
// cell (row by row) scaled by the field's noise amplitude.
void DiffusePotentials(Simulation& sim);

// The normalisation followed by the display range: one pass that rescales the
// fields and takes the range, with the extremes from the diffusion's summary
// where it holds.
void NormalizePotentialsAndDisplayRange(Simulation& sim);
