#pragma once
#include "simulation.h"

// The range of the shown value (a potential field, the return tracks or all
// tracks) over the empty cells, in extended precision; also writes the shown
// field number into every cell.
void ComputeDisplayRange(Simulation& sim);
