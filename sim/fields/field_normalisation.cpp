// The normalisation of the potential fields to 0..10: the plain version, and the
// one the step runs, which rescales the fields and takes the display range in one
// pass split between the workers, with the extremes from the diffusion's summary
// where it holds.
#include "sim/fields/field_normalisation.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "sim/fields/field_arithmetic.h"
#include "sim/phases/display_range.h"

namespace {

using field_arithmetic::kScanStartMax;
using field_arithmetic::kScanStartMin;

// The extremes of the three fields, as the normalisation's scan takes them.
struct FieldExtremes {
    std::array<double, 3> max{kScanStartMax, kScanStartMax, kScanStartMax};
    std::array<double, 3> min{kScanStartMin, kScanStartMin, kScanStartMin};

    // The cell at pass-order index i.
    void Take(const TCellList& cells, std::size_t i)
    {
        for (int f = 0; f < 3; ++f) {
            const double value = cells.PotentialAt(i, f);
            if (value > max[f]) max[f] = value;
            if (value < min[f]) min[f] = value;
        }
    }
    // A later part of the scan, joined as one scan would have met it.
    void Join(const FieldExtremes& later)
    {
        for (int f = 0; f < 3; ++f) {
            if (later.max[f] > max[f]) max[f] = later.max[f];
            if (later.min[f] < min[f]) min[f] = later.min[f];
        }
    }
};

// value = (value - low) * factor for each field that changes; a field whose values
// are all equal has no scale and is kept as it is.
struct Rescale {
    std::array<double, 3> low{};
    std::array<double, 3> factor{};
    std::array<bool, 3> change{};

