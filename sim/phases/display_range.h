#pragma once
#include "sim/core/simulation.h"
#include "sim/drawing/cell_drawing.h"

// The range of the shown value (a potential field, the return tracks or all
// tracks) over the empty cells, in extended precision; also writes the shown
// field number into every cell.
void ComputeDisplayRange(Simulation& sim);

// What the range is taken over: the value the gray shows, as the "Graphic" page
// selects it (SelectedDrawMode), with the shown field. Reading it brings the run's
// shown field up to date (a chooser without a valid selection keeps the last valid
// field).
struct DisplayedValue {
    DrawMode mode;
    std::int32_t field;  // the shown field number
};
DisplayedValue SelectDisplayedValue(Simulation& sim);

// Stores the display range from the extremes of a scan of the empty cells that
// started at -infinity and +infinity (they stay so when no cell is empty).
void StoreDisplayRange(Run& run, double max, double min);
