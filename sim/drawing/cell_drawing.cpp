#include "sim/drawing/cell_drawing.h"

#include <array>
#include <cstring>

#include "sim/core/simulation.h"

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
std::uint32_t RecordMovedCells(TCellList& cells, std::uint32_t* listed, std::uint32_t count, const PassRule& passRule)
{
    const PassRule rule = passRule;  // a local copy: the cells' writes cannot alias it
    for (std::uint32_t k = 0; k < count; ++k) RecordCellDraw(cells, listed[k], rule.mode, rule.noDestinations, rule.scale);
    return count;
}

// Records the cells [begin, end) of the pass order and lists the drawn ones at
// `painted`, in order; returns how many it listed.
std::uint32_t RecordCells(TCellList& grid, std::uint32_t begin, std::uint32_t end, const PassRule& passRule,
                          std::uint32_t* __restrict painted)
{
    const PassRule rule = passRule;  // a local copy: the cells' writes cannot alias it
    const std::vector<TCell>& cells = grid.InPassOrder();
    std::uint32_t count = 0;
    for (std::uint32_t i = begin; i < end; ++i) {
        const TCell& cell = cells[i];
        if (rule.pass == CellPass::Redraw || (rule.onlyKinds && cell.kind != kEmpty)) {
            RecordCellDraw(grid, i, rule.mode, rule.noDestinations, rule.scale);
            painted[count++] = i;
        } else if (!rule.onlyKinds && RecordCellDrawIfChanged(grid, i, rule.mode, rule.noDestinations, rule.scale)) {
            painted[count++] = i;
        }
    }
    return count;
}

// Moves each block's list, made from the block's own first index on, up behind
// the lists of the blocks before it; returns the length of the joined list.
std::size_t JoinBlockLists(std::vector<std::uint32_t>& painted,
                           const std::array<std::uint32_t, RowSplitter::kMaxBlocks>& listed, std::int32_t rows,
                           int blockCount, std::uint32_t columns)
{
    std::size_t total = 0;
    for (int b = 0; b < blockCount; ++b) {
        const std::size_t begin = static_cast<std::size_t>(RowSplitter::BlockBegin(rows, blockCount, b)) * columns;
        if (listed[b] > 0 && begin != total)
            std::memmove(painted.data() + total, painted.data() + begin, listed[b] * sizeof(std::uint32_t));
        total += listed[b];
    }
    return total;
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
    // when it listed them for the same cut of the rows into blocks.
    const int blockCount = sim.splitter.BlockCount(run.rows);
    const bool takeMoved =
        pass == CellPass::Step && !rule.onlyKinds && moved.listed && moved.blocks == blockCount;

    // Each block lists its cells from its own first index on (JoinBlockLists).
    TCellList& cells = run.cells;
    if (painted.size() < cells.InPassOrder().size()) painted.resize(cells.InPassOrder().size());  // set-up sizes it; this is for a hand-made grid
    const auto columns = static_cast<std::uint32_t>(run.columns);
    std::array<std::uint32_t, RowSplitter::kMaxBlocks> listed{};
    auto record = [&](const RowBlock& block) {
        const std::uint32_t begin = static_cast<std::uint32_t>(block.begin) * columns;
        std::uint32_t* list = painted.data() + begin;
        std::uint32_t& count = listed[block.index];
        if (takeMoved) {
            count = RecordMovedCells(cells, list, moved.count[block.index], rule);
            if (paint.paint != nullptr) paint.paint(paint.context, {list, count});
            return;
        }
        if (paint.paint == nullptr) {
            count = RecordCells(cells, begin, static_cast<std::uint32_t>(block.end) * columns, rule, list);
            return;
        }
        // A row at a time, each painted while its cells are still in the nearest cache.
        count = 0;
        for (std::uint32_t r = static_cast<std::uint32_t>(block.begin); r < static_cast<std::uint32_t>(block.end); ++r) {
            const std::uint32_t added = RecordCells(cells, r * columns, (r + 1) * columns, rule, list + count);
            if (added > 0) paint.paint(paint.context, {list + count, added});
            count += added;
        }
    };
    sim.splitter.ForBlocks(run.rows, record);
    return {painted.data(), JoinBlockLists(painted, listed, run.rows, blockCount, columns)};
}

bool RecordCellDrawn(Simulation& sim, std::int32_t column, std::int32_t row)
{
    Run& run = sim.run;
    if (!run.cells.Contains(column, row)) return false;
    const GrayScale scale = GrayScale::Of(run.cellsDisplayRange.max, run.cellsDisplayRange.min);
    RecordCellDraw(run.cells, run.cells.IndexOf(column, row), DrawMode::AllTracks, sim.controls.cb_noDesti, scale);
    return true;
}

void StartDrawingRecord(Simulation& sim)
{
    if (sim.run.drawingRecorded) return;
    sim.screen().RedrawCells();
    sim.run.drawingRecorded = true;
}
