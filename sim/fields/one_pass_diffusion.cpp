// The diffusion in one pass over the rows, with the plain version's bits: each
// worker keeps a ring of three rows of the fields as they stood, with their exact
// integer forms, and works out each row's update from them, in integers wherever
// that is exact (exact_diffusion.h), in the reference arithmetic elsewhere.
#include "sim/fields/one_pass_diffusion.h"

#include <algorithm>
#include <array>
#include <limits>

#include "sim/fields/diffusion_kernels.h"
#include "sim/fields/exact_diffusion.h"
#include "sim/fields/field_arithmetic.h"
#include "sim/phases/growth_candidates.h"

namespace {

using Row = DiffusionRows::Row;

// What the update of every cell needs from the usage parameters.
struct UpdateParameters {
    std::array<long double, 3> coefficient;
    std::array<long double, 3> noise;
    std::array<bool, 3> integerUpdate;  // coefficient exactly 1 and noise with an integer form
    std::array<bool, 3> scaledUpdate;   // else coefficient exactly 1 and a noise ScaledNoiseFits
    std::array<std::int64_t, 3> noiseUnits;
};

UpdateParameters ReadUpdateParameters(const UsageParameters& usage)
{
    UpdateParameters p{};
    for (int f = 0; f < 3; ++f) {
        p.coefficient[f] = usage.diffusion[f];
        p.noise[f] = usage.noise[f];
        p.integerUpdate[f] = exact_diffusion::kAvailable && usage.diffusion[f] == 1.0 &&
                             exact_diffusion::NoiseUnits(usage.noise[f], p.noiseUnits[f]);
        p.scaledUpdate[f] = !p.integerUpdate[f] && usage.diffusion[f] == 1.0 &&
                            diffusion_kernels::ScaledNoiseFits(usage.noise[f]);
    }
    return p;
}

// Fills the flags of one field of a ring row from its values: which have an integer
// form, and which columns have all three around them with one.
void FillFlags(Row& row, int f, std::int32_t columns)
{
    if (row.flagsFilled[f]) return;
    row.flagsFilled[f] = true;
    std::uint8_t* __restrict own = row.own[f].data();
    std::uint8_t* __restrict exact = row.exact[f].data();
    if (row.allExact[f]) {
        std::fill_n(own, columns, std::uint8_t{1});
        std::fill_n(exact, columns, std::uint8_t{1});
        return;
    }
    const double* __restrict value = row.value[f].data();
    for (std::int32_t c = 0; c < columns; ++c) {
        std::int64_t units = 0;
        own[c] = exact_diffusion::kAvailable && exact_diffusion::ToUnits(value[c], units);
    }
    const std::int32_t last = columns - 1;
    exact[0] = own[last] & own[0] & own[columns > 1 ? 1 : 0];
    for (std::int32_t c = 1; c < last; ++c) exact[c] = own[c - 1] & own[c] & own[c + 1];
    if (columns > 1) exact[last] = own[last - 1] & own[last] & own[0];
}

// Fills the values of one field of a ring row whose values all have integer forms,
// from those forms: each is the value in units of 2^-55 exactly (ToUnits), so the
// product by 2^-55 gives the value's bits back, +0.0 included.
void FillValues(Row& row, int f, std::int32_t columns)
{
    if (row.valuesFilled[f]) return;
    row.valuesFilled[f] = true;
    const std::int64_t* __restrict units = row.units[f].data();
    double* __restrict value = row.value[f].data();
    for (std::int32_t c = 0; c < columns; ++c) value[c] = static_cast<double>(units[c]) * 0x1p-55;
}

// Fills a ring row from the three fields of a row, fields[f][column], with their
// integer forms and the sums across three columns. A field whose values all have
// integer forms leaves its values for FillValues and its flags for FillFlags: the
// exact kernels need neither.
void LoadRow(Row& row, std::int32_t columns, const std::array<const double*, 3>& fields)
{
    for (int f = 0; f < 3; ++f) {
        std::int64_t* __restrict u = row.units[f].data();
        const bool all = diffusion_kernels::ToUnitsRow(fields[f], u, columns) && exact_diffusion::kAvailable;
        diffusion_kernels::SumsAcross(u, row.across[f].data(), columns);
        row.allExact[f] = all;
        row.flagsFilled[f] = false;
        row.valuesFilled[f] = !all;
        if (!all) {
            std::copy_n(fields[f], columns, row.value[f].data());
            FillFlags(row, f, columns);
        }
    }
}

void LoadGridRow(Row& row, const TCellList& cells, std::int32_t r)
{
    const std::size_t first = cells.IndexOf(0, r);
    LoadRow(row, cells.Columns(), {cells.Field(0) + first, cells.Field(1) + first, cells.Field(2) + first});
}

void LoadCopiedRow(Row& row, std::int32_t columns, const std::vector<double>& copy)
{
    const double* values = copy.data();
    LoadRow(row, columns, {values, values + columns, values + 2 * static_cast<std::size_t>(columns)});
}

// Copies grid row r, field after field.
void CopyRow(std::vector<double>& copy, const TCellList& cells, std::int32_t r)
{
    const auto columns = static_cast<std::size_t>(cells.Columns());
    const std::size_t first = cells.IndexOf(0, r);
    for (int f = 0; f < 3; ++f) std::copy_n(cells.Field(f) + first, columns, copy.data() + f * columns);
}

// What one block of rows learns of the fields it writes (see DiffusionSummary).
struct BlockSummary {
    std::array<double, 3> max;
    std::array<double, 3> min;
    std::array<CandidateList, 3> candidates;

