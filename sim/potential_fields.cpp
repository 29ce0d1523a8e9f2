#include "potential_fields.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "conversion.h"
#include "diffusion_kernels.h"
#include "display_range.h"
#include "exact_diffusion.h"

void DiffusePotentials(Simulation& sim)
{
#ifdef LANDUSE_REFERENCE_PHASES
    DiffusePotentialsPlain(sim);
#else
    DiffusePotentialsInOnePass(sim);
#endif
}

void DiffusePotentialsPlain(Simulation& sim)
{
    Run& run = sim.run;
    const std::int32_t columns = run.columns;
    const std::int32_t rows = run.rows;
    const UsageParameters& usage = sim.usage;
    run.diffusionSummary.extremesValid = false;
    run.diffusionSummary.candidatesValid = false;

    // All means first, so no cell's update sees an updated neighbour.
    auto means = [&](const RowBlock& block) {
        for (std::int32_t r = block.begin; r < block.end; ++r)
            for (std::int32_t c = 0; c < columns; ++c) NeighbourMean(c, r, columns, rows, run.means, run.cells);
    };
    sim.splitter.ForBlocks(rows, means);

    // One draw per cell in row-major order: each block starts with the generator
    // advanced by the draws of the rows before it.
    const RandomGenerator start = sim.random;
    auto update = [&](const RowBlock& block) {
        RandomGenerator random = start.JumpedAhead(static_cast<std::uint64_t>(block.begin) * columns);
        for (std::int32_t r = block.begin; r < block.end; ++r) {
            for (std::int32_t c = 0; c < columns; ++c) {
                const long double draw = random.RandomReal();
                TCell& cell = run.cells(c, r);
                for (int f = 0; f < 3; ++f) {
                    const long double mean = run.means.at(f, c, r);
                    cell.potential[f] = static_cast<double>(
                        (mean * static_cast<long double>(usage.diffusion[f]) + static_cast<long double>(cell.potential[f])) +
                        draw * static_cast<long double>(usage.noise[f]));
                }
            }
        }
    };
    sim.splitter.ForBlocks(rows, update);
    sim.random = start.JumpedAhead(static_cast<std::uint64_t>(rows) * columns);
}

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

// Fills a ring row from the three fields of each cell of a row, as valueOf(column, field)
// gives them, with their integer forms and the sums across three columns. The
// cells are read once each, all three fields together.
template <typename ValueOf>
void LoadRow(Row& row, std::int32_t columns, ValueOf valueOf)
{
    double* __restrict value[3] = {row.value[0].data(), row.value[1].data(), row.value[2].data()};
    std::int64_t* __restrict units[3] = {row.units[0].data(), row.units[1].data(), row.units[2].data()};
    std::uint8_t* __restrict own[3] = {row.own[0].data(), row.own[1].data(), row.own[2].data()};
    for (std::int32_t c = 0; c < columns; ++c) {
        for (int f = 0; f < 3; ++f) {
            const double v = valueOf(c, f);
            value[f][c] = v;
            own[f][c] = exact_diffusion::kAvailable && exact_diffusion::ToUnits(v, units[f][c]);
        }
    }
    for (int f = 0; f < 3; ++f) {
        std::int64_t* __restrict across = row.across[f].data();
        std::uint8_t* __restrict exact = row.exact[f].data();
        const std::int64_t* __restrict u = units[f];
        const std::uint8_t* __restrict o = own[f];
        const std::int32_t last = columns - 1;
        across[0] = u[last] + u[0] + u[columns > 1 ? 1 : 0];
        exact[0] = o[last] & o[0] & o[columns > 1 ? 1 : 0];
        for (std::int32_t c = 1; c < last; ++c) {
            across[c] = u[c - 1] + u[c] + u[c + 1];
            exact[c] = o[c - 1] & o[c] & o[c + 1];
        }
        if (columns > 1) {
            across[last] = u[last - 1] + u[last] + u[0];
            exact[last] = o[last - 1] & o[last] & o[0];
        }
    }
}

