#include "cell_drawing.h"

#include <cstring>

#include "simulation.h"

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

namespace {

// What a pass asks of every cell it visits.
struct PassRule {
    CellPass pass;
    DrawMode mode;
    bool noDestinations;
    bool onlyKinds;
    GrayScale scale;
};

// Records the listed cells, which moved since drawn, in place; returns their count.
std::uint32_t RecordMovedCells(std::vector<TCell>& cells, std::uint32_t* listed, std::uint32_t count,
                               const PassRule& passRule)
{
    const PassRule rule = passRule;  // a local copy: the cells' writes cannot alias it
    for (std::uint32_t k = 0; k < count; ++k) RecordCellDraw(cells[listed[k]], rule.mode, rule.noDestinations, rule.scale);
    return count;
}

// Records the cells [begin, end) of the pass order and lists the drawn ones at
// `painted`, in order; returns how many it listed.
std::uint32_t RecordCells(std::vector<TCell>& cells, std::uint32_t begin, std::uint32_t end, const PassRule& passRule,
                          std::uint32_t* __restrict painted)
{
    const PassRule rule = passRule;  // a local copy: the cells' writes cannot alias it
    std::uint32_t count = 0;
    for (std::uint32_t i = begin; i < end; ++i) {
        TCell& cell = cells[i];
        if (rule.pass == CellPass::Redraw || (rule.onlyKinds && cell.kind != kEmpty)) {
            RecordCellDraw(cell, rule.mode, rule.noDestinations, rule.scale);
            painted[count++] = i;
        } else if (!rule.onlyKinds && RecordCellDrawIfChanged(cell, rule.mode, rule.noDestinations, rule.scale)) {
            painted[count++] = i;
        }
    }
    return count;
}

}  // namespace

std::span<const std::uint32_t> RecordCellsDrawn(Simulation& sim, CellPass pass, PaintStretch paint)
{
    Run& run = sim.run;
    const ControlState& controls = sim.controls;
    std::vector<std::uint32_t>& painted = run.cellsToPaint;
    const Run::MovedCells moved = run.movedCells;
    run.movedCells.listed = false;  // taken once: traffic moves after this pass
    if (pass == CellPass::Step && controls.CB_noTracks) return {};
    // While a potential field is shown the step's pass draws every cell; the
    // changed-cell pass that would follow draws none of them again.
    if (controls.CB_potField) pass = CellPass::Redraw;

    // Every cell takes the same copy of the range, so one scale serves them all.
    run.cellsDisplayRange = {run.displayMax, run.displayMin};
    const PassRule rule{pass, SelectedDrawMode(controls), controls.cb_noDesti,
                        pass == CellPass::Step && controls.CB_showOrig, GrayScale::Of(run.displayMax, run.displayMin)};

    // The step's changed-cell pass takes the cells the normalisation pass listed,
    // when it listed them for the same split of the rows.
    const bool takeMoved = pass == CellPass::Step && !rule.onlyKinds && moved.listed &&
                           moved.workers == sim.splitter.WorkerCount();

    // Each half lists its cells from its own first index on; the second half's
    // list is then moved up behind the first's.
    std::vector<TCell>& cells = run.cells.InPassOrder();
    if (painted.size() < cells.size()) painted.resize(cells.size());  // set-up sizes it; this is for a hand-made grid
    const auto columns = static_cast<std::uint32_t>(run.columns);
    const std::int32_t middle = run.rows / 2;
    std::uint32_t listed[2] = {0, 0};
    auto record = [&](std::int32_t rowBegin, std::int32_t rowEnd) {
        if (rowBegin >= rowEnd) return;
        const std::uint32_t begin = static_cast<std::uint32_t>(rowBegin) * columns;
        std::uint32_t* list = painted.data() + begin;
        const int half = rowBegin == 0 ? 0 : 1;
        std::uint32_t& count = listed[half];
        if (takeMoved) {
            count = RecordMovedCells(cells, list, moved.count[half], rule);
            if (paint.paint != nullptr) paint.paint(paint.context, {list, count});
            return;
        }
        if (paint.paint == nullptr) {
            count = RecordCells(cells, begin, static_cast<std::uint32_t>(rowEnd) * columns, rule, list);
            return;
        }
        // A row at a time, each painted while its cells are still in the nearest cache.
        count = 0;
        for (std::uint32_t r = static_cast<std::uint32_t>(rowBegin); r < static_cast<std::uint32_t>(rowEnd); ++r) {
            const std::uint32_t added = RecordCells(cells, r * columns, (r + 1) * columns, rule, list + count);
            if (added > 0) paint.paint(paint.context, {list + count, added});
            count += added;
        }
    };
    sim.splitter.ForHalves(run.rows, middle, record);
    if (listed[1] > 0 && listed[0] != static_cast<std::uint32_t>(middle) * columns)
        std::memmove(painted.data() + listed[0], painted.data() + static_cast<std::size_t>(middle) * columns,
                     listed[1] * sizeof(std::uint32_t));
    return {painted.data(), static_cast<std::size_t>(listed[0]) + listed[1]};
}

bool RecordCellDrawn(Simulation& sim, std::int32_t column, std::int32_t row)
{
    Run& run = sim.run;
    if (!run.cells.Contains(column, row)) return false;
    TCell& cell = run.cells(column, row);
    const GrayScale scale = GrayScale::Of(run.cellsDisplayRange.max, run.cellsDisplayRange.min);
    RecordCellDraw(cell, DrawMode::AllTracks, sim.controls.cb_noDesti, scale);
    return true;
}
