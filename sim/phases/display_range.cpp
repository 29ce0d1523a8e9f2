#include "sim/phases/display_range.h"

#include <limits>

namespace {

struct Range {
    double max = -std::numeric_limits<double>::infinity();
    double min = std::numeric_limits<double>::infinity();
};

// Writes the shown field number into every cell and takes the max and min of one
// value over the empty cells, in the same scan. A tie keeps the value met first,
// and a NaN is never taken, as in a plain strict-comparison scan.
template <typename ValueOf>
Range EmptyCellRange(std::vector<TCell>& cells, std::int32_t field, ValueOf valueOf)
{
    Range range;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        TCell& cell = cells[i];
        if (cell.shownFieldNumber != field) cell.shownFieldNumber = field;  // spares a write to every cell
        if (cell.kind != kEmpty) continue;
        const double value = valueOf(cell, i);
        if (value > range.max) range.max = value;
        if (value < range.min) range.min = value;
    }
    return range;
}

}  // namespace

DisplayedValue SelectDisplayedValue(Simulation& sim)
{
    Run& run = sim.run;
    const ControlState& controls = sim.controls;
    if (controls.CB_FieldNr >= 0 && controls.CB_FieldNr <= 2) run.shownField = controls.CB_FieldNr;
    return {SelectedDrawMode(controls), run.shownField};
}

void StoreDisplayRange(Run& run, double max, double min)
{
    // The range starts from max 0.1 and min 99999999999 in extended precision; no
    // double equals 0.1 in extended precision, and a tie with the minimum's start
    // is the same value either way.
    const long double startMax = 0.1L;
    const long double startMin = 99999999999.0L;
    run.displayMax = max > startMax ? static_cast<long double>(max) : startMax;
    run.displayMin = min < startMin ? static_cast<long double>(min) : startMin;
}

void ComputeDisplayRange(Simulation& sim)
{
    const DisplayedValue shown = SelectDisplayedValue(sim);
    const std::int32_t field = shown.field;
    std::vector<TCell>& cells = sim.run.cells.InPassOrder();
    const double* potential = sim.run.cells.Field(field);
    Range range;
    if (shown.mode == DrawMode::PotentialField)
        range = EmptyCellRange(cells, field, [potential](const TCell&, std::size_t i) { return potential[i]; });
    else if (shown.mode == DrawMode::ReturnTracks)
        range = EmptyCellRange(cells, field, [](const TCell& c, std::size_t) { return c.returnTracks; });
    else
        range = EmptyCellRange(cells, field, [](const TCell& c, std::size_t) { return c.allTracks; });
    StoreDisplayRange(sim.run, range.max, range.min);
}