void LoadGridRow(Row& row, const TCellList& cells, std::int32_t r)
{
    const TCell* first = &cells(0, r);
    LoadRow(row, cells.Columns(), [first](std::int32_t c, int f) { return first[c].potential[f]; });
}

void LoadCopiedRow(Row& row, std::int32_t columns, const std::vector<double>& copy)
{
    const double* values = copy.data();
    LoadRow(row, columns, [values](std::int32_t c, int f) { return values[3 * c + f]; });
}

void CopyRow(std::vector<double>& copy, const TCellList& cells, std::int32_t r)
{
    for (std::int32_t c = 0; c < cells.Columns(); ++c)
        for (int f = 0; f < 3; ++f) copy[3 * static_cast<std::size_t>(c) + f] = cells(c, r).potential[f];
}

// The neighbour mean of the plain pass, from the rows as they stood: the 3 x 3 sum
// in extended precision (rows above to below, columns left to right), minus the
// centre, over 8.
long double ExtendedMean(const Row& up, const Row& mid, const Row& down, int f, std::int32_t left, std::int32_t c,
                         std::int32_t right)
{
    long double sum = 0.0L;
    for (const Row* row : {&up, &mid, &down}) {
        sum += row->value[f][left];
        sum += row->value[f][c];
        sum += row->value[f][right];
    }
    return (sum - mid.value[f][c]) / 8.0L;
}

// What one range of rows learns of the fields it writes (see DiffusionSummary).
struct RangeSummary {
    std::array<double, 3> max;
    std::array<double, 3> min;
    std::array<std::array<DiffusionSummary::Candidate, DiffusionSummary::kMaxCandidates>, 3> candidates;
    std::array<int, 3> count;
    std::array<int, 3> wanted;
    std::array<double, 3> bar;  // a value must be above this to enter the list

    void Start(const std::array<int, 3>& wantedCounts)
    {
        max = {1e-8, 1e-8, 1e-8};
        min = {9999999999.0, 9999999999.0, 9999999999.0};
        count = {0, 0, 0};
        wanted = wantedCounts;
        for (int f = 0; f < 3; ++f) bar[f] = wanted[f] > 0 ? 0.0 : std::numeric_limits<double>::infinity();
    }

    // An empty cell with a value above the bar, met after every cell already listed.
    void Offer(int f, double value, std::uint32_t index)
    {
        auto& list = candidates[f];
        int at = count[f] < wanted[f] ? count[f]++ : wanted[f] - 1;
        while (at > 0 && list[at - 1].value < value) {
            list[at] = list[at - 1];
            --at;
        }
        list[at] = {value, index};
        if (count[f] == wanted[f]) bar[f] = list[count[f] - 1].value;
    }
};

// The update of one field of one cell in extended precision, as the plain pass
// evaluates it.
double ExtendedUpdate(long double mean, long double coefficient, double old, std::uint32_t seed, long double noise)
{
    // seed * 2^-32 is exact in a double (RandomReal) and in extended precision alike.
    const long double draw = static_cast<long double>(seed) * 0x1p-32L;
    return static_cast<double>((mean * coefficient + static_cast<long double>(old)) + draw * noise);
}

// The same with a coefficient of exactly 1, by which every extended value, NaN and
// -0.0 included, multiplies to itself.
double ExtendedUpdateUnit(long double mean, double old, std::uint32_t seed, long double noise)
{
    const long double draw = static_cast<long double>(seed) * 0x1p-32L;
    return static_cast<double>((mean + static_cast<long double>(old)) + draw * noise);
}