    static Rescale Of(const FieldExtremes& extremes)
    {
        Rescale r;
        for (int f = 0; f < 3; ++f) {
            r.change[f] = extremes.max[f] != extremes.min[f];
            r.low[f] = extremes.min[f];
            if (r.change[f]) r.factor[f] = 10.0 / (extremes.max[f] - extremes.min[f]);
        }
        return r;
    }
    bool All() const { return change[0] && change[1] && change[2]; }
};

// Brings the diffusion's extremes of one field up to date with growth's changes,
// in order; false when a change may have moved an extreme to a cell it does not
// know (the old extreme's cell went inwards), or may have changed which of two
// equal values a scan meets first (+0.0 and -0.0).
bool FollowChanges(const DiffusionSummary& summary, int f, double& max, double& min)
{
    for (int i = 0; i < summary.changeCount; ++i) {
        const double before = summary.changes[i].before[f];
        const double after = summary.changes[i].after[f];
        if (std::bit_cast<std::uint64_t>(before) == std::bit_cast<std::uint64_t>(after)) continue;
        if (std::isnan(before) || std::isnan(after)) return false;
        if (before == max) {
            if (!(after > max)) return false;
            max = after;
        } else if (after > max) {
            max = after;
        }
        if (before == min) {
            if (!(after < min)) return false;
            min = after;
        } else if (after < min) {
            min = after;
        } else if (after == min) {
            return false;  // equal extremes: only the bits of +0.0 and -0.0 can differ
        }
    }
    return true;
}

// The fields' extremes: the diffusion's, followed through growth's changes, where
// they hold; else from a scan split between the workers.
FieldExtremes CurrentExtremes(Simulation& sim)
{
    Run& run = sim.run;
    DiffusionSummary& summary = run.diffusionSummary;
    FieldExtremes extremes{summary.max, summary.min};
    bool known = summary.extremesValid;
    for (int f = 0; f < 3 && known; ++f) known = FollowChanges(summary, f, extremes.max[f], extremes.min[f]);
    summary.extremesValid = false;
    summary.candidatesValid = false;
    if (known) return extremes;

    const TCellList& cells = run.cells;
    const auto columns = static_cast<std::size_t>(run.columns);
    std::array<FieldExtremes, RowSplitter::kMaxBlocks> blocks{};
    auto scan = [&](const RowBlock& block) {
        for (std::size_t i = block.begin * columns; i < block.end * columns; ++i) blocks[block.index].Take(cells, i);
    };
    sim.splitter.ForBlocks(run.rows, scan);
    extremes = blocks[0];
    for (int b = 1; b < sim.splitter.BlockCount(run.rows); ++b) extremes.Join(blocks[b]);
    return extremes;
}

// What one block of the fused pass found: the range of the shown value over its
// empty cells, and how many moved cells it listed.
struct BlockRange {
    double shownMax = -std::numeric_limits<double>::infinity();
    double shownMin = std::numeric_limits<double>::infinity();
    std::uint32_t moved = 0;
};

// Where the shown value of every cell lies: the cell at pass-order index i holds it
// at base + i * stride, in its record or in its field's array, so that the pass
// reads it without a test of the draw mode per cell.
struct ShownValues {
    const char* base;
    std::size_t stride;
};

ShownValues ShownValuesOf(TCellList& cells, const DisplayedValue& shown)
{
    if (shown.mode == DrawMode::PotentialField)
        return {reinterpret_cast<const char*>(cells.Field(shown.field)), sizeof(double)};
    const TCell* first = cells.InPassOrder().data();
    const double* value = shown.mode == DrawMode::ReturnTracks ? &first->returnTracks : &first->allTracks;
    return {reinterpret_cast<const char*>(value), sizeof(TCell)};
}

// value = (value - low) * factor for the values [begin, end) of one field: a loop
// of its own, so that it runs several values at a time.
[[gnu::always_inline]] inline void RescaleValues(double* __restrict values, std::size_t begin, std::size_t end,
                                                 double low, double factor)
{
    for (std::size_t i = begin; i < end; ++i) values[i] = (values[i] - low) * factor;
}

// The pass over the cells [begin, end), with what it lists and which fields it
// rescales fixed for the whole loop. It goes a stretch of cells at a time: first
// the stretch's fields are rescaled, then its cells are visited, while the
// stretch is in the nearest cache.
template <bool kList, bool kAll>
[[gnu::always_inline]] inline BlockRange RescaleCells(TCellList& grid, std::size_t begin, std::size_t end,
                                                      const Rescale& rescaleIn, ShownValues shown,
                                                      std::int32_t shownField, std::uint32_t* __restrict listed)
{
    // Everything the loop reads besides the cells is held in locals: the cells'
    // doubles could otherwise alias it, and each write would force a reload.
    const Rescale rescale = rescaleIn;
    TCell* const cells = grid.InPassOrder().data();
    double* const fields[3] = {grid.Field(0), grid.Field(1), grid.Field(2)};
    double shownMax = -std::numeric_limits<double>::infinity();
    double shownMin = std::numeric_limits<double>::infinity();
    std::uint32_t count = 0;
    constexpr std::size_t kStretch = 256;
    for (std::size_t stretch = begin; stretch < end; stretch += kStretch) {
        const std::size_t stretchEnd = end - stretch < kStretch ? end : stretch + kStretch;
        for (int f = 0; f < 3; ++f)
            if (kAll || rescale.change[f])
                RescaleValues(fields[f], stretch, stretchEnd, rescale.low[f], rescale.factor[f]);
        for (std::size_t i = stretch; i < stretchEnd; ++i) {
            TCell& cell = cells[i];
            if constexpr (kList) {
                const double traffic = cell.allTracks - cell.lastDrawnAllTracks;
                if (traffic > 1.0 || traffic < -1.0) listed[count++] = static_cast<std::uint32_t>(i);
            }
            if (cell.shownFieldNumber != shownField) cell.shownFieldNumber = shownField;
            // Only empty cells count; chosen without a branch, as kinds mix at random.
            const bool empty = cell.kind == kEmpty;
            double value;
            std::memcpy(&value, shown.base + i * shown.stride, sizeof value);
            shownMax = empty && value > shownMax ? value : shownMax;
            shownMin = empty && value < shownMin ? value : shownMin;
        }
    }
    return {shownMax, shownMin, count};
}

// Rescales the cells [begin, end) of the pass order, writes the shown field number
// into each and takes the shown value's range over the empty ones; lists at
// `listed` (when given) the cells whose traffic moved by more than 1 since drawn.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)  // target_clones needs ifunc
__attribute__((target_clones("avx2", "default")))
#endif
BlockRange RescaleAndTakeRange(TCellList& cells, std::size_t begin, std::size_t end, const Rescale& rescale,
                               const DisplayedValue& shown, std::uint32_t* listed)
{
    const ShownValues values = ShownValuesOf(cells, shown);
    if (listed != nullptr) {
        return rescale.All() ? RescaleCells<true, true>(cells, begin, end, rescale, values, shown.field, listed)
                             : RescaleCells<true, false>(cells, begin, end, rescale, values, shown.field, listed);
    }
    return rescale.All() ? RescaleCells<false, true>(cells, begin, end, rescale, values, shown.field, nullptr)
                         : RescaleCells<false, false>(cells, begin, end, rescale, values, shown.field, nullptr);
}

}  // namespace

