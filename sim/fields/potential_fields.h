#pragma once
#include "sim/core/simulation.h"

// The potential fields' phases of the step. The diffusion lives in
// plain_diffusion.cpp and one_pass_diffusion.cpp, the normalisation in
// field_normalisation.cpp; their shared arithmetic in field_arithmetic.h.

// Spreads each potential field to its neighbours, with one uniform draw per
// cell (row by row) scaled by the field's noise amplitude. The step uses the
// one-pass version, or the plain one in a build with LANDUSE_REFERENCE_PHASES.
void DiffusePotentials(Simulation& sim);
// The plain version: every neighbour mean into the means grid, in extended
// precision, then every update. The reference for the one-pass version.
void DiffusePotentialsPlain(Simulation& sim);
// The same bits in one pass over the rows, keeping only three rows of means'
// inputs at a time, summing in integers wherever that is exact (exact_diffusion.h).
void DiffusePotentialsInOnePass(Simulation& sim);
// Rescales each field to 0..10; a field whose values are all equal is left as it is.
void NormalizePotentials(Simulation& sim);

// The normalisation followed by the display range, as the step runs them: one pass
// that rescales the fields and takes the range, with the extremes from the
// diffusion's summary where it holds. The plain pair in a build with
// LANDUSE_REFERENCE_PHASES.
void NormalizePotentialsAndDisplayRange(Simulation& sim);
void NormalizePotentialsInDisplayPass(Simulation& sim);