// Diffuses grid row r from the ring rows around it, drawing one real per cell
// (their seeds first), one field at a time into the row's results: the integer
// forms for every cell, then the extended-precision expression for the few cells
// whose inputs or sum fall outside them. Notes the results' extremes and growth
// candidates, then writes each cell once.
void DiffuseRow(TCellList& cells, std::int32_t r, const Row& up, Row& mid, const Row& down,
                const UpdateParameters& p, RandomGenerator& random, std::uint32_t* __restrict seeds,
                RangeSummary& summary)
{
    const std::int32_t columns = cells.Columns();
    random.FillSeeds(seeds, static_cast<std::size_t>(columns));
    TCell* out = &cells(0, r);
    const std::uint32_t rowStart = static_cast<std::uint32_t>(r) * static_cast<std::uint32_t>(columns);
    std::uint8_t* __restrict redo = mid.redo.data();
    for (int f = 0; f < 3; ++f) {
        const std::uint8_t* __restrict upExact = up.exact[f].data();
        const std::uint8_t* __restrict midExact = mid.exact[f].data();
        const std::uint8_t* __restrict downExact = down.exact[f].data();
        const std::int64_t* __restrict upAcross = up.across[f].data();
        const std::int64_t* __restrict midAcross = mid.across[f].data();
        const std::int64_t* __restrict downAcross = down.across[f].data();
        const std::int64_t* __restrict centre = mid.units[f].data();
        const double* __restrict old = mid.value[f].data();
        double* __restrict result = mid.result[f].data();
        const long double coefficient = p.coefficient[f];
        const long double noise = p.noise[f];
        const bool unitCoefficient = p.coefficient[f] == 1.0L;
        // The row's own extremes, taken in the loops that compute it and again after
        // any redo; joined to the running ones as a scan in row-major order would.
        double rowMax = -std::numeric_limits<double>::infinity();
        double rowMin = std::numeric_limits<double>::infinity();
        std::uint8_t anyRedo = 0;
        if (p.integerUpdate[f] || p.scaledUpdate[f]) {
            const diffusion_kernels::UpdateRowInputs in{upAcross, midAcross, downAcross, centre,       upExact,
                                                        midExact, downExact, seeds,      p.noiseUnits[f]};
            diffusion_kernels::UpdateRowOutputs kernel{result, redo, rowMax, rowMin, false};
            if (p.integerUpdate[f]) diffusion_kernels::IntegerUpdateRow(in, kernel, columns);
            else diffusion_kernels::ScaledUnitUpdateRow(in, static_cast<double>(p.noise[f]), kernel, columns);
            rowMax = kernel.rowMax;
            rowMin = kernel.rowMin;
            anyRedo = kernel.anyRedo;
        } else {
            for (std::int32_t c = 0; c < columns; ++c) {
                const std::int64_t meanUnits = upAcross[c] + midAcross[c] + downAcross[c] - centre[c];
                redo[c] = !(upExact[c] & midExact[c] & downExact[c]);
                anyRedo |= redo[c];
                const long double mean = exact_diffusion::MeanOf(meanUnits);
                const double v = unitCoefficient ? ExtendedUpdateUnit(mean, old[c], seeds[c], noise)
                                                 : ExtendedUpdate(mean, coefficient, old[c], seeds[c], noise);
                result[c] = v;
                rowMax = v > rowMax ? v : rowMax;
                rowMin = v < rowMin ? v : rowMin;
            }
        }
        if (anyRedo) {
            rowMax = -std::numeric_limits<double>::infinity();
            rowMin = std::numeric_limits<double>::infinity();
            for (std::int32_t c = 0; c < columns; ++c) {
                if (redo[c]) {
                    long double mean;
                    if (upExact[c] & midExact[c] & downExact[c]) {
                        mean = exact_diffusion::MeanOf(upAcross[c] + midAcross[c] + downAcross[c] - centre[c]);
                    } else {
                        const std::int32_t left = c == 0 ? columns - 1 : c - 1;
                        const std::int32_t right = c == columns - 1 ? 0 : c + 1;
                        mean = ExtendedMean(up, mid, down, f, left, c, right);
                    }
                    result[c] = ExtendedUpdate(mean, coefficient, old[c], seeds[c], noise);
                }
                const double v = result[c];
                rowMax = v > rowMax ? v : rowMax;
                rowMin = v < rowMin ? v : rowMin;
            }
        }
        if (rowMax > summary.max[f]) summary.max[f] = rowMax;
        if (rowMin < summary.min[f]) summary.min[f] = rowMin;
        if (rowMax > summary.bar[f]) {
            for (std::int32_t c = 0; c < columns; ++c)
                if (result[c] > summary.bar[f] && out[c].kind == kEmpty) summary.Offer(f, result[c], rowStart + c);
        }
    }
    const double* __restrict result0 = mid.result[0].data();
    const double* __restrict result1 = mid.result[1].data();
    const double* __restrict result2 = mid.result[2].data();
    for (std::int32_t c = 0; c < columns; ++c) {
        out[c].potential[0] = result0[c];
        out[c].potential[1] = result1[c];
        out[c].potential[2] = result2[c];
    }
}