void NormalizePotentials(Simulation& sim)
{
    // Each field is rescaled on its own; the three share one scan and one pass
    // because no field's result depends on another's.
    TCellList& cells = sim.run.cells;
    const std::size_t count = cells.InPassOrder().size();
    FieldExtremes extremes;
    for (std::size_t i = 0; i < count; ++i) extremes.Take(cells, i);
    const Rescale rescale = Rescale::Of(extremes);
    for (std::size_t i = 0; i < count; ++i)
        for (int f = 0; f < 3; ++f)
            if (rescale.change[f]) {
                double& value = cells.PotentialAt(i, f);
                value = (value - rescale.low[f]) * rescale.factor[f];
            }
}

void NormalizePotentialsInDisplayPass(Simulation& sim)
{
    Run& run = sim.run;
    const Rescale rescale = Rescale::Of(CurrentExtremes(sim));

    // The rescale and the display range's scan in one pass: the range is taken
    // over the values as rescaled. For a screen that paints, the pass also lists
    // the cells whose traffic moved since drawn; nothing changes traffic between
    // here and the step's drawing pass.
    const DisplayedValue shown = SelectDisplayedValue(sim);
    TCellList& cells = run.cells;
    const auto columns = static_cast<std::size_t>(run.columns);
    const bool listMoved = sim.screen().PaintsCells();
    std::vector<std::uint32_t>& moved = run.cellsToPaint;
    const std::size_t cellCount = cells.InPassOrder().size();
    if (listMoved && moved.size() < cellCount) moved.resize(cellCount);  // set-up sizes it
    const int blockCount = sim.splitter.BlockCount(run.rows);
    std::array<BlockRange, RowSplitter::kMaxBlocks> blocks{};
    auto pass = [&](const RowBlock& block) {
        const std::size_t begin = block.begin * columns;
        blocks[block.index] = RescaleAndTakeRange(cells, begin, block.end * columns, rescale, shown,
                                                  listMoved ? moved.data() + begin : nullptr);
    };
    sim.splitter.ForBlocks(run.rows, pass);

    Run::MovedCells movedCells{listMoved, blockCount, {}};
    BlockRange range;
    for (int b = 0; b < blockCount; ++b) {
        movedCells.count[b] = blocks[b].moved;
        if (blocks[b].shownMax > range.shownMax) range.shownMax = blocks[b].shownMax;
        if (blocks[b].shownMin < range.shownMin) range.shownMin = blocks[b].shownMin;
    }
    run.movedCells = movedCells;
    StoreDisplayRange(run, range.shownMax, range.shownMin);
}