    void Start(const std::array<int, 3>& wanted)
    {
        max.fill(field_arithmetic::kScanStartMax);
        min.fill(field_arithmetic::kScanStartMin);
        for (int f = 0; f < 3; ++f) candidates[f].Start(wanted[f]);
    }
};

// One field of the three rows around the row being diffused, and where the row's
// results go.
struct FieldRows {
    Row& up;
    Row& mid;
    Row& down;
    int f;
    double* result;
};

// The largest and smallest results of a row, taken in the loops that compute them.
struct RowExtremes {
    double max = -std::numeric_limits<double>::infinity();
    double min = std::numeric_limits<double>::infinity();

    void Take(double v)
    {
        max = v > max ? v : max;
        min = v < min ? v : min;
    }
};

// The reference mean of column c, from the ring's values as they stood.
long double ReferenceMean(const FieldRows& rows, std::int32_t c, std::int32_t columns)
{
    const Row* block[3] = {&rows.up, &rows.mid, &rows.down};
    const std::int32_t at[3] = {c == 0 ? columns - 1 : c - 1, c, c == columns - 1 ? 0 : c + 1};
    return field_arithmetic::NeighbourMean([&](int dy, int dx) { return block[dy]->value[rows.f][at[dx]]; });
}

// Every result of one field of the row, from the integer forms where a kernel
// takes them, else in the reference arithmetic from the exact mean; marks in the
// row's redo the cells whose neighbourhood has no exact integer form.
bool UpdateFieldRow(const FieldRows& rows, const UpdateParameters& p, const std::uint32_t* __restrict seeds,
                    std::int32_t columns, RowExtremes& extremes)
{
    const int f = rows.f;
    const bool kernel = p.integerUpdate[f] || p.scaledUpdate[f];
    const auto inputs = [&] {
        return diffusion_kernels::UpdateRowInputs{
            rows.up.across[f].data(), rows.mid.across[f].data(), rows.down.across[f].data(),
            rows.mid.units[f].data(), rows.up.exact[f].data(),   rows.mid.exact[f].data(),
            rows.down.exact[f].data(), seeds,                    p.noiseUnits[f]};
    };
    if (kernel && rows.up.allExact[f] && rows.mid.allExact[f] && rows.down.allExact[f]) {
        // Every cell's neighbourhood is exact: the kernel needs no flags, and only a
        // sum out of range sends the row through the flagged kernel below.
        diffusion_kernels::UpdateRowOutputs out{rows.result, nullptr, extremes.max, extremes.min, false};
        if (p.integerUpdate[f]) diffusion_kernels::IntegerUpdateExactRow(inputs(), out, columns);
        else diffusion_kernels::ScaledUnitUpdateExactRow(inputs(), static_cast<double>(p.noise[f]), out, columns);
        if (!out.anyRedo) {
            extremes = {out.rowMax, out.rowMin};
            return false;
        }
    }
    for (Row* row : {&rows.up, &rows.mid, &rows.down}) {
        FillValues(*row, f, columns);
        FillFlags(*row, f, columns);
    }
    const std::uint8_t* __restrict upExact = rows.up.exact[f].data();
    const std::uint8_t* __restrict midExact = rows.mid.exact[f].data();
    const std::uint8_t* __restrict downExact = rows.down.exact[f].data();
    const std::int64_t* __restrict upAcross = rows.up.across[f].data();
    const std::int64_t* __restrict midAcross = rows.mid.across[f].data();
    const std::int64_t* __restrict downAcross = rows.down.across[f].data();
    const std::int64_t* __restrict centre = rows.mid.units[f].data();
    double* __restrict result = rows.result;
    std::uint8_t* __restrict redo = rows.mid.redo.data();
    if (kernel) {
        diffusion_kernels::UpdateRowOutputs out{result, redo, extremes.max, extremes.min, false};
        if (p.integerUpdate[f]) diffusion_kernels::IntegerUpdateRow(inputs(), out, columns);
        else diffusion_kernels::ScaledUnitUpdateRow(inputs(), static_cast<double>(p.noise[f]), out, columns);
        extremes = {out.rowMax, out.rowMin};
        return out.anyRedo;
    }
    const double* __restrict old = rows.mid.value[f].data();
    const long double coefficient = p.coefficient[f];
    const long double noise = p.noise[f];
    const bool unitCoefficient = p.coefficient[f] == 1.0L;
    std::uint8_t anyRedo = 0;
    for (std::int32_t c = 0; c < columns; ++c) {
        redo[c] = !(upExact[c] & midExact[c] & downExact[c]);
        anyRedo |= redo[c];
        const long double mean = exact_diffusion::MeanOf(upAcross[c] + midAcross[c] + downAcross[c] - centre[c]);
        const long double draw = field_arithmetic::DrawOf(seeds[c]);
        result[c] = unitCoefficient ? field_arithmetic::DiffusedValue(mean, 1.0L, old[c], draw, noise)
                                    : field_arithmetic::DiffusedValue(mean, coefficient, old[c], draw, noise);
        extremes.Take(result[c]);
    }
    return anyRedo != 0;
}

// Works out again, in the reference arithmetic, the results UpdateFieldRow marked
// for a redo, and takes the row's extremes anew.
void RedoFieldRow(const FieldRows& rows, const UpdateParameters& p, const std::uint32_t* seeds, std::int32_t columns,
                  RowExtremes& extremes)
{
    const int f = rows.f;
    const Row& mid = rows.mid;
    double* result = rows.result;
    extremes = {};
    for (std::int32_t c = 0; c < columns; ++c) {
        if (mid.redo[c]) {
            const bool exact = rows.up.exact[f][c] & mid.exact[f][c] & rows.down.exact[f][c];
            const long double mean =
                exact ? exact_diffusion::MeanOf(rows.up.across[f][c] + mid.across[f][c] + rows.down.across[f][c] -
                                                mid.units[f][c])
                      : ReferenceMean(rows, c, columns);
            result[c] = field_arithmetic::DiffusedValue(mean, p.coefficient[f], mid.value[f][c],
                                                        field_arithmetic::DrawOf(seeds[c]), p.noise[f]);
        }
        extremes.Take(result[c]);
    }
}

// Diffuses grid row r from the ring rows around it, drawing one real per cell
// (their seeds first), one field at a time straight into the grid's row (the ring
// holds what the row's neighbours need of it); notes the results' extremes and
// growth's candidates.
void DiffuseRow(TCellList& cells, std::int32_t r, Row& up, Row& mid, Row& down,
                const UpdateParameters& p, RandomGenerator& random, std::uint32_t* seeds, BlockSummary& summary)
{
    const std::int32_t columns = cells.Columns();
    random.FillSeeds(seeds, static_cast<std::size_t>(columns));
    const std::size_t first = cells.IndexOf(0, r);
    const TCell* out = &cells.InPassOrder()[first];
    for (int f = 0; f < 3; ++f) {
        double* result = cells.Field(f) + first;
        const FieldRows rows{up, mid, down, f, result};
        RowExtremes extremes;
        if (UpdateFieldRow(rows, p, seeds, columns, extremes)) RedoFieldRow(rows, p, seeds, columns, extremes);
        // Joined to the running extremes as a scan in row-major order would.
        if (extremes.max > summary.max[f]) summary.max[f] = extremes.max;
        if (extremes.min < summary.min[f]) summary.min[f] = extremes.min;
        const std::uint32_t rowStart = static_cast<std::uint32_t>(r) * static_cast<std::uint32_t>(columns);
        summary.candidates[f].OfferRow(result, out, rowStart, columns, extremes.max);
    }
}

// Joins the blocks' summaries, in row order, as one scan in row-major order would
// have made them.
void JoinSummaries(DiffusionSummary& into, const BlockSummary* blocks, int count)
{
    for (int f = 0; f < 3; ++f) {
        into.max[f] = blocks[0].max[f];
        into.min[f] = blocks[0].min[f];
        std::array<const CandidateList*, RowSplitter::kMaxBlocks> lists{};
        for (int b = 0; b < count; ++b) {
            if (blocks[b].max[f] > into.max[f]) into.max[f] = blocks[b].max[f];
            if (blocks[b].min[f] < into.min[f]) into.min[f] = blocks[b].min[f];
            lists[b] = &blocks[b].candidates[f];
        }
        JoinCandidates(into, f, lists.data(), count);
    }
    into.extremesValid = true;
    into.candidatesValid = true;
    into.changeCount = 0;
}

// Copies the rows bordering each block, before any block changes them.
void CopyBorders(DiffusionRows& work, const TCellList& cells, std::int32_t rows, int blockCount)
{
    for (int b = 0; b < blockCount; ++b) {
        const std::int32_t begin = RowSplitter::BlockBegin(rows, blockCount, b);
        const std::int32_t end = RowSplitter::BlockBegin(rows, blockCount, b + 1);
        CopyRow(work.borders[b].above, cells, (begin + rows - 1) % rows);
        CopyRow(work.borders[b].below, cells, end % rows);
    }
}

// One worker's ring and generator; a block that follows the worker's previous one
// goes on with both as they are.
struct WorkerRing {
    Row* up;
    Row* mid;
    Row* down;
    RandomGenerator random;
};

void DiffuseBlock(const RowBlock& block, TCellList& cells, DiffusionRows& work, WorkerRing& ring,
                  const RandomGenerator& start, const UpdateParameters& p, BlockSummary* summaries)
{
    const std::int32_t columns = cells.Columns();
    DiffusionRows::Ring& rows = work.rings[block.worker];
    BlockSummary& summary = summaries[block.index];
    if (block.continues) {
        // The block before is done, on this worker: its lists' bars hold here too.
        for (int f = 0; f < 3; ++f) summary.candidates[f].FollowEarlier(summaries[block.index - 1].candidates[f]);
    } else {
        ring = {&rows.rows[0], &rows.rows[1], &rows.rows[2],
                start.JumpedAhead(static_cast<std::uint64_t>(block.begin) * columns)};
        LoadCopiedRow(*ring.up, columns, work.borders[block.index].above);
        LoadGridRow(*ring.mid, cells, block.begin);
    }
    for (std::int32_t r = block.begin; r < block.end; ++r) {
        // The next row is read before this one is written.
        if (r + 1 < block.end) LoadGridRow(*ring.down, cells, r + 1);
        else LoadCopiedRow(*ring.down, columns, work.borders[block.index].below);
        DiffuseRow(cells, r, *ring.up, *ring.mid, *ring.down, p, ring.random, rows.seeds.data(), summary);
        Row* done = ring.up;
        ring.up = ring.mid;
        ring.mid = ring.down;
        ring.down = done;
    }
}

}  // namespace

