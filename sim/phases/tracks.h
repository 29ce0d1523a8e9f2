#pragma once
#include "sim/core/simulation.h"

// Multiplies both track values of every cell by the factor (E_decay).
void DecayTracks(Run& run, double factor);
// Rescales both track values to 0..255; a track value uniform over the grid is left
// as it is. The step uses the version that leans on the run's track summary, or the
// plain one in a build with LANDUSE_REFERENCE_PHASES.
void NormalizeTracks(Run& run);
// The plain version: one scan for the ranges, one pass to rescale.
void NormalizeTracksPlain(Run& run);
// The same bits using the track summary: when it says the minimum is +0.0 the scan
// is not needed, and a value whose maximum is exactly 255 has scale 1 and keeps
// every bit, so its pass is left out. Renews the summary whenever it passes.
void NormalizeTracksWithSummary(Run& run);

// The movement's tracks: +1 on all-tracks, +10 on return tracks, keeping the
// run's track summary true.
void LayAllTrack(Run& run, TCell& cell);
void LayReturnTrack(Run& run, TCell& cell);