// How many candidates each field's batch may need: its own placements and those
// of the batches before it in the step (homes, then service cells, then industry),
// each of which may take one of its cells; at most kMaxCandidates.
std::array<int, 3> WantedCandidates(const ControlState& controls)
{
    std::array<int, 3> wanted{};
    const std::string* texts[3] = {&controls.E_crAgs, &controls.E_crServ, &controls.E_crIndu};
    std::int64_t before = 0;
    for (int f = 0; f < 3; ++f) {
        std::int32_t n = 0;
        if (!TryStrToInt(*texts[f], n)) break;  // growth stops at this text
        if (n <= 0) continue;
        before += n;
        wanted[f] = static_cast<int>(std::min<std::int64_t>(before, DiffusionSummary::kMaxCandidates));
    }
    return wanted;
}

// Joins the blocks' summaries as one scan in row-major order would have made it:
// of equal values, the earlier block's are kept.
void JoinSummaries(DiffusionSummary& into, const RangeSummary* blocks, int count)
{
    for (int f = 0; f < 3; ++f) {
        const RangeSummary& first = blocks[0];
        into.max[f] = first.max[f];
        into.min[f] = first.min[f];
        into.candidates[f] = first.candidates[f];
        into.candidateCount[f] = first.count[f];
        into.wanted[f] = first.wanted[f];
        for (int b = 1; b < count; ++b) {
            const RangeSummary& next = blocks[b];
            if (next.max[f] > into.max[f]) into.max[f] = next.max[f];
            if (next.min[f] < into.min[f]) into.min[f] = next.min[f];
            const auto earlier = into.candidates[f];
            const int earlierCount = into.candidateCount[f];
            int n = 0, i = 0, j = 0;
            while (n < into.wanted[f] && (i < earlierCount || j < next.count[f])) {
                const bool takeEarlier = j >= next.count[f] ||
                                         (i < earlierCount && !(next.candidates[f][j].value > earlier[i].value));
                into.candidates[f][n++] = takeEarlier ? earlier[i++] : next.candidates[f][j++];
            }
            into.candidateCount[f] = n;
        }
    }
    into.extremesValid = true;
    into.candidatesValid = true;
    into.changeCount = 0;
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

    // The rows bordering each block, before any block changes them.
    const int blockCount = sim.splitter.BlockCount(rows);
    for (int b = 0; b < blockCount; ++b) {
        const std::int32_t begin = RowSplitter::BlockBegin(rows, blockCount, b);
        const std::int32_t end = RowSplitter::BlockBegin(rows, blockCount, b + 1);
        CopyRow(work.borders[b].above, run.cells, (begin + rows - 1) % rows);
        CopyRow(work.borders[b].below, run.cells, end % rows);
    }

    std::array<RangeSummary, RowSplitter::kMaxBlocks> summaries;
    const std::array<int, 3> wanted = WantedCandidates(sim.controls);
    for (int b = 0; b < blockCount; ++b) summaries[b].Start(wanted);

    // Each worker's ring and generator; a block that follows the worker's previous
    // one goes on with both as they are.
    struct WorkerState {
        Row* up;
        Row* mid;
        Row* down;
        RandomGenerator random;
    };
    const RandomGenerator start = sim.random;
    std::array<WorkerState, 2> workers{};
    auto diffuse = [&](const RowBlock& block) {
        WorkerState& w = workers[block.worker];
        DiffusionRows::Ring& ring = work.rings[block.worker];
        if (!block.continues) {
            w = {&ring.rows[0], &ring.rows[1], &ring.rows[2],
                 start.JumpedAhead(static_cast<std::uint64_t>(block.begin) * columns)};
            LoadCopiedRow(*w.up, columns, work.borders[block.index].above);
            LoadGridRow(*w.mid, run.cells, block.begin);
        }
        for (std::int32_t r = block.begin; r < block.end; ++r) {
            // The next row is read before this one is written.
            if (r + 1 < block.end) LoadGridRow(*w.down, run.cells, r + 1);
            else LoadCopiedRow(*w.down, columns, work.borders[block.index].below);
            DiffuseRow(run.cells, r, *w.up, *w.mid, *w.down, p, w.random, ring.seeds.data(), summaries[block.index]);
            Row* done = w.up;
            w.up = w.mid;
            w.mid = w.down;
            w.down = done;
        }
    };
    sim.splitter.ForBlocks(rows, diffuse);
    sim.random = start.JumpedAhead(static_cast<std::uint64_t>(rows) * columns);
    JoinSummaries(run.diffusionSummary, summaries.data(), blockCount);
}

