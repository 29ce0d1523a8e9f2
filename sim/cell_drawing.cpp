#include "cell_drawing.h"

#include <cstring>

#include "simulation.h"

namespace {

// Copies the run's display range into every cell, unless every cell already holds
// it: each pass gives all cells the same copy, so one record of the last copy
// stands for the whole grid.
void CopyDisplayRangeIntoCells(Run& run)
{
    // Values equal under == draw alike (only 0 and -0 differ otherwise), so they need no copy.
    if (run.rangeInCells.valid && run.rangeInCells.max == run.displayMax && run.rangeInCells.min == run.displayMin)
        return;
    for (TCell& cell : run.cells.InPassOrder()) {
        // Byte copies: the values are only passed on here, and copying them through
        // the extended-precision unit costs more than the rest of a cell's drawing.
        std::memcpy(&cell.displayMax, &run.displayMax, sizeof run.displayMax);
        std::memcpy(&cell.displayMin, &run.displayMin, sizeof run.displayMin);
    }
    run.rangeInCells = {true, run.displayMax, run.displayMin};
}

}  // namespace

DrawMode SelectedDrawMode(const ControlState& controls)
{
    if (controls.CB_potField) return DrawMode::PotentialField;
    return controls.CB_showAB ? DrawMode::ReturnTracks : DrawMode::AllTracks;
}

GrayScale GrayScale::Of(long double displayMax, long double displayMin)
{
    GrayScale result;
    const long double range = displayMax - displayMin;
    result.min = displayMin;
    result.flat = range == 0.0L;
    result.scale = result.flat ? 0.0 : static_cast<double>(255.0L / range);
    return result;
}

std::span<const std::uint32_t> RecordCellsDrawn(Simulation& sim, CellPass pass)
{
    Run& run = sim.run;
    const ControlState& controls = sim.controls;
    std::vector<std::uint32_t>& painted = run.cellsToPaint;
    painted.clear();
    if (pass == CellPass::Step && controls.CB_noTracks) return painted;
    // While a potential field is shown the step's pass draws every cell; the
    // changed-cell pass that would follow draws none of them again.
    if (controls.CB_potField) pass = CellPass::Redraw;

    const DrawMode mode = SelectedDrawMode(controls);
    const bool noDestinations = controls.cb_noDesti;
    const bool onlyKinds = pass == CellPass::Step && controls.CB_showOrig;
    CopyDisplayRangeIntoCells(run);
    // Every cell holds the same copy of the range, so one scale serves them all.
    const GrayScale scale = GrayScale::Of(run.displayMax, run.displayMin);
    std::vector<TCell>& cells = run.cells.InPassOrder();
    for (std::uint32_t i = 0; i < cells.size(); ++i) {
        TCell& cell = cells[i];
        if (pass == CellPass::Redraw || (onlyKinds && cell.kind != kEmpty)) {
            RecordCellDraw(cell, mode, noDestinations, scale);
            painted.push_back(i);
        } else if (!onlyKinds && RecordCellDrawIfChanged(cell, mode, noDestinations, scale)) {
            painted.push_back(i);
        }
    }
    return painted;
}

bool RecordCellDrawn(Simulation& sim, std::int32_t column, std::int32_t row)
{
    Run& run = sim.run;
    if (!run.cells.Contains(column, row)) return false;
    TCell& cell = run.cells(column, row);
    RecordCellDraw(cell, DrawMode::AllTracks, sim.controls.cb_noDesti, GrayScale::Of(cell));
    return true;
}