void DiffusePotentialsInOnePass(Simulation& sim)
{
    Run& run = sim.run;
    const std::int32_t columns = run.columns;
    const std::int32_t rows = run.rows;
    if (rows <= 0 || columns <= 0) return;
    DiffusionRows& work = run.diffusionRows;
    if (work.columns != columns || work.rows != rows) work.Resize(columns, rows);
    const UpdateParameters p = ReadUpdateParameters(sim.usage);
    const int blockCount = sim.splitter.BlockCount(rows);
    CopyBorders(work, run.cells, rows, blockCount);

    std::array<BlockSummary, RowSplitter::kMaxBlocks> summaries;
    const std::array<int, 3> wanted = WantedCandidates(sim.controls);
    for (int b = 0; b < blockCount; ++b) summaries[b].Start(wanted);

    const RandomGenerator start = sim.random;
    std::array<WorkerRing, 2> rings{};
    auto diffuse = [&](const RowBlock& block) {
        DiffuseBlock(block, run.cells, work, rings[block.worker], start, p, summaries.data());
    };
    sim.splitter.ForBlocks(rows, diffuse);
    sim.random = start.JumpedAhead(static_cast<std::uint64_t>(rows) * columns);
    JoinSummaries(run.diffusionSummary, summaries.data(), blockCount);
}