void NormalizePotentials(Simulation& sim)
{
    // Each field is rescaled on its own; the three share one scan and one pass
    // because no field's result depends on another's.
    std::vector<TCell>& cells = sim.run.cells.InPassOrder();
    std::array<double, 3> max{1e-8, 1e-8, 1e-8};
    std::array<double, 3> min{9999999999.0, 9999999999.0, 9999999999.0};
    for (const TCell& cell : cells) {
        for (int f = 0; f < 3; ++f) {
            const double value = cell.potential[f];
            if (value > max[f]) max[f] = value;
            if (value < min[f]) min[f] = value;
        }
    }
    std::array<double, 3> scale{};
    std::array<bool, 3> rescale{};
    for (int f = 0; f < 3; ++f) {
        rescale[f] = max[f] != min[f];  // a uniform field has no scale: keep it
        if (rescale[f]) scale[f] = 10.0 / (max[f] - min[f]);
    }
    for (TCell& cell : cells)
        for (int f = 0; f < 3; ++f)
            if (rescale[f]) cell.potential[f] = (cell.potential[f] - min[f]) * scale[f];
}

void NormalizePotentialsAndDisplayRange(Simulation& sim)
{
#ifdef LANDUSE_REFERENCE_PHASES
    NormalizePotentials(sim);
    ComputeDisplayRange(sim);
#else
    NormalizePotentialsInDisplayPass(sim);
#endif
}

namespace {

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

}  // namespace

