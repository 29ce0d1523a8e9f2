#include "display_range.h"

void ComputeDisplayRange(Simulation& sim)
{
    Run& run = sim.run;
    const ControlState& controls = sim.controls;
    // A chooser without a valid selection keeps the last valid field.
    if (controls.CB_FieldNr >= 0 && controls.CB_FieldNr <= 2) run.shownField = controls.CB_FieldNr;
    const std::int32_t field = run.shownField;

    long double displayMax = 0.1L;
    long double displayMin = 99999999999.0L;
    for (TCell& cell : run.cells.InPassOrder()) {
        if (cell.shownFieldNumber != field) cell.shownFieldNumber = field;  // spares a write to every cell
        if (cell.kind != kEmpty) continue;
        double value;
        if (controls.CB_potField) value = cell.potential[field];
        else if (controls.CB_showAB) value = cell.returnTracks;
        else value = cell.allTracks;
        if (value > displayMax) displayMax = value;
        if (value < displayMin) displayMin = value;
    }
    run.displayMax = displayMax;
    run.displayMin = displayMin;
}