void NormalizePotentialsInDisplayPass(Simulation& sim)
{
    Run& run = sim.run;
    DiffusionSummary& summary = run.diffusionSummary;
    std::vector<TCell>& cells = run.cells.InPassOrder();
    const auto columns = static_cast<std::size_t>(run.columns);
    const int blockCount = sim.splitter.BlockCount(run.rows);

    // Each block of rows scans on its own; the blocks are joined as one scan in
    // row-major order would have met them, the earlier block keeping every tie.
    struct Extremes {
        std::array<double, 3> max{1e-8, 1e-8, 1e-8};
        std::array<double, 3> min{9999999999.0, 9999999999.0, 9999999999.0};
        double shownMax = -std::numeric_limits<double>::infinity();
        double shownMin = std::numeric_limits<double>::infinity();
    };
    std::array<Extremes, RowSplitter::kMaxBlocks> blocks;
    const auto join = [&blocks, blockCount]() {
        Extremes joined = blocks[0];
        for (int b = 1; b < blockCount; ++b) {
            for (int f = 0; f < 3; ++f) {
                if (blocks[b].max[f] > joined.max[f]) joined.max[f] = blocks[b].max[f];
                if (blocks[b].min[f] < joined.min[f]) joined.min[f] = blocks[b].min[f];
            }
            if (blocks[b].shownMax > joined.shownMax) joined.shownMax = blocks[b].shownMax;
            if (blocks[b].shownMin < joined.shownMin) joined.shownMin = blocks[b].shownMin;
        }
        return joined;
    };

    std::array<double, 3> max = summary.max;
    std::array<double, 3> min = summary.min;
    bool known = summary.extremesValid;
    for (int f = 0; f < 3 && known; ++f) known = FollowChanges(summary, f, max[f], min[f]);
    summary.extremesValid = false;
    summary.candidatesValid = false;
    if (!known) {
        auto scan = [&](const RowBlock& block) {
            Extremes& extremes = blocks[block.index];
            for (std::size_t i = block.begin * columns; i < block.end * columns; ++i) {
                for (int f = 0; f < 3; ++f) {
                    const double value = cells[i].potential[f];
                    if (value > extremes.max[f]) extremes.max[f] = value;
                    if (value < extremes.min[f]) extremes.min[f] = value;
                }
            }
        };
        sim.splitter.ForBlocks(run.rows, scan);
        const Extremes joined = join();
        max = joined.max;
        min = joined.min;
        blocks = {};
    }

    std::array<double, 3> scale{};
    std::array<bool, 3> rescale{};
    for (int f = 0; f < 3; ++f) {
        rescale[f] = max[f] != min[f];  // a uniform field has no scale: keep it
        if (rescale[f]) scale[f] = 10.0 / (max[f] - min[f]);
    }

    // The rescale and the display range's scan in one pass: the range is taken
    // over the values as rescaled. For a screen that paints, the pass also lists
    // the cells whose traffic moved since drawn; nothing changes traffic between
    // here and the step's drawing pass.
    const DisplayedValue shown = SelectDisplayedValue(sim);
    const bool rescaleAll = rescale[0] && rescale[1] && rescale[2];
    const bool listMoved = sim.screen().PaintsCells();
    std::vector<std::uint32_t>& moved = run.cellsToPaint;
    if (listMoved && moved.size() < cells.size()) moved.resize(cells.size());  // set-up sizes it
    Run::MovedCells movedCells{listMoved, blockCount, {}};
    auto pass = [&](const RowBlock& block) {
        // Everything the loop reads besides the cells is held in locals: the cells'
        // doubles could otherwise alias it, and each write would force a reload.
        const std::array<double, 3> low = min;
        const std::array<double, 3> factor = scale;
        const std::array<bool, 3> change = rescale;
        const DisplayedValue shownValue = shown;
        double shownMax = -std::numeric_limits<double>::infinity();
        double shownMin = std::numeric_limits<double>::infinity();
        std::uint32_t* __restrict listed = listMoved ? moved.data() + block.begin * columns : nullptr;
        std::uint32_t count = 0;
        for (std::size_t i = block.begin * columns; i < block.end * columns; ++i) {
            TCell& cell = cells[i];
            if (listMoved) {
                const double traffic = cell.allTracks - cell.lastDrawnAllTracks;
                if (traffic > 1.0 || traffic < -1.0) listed[count++] = static_cast<std::uint32_t>(i);
            }
            if (rescaleAll) {
                for (int f = 0; f < 3; ++f) cell.potential[f] = (cell.potential[f] - low[f]) * factor[f];
            } else {
                for (int f = 0; f < 3; ++f)
                    if (change[f]) cell.potential[f] = (cell.potential[f] - low[f]) * factor[f];
            }
            if (cell.shownFieldNumber != shownValue.field) cell.shownFieldNumber = shownValue.field;
            // Only empty cells count; chosen without a branch, as kinds mix at random.
            const bool empty = cell.kind == kEmpty;
            const double value = shownValue.Of(cell);
            shownMax = empty && value > shownMax ? value : shownMax;
            shownMin = empty && value < shownMin ? value : shownMin;
        }
        blocks[block.index].shownMax = shownMax;
        blocks[block.index].shownMin = shownMin;
        movedCells.count[block.index] = count;
    };
    sim.splitter.ForBlocks(run.rows, pass);
    run.movedCells = movedCells;
    const Extremes joined = join();
    StoreDisplayRange(run, joined.shownMax, joined.shownMin);
}
