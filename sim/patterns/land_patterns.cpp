#include "sim/patterns/land_patterns.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr PatternMeasure kMeasures[kPatternMeasureCount] = {
    {"residential_patches", "patches", "8-connected patches of residential land"},
    {"residential_largest_patch", "cells", "cells of the largest patch of residential land"},
    {"residential_largest_share", "share 0..1", "the largest patch's share of the cells of residential land"},
    {"residential_mean_patch", "cells", "mean cells per patch of residential land"},
    {"residential_edge_density", "sides per cell", "cell sides between residential land and other land, per cell of the grid"},
    {"residential_aggregation", "share 0..1", "like adjacencies (shared sides) of residential land over the most its cells allow"},
    {"services_patches", "patches", "8-connected patches of service land"},
    {"services_largest_patch", "cells", "cells of the largest patch of service land"},
    {"services_largest_share", "share 0..1", "the largest patch's share of the cells of service land"},
    {"services_mean_patch", "cells", "mean cells per patch of service land"},
    {"services_edge_density", "sides per cell", "cell sides between service land and other land, per cell of the grid"},
    {"services_aggregation", "share 0..1", "like adjacencies (shared sides) of service land over the most its cells allow"},
    {"industry_patches", "patches", "8-connected patches of industry land"},
    {"industry_largest_patch", "cells", "cells of the largest patch of industry land"},
    {"industry_largest_share", "share 0..1", "the largest patch's share of the cells of industry land"},
    {"industry_mean_patch", "cells", "mean cells per patch of industry land"},
    {"industry_edge_density", "sides per cell", "cell sides between industry land and other land, per cell of the grid"},
    {"industry_aggregation", "share 0..1", "like adjacencies (shared sides) of industry land over the most its cells allow"},
    {"built_patches", "patches", "8-connected patches of built land (residential, service and industry)"},
    {"built_largest_patch", "cells", "cells of the largest patch of built land (residential, service and industry)"},
    {"built_largest_share", "share 0..1", "the largest patch's share of the cells of built land (residential, service and industry)"},
    {"built_mean_patch", "cells", "mean cells per patch of built land (residential, service and industry)"},
    {"built_edge_density", "sides per cell", "cell sides between built land (residential, service and industry) and other land, per cell of the grid"},
    {"built_aggregation", "share 0..1", "like adjacencies (shared sides) of built land (residential, service and industry) over the most its cells allow"},
    {"home_destination_mean", "cells", "mean distance from a home cell to its nearest destination cell"},
    {"home_destination_max", "cells", "largest distance from a home cell to its nearest destination cell"},
    {"home_service_mean", "cells", "mean distance from a home cell to its nearest service cell"},
    {"track_share", "share 0..1", "share of the grid's cells whose all-tracks value is at or above the threshold"},
    {"track_networks", "networks", "8-connected networks of those track cells"},
    {"arrivals_mean", "arrivals", "mean arrivals per destination so far"},
    {"arrivals_max", "arrivals", "most arrivals at one destination so far"},
    {"arrivals_gini", "Gini 0..1", "Gini coefficient of the arrivals over the destinations"},
};

// The class of each cell: 0 none, 1 residential, 2 services, 3 industry.
std::uint8_t ClassOf(std::int32_t kind)
{
    switch (kind) {
    case kResidential: return 1;
    case kService: return 2;
    case kIndustry: return 3;
    default: return 0;
    }
}

// Patches by union-find over the wrapped grid, visiting only the cells that
// belong: each joins the four neighbours after it (east, and the three below) when
// `together` says so; the four before it joined it already.
class Patches {
public:
    explicit Patches(std::size_t cells) : parent_(cells), size_(cells, 0) {}

    struct Tally {
        std::int64_t patches = 0;
        std::int64_t largest = 0;
    };

    template <typename Together>
    Tally Count(const std::vector<std::uint32_t>& members, std::int32_t columns, std::int32_t rows, Together together)
    {
        for (const std::uint32_t i : members) parent_[i] = i;
        for (const std::uint32_t i : members) {
            const std::int32_t c = static_cast<std::int32_t>(i % columns), r = static_cast<std::int32_t>(i / columns);
            const std::uint32_t row = static_cast<std::uint32_t>(r) * columns;
            const std::uint32_t below = static_cast<std::uint32_t>(r + 1 == rows ? 0 : r + 1) * columns;
            const std::uint32_t east = c + 1 == columns ? 0 : c + 1;
            const std::uint32_t west = c == 0 ? columns - 1 : c - 1;
            for (const std::uint32_t there : {row + east, below + west, below + c, below + east})
                if (together(i, there)) Join(i, there);
        }
        Tally tally;
        for (const std::uint32_t i : members) {
            const std::int64_t size = ++size_[Root(i)];
            tally.largest = std::max(tally.largest, size);
        }
        for (const std::uint32_t i : members) {
            tally.patches += parent_[i] == i;
            size_[i] = 0;
        }
        return tally;
    }

private:
    std::uint32_t Root(std::uint32_t i)
    {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];  // path halving
            i = parent_[i];
        }
        return i;
    }
    void Join(std::uint32_t a, std::uint32_t b)
    {
        const std::uint32_t ra = Root(a), rb = Root(b);
        if (ra != rb) parent_[std::max(ra, rb)] = std::min(ra, rb);
    }

    std::vector<std::uint32_t> parent_;
    std::vector<std::int64_t> size_;
};

double Ratio(double numerator, double denominator)
{
    return denominator == 0.0 ? kNaN : numerator / denominator;
}

constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max() / 4;

// The squared distance on the torus from every cell of the rows `wanted` marks
// to the nearest cell that `isTarget` marks (kFar everywhere when none is): exact,
// in two passes, down the columns and then along the rows by the lower envelope
// of parabolas, with each row's sites repeated half a grid width either side for
// the wrap (a site farther away has a nearer copy).
std::vector<std::int64_t> SquaredDistances(const std::vector<std::uint8_t>& isTarget, const std::vector<std::uint8_t>& wanted,
                                           std::int32_t columns, std::int32_t rows)
{
    const std::size_t n = isTarget.size();
    const std::size_t width = static_cast<std::size_t>(columns), height = static_cast<std::size_t>(rows);
    // Down the columns, all columns of a row at a time, two laps each way so the
    // wrap reaches every cell. Column distances are below 202: 16 bits hold them,
    // and their minimum vectorises on every x86-64.
    constexpr std::int16_t kNone = 30000;
    std::vector<std::int16_t> down(n, kNone), since(width, kNone);
    for (int lap = 0; lap < 2; ++lap) {
        for (std::size_t r = 0; r < height; ++r) {
            const std::uint8_t* target = isTarget.data() + r * width;
            std::int16_t* d = down.data() + r * width;
            for (std::size_t c = 0; c < width; ++c) {
                since[c] = target[c] ? std::int16_t{0} : std::min<std::int16_t>(since[c] + 1, kNone);
                d[c] = std::min(d[c], since[c]);
            }
        }
    }
    std::fill(since.begin(), since.end(), kNone);
    for (int lap = 0; lap < 2; ++lap) {
        for (std::size_t r = height; r-- > 0;) {
            const std::uint8_t* target = isTarget.data() + r * width;
            std::int16_t* d = down.data() + r * width;
            for (std::size_t c = 0; c < width; ++c) {
                since[c] = target[c] ? std::int16_t{0} : std::min<std::int16_t>(since[c] + 1, kNone);
                d[c] = std::min(d[c], since[c]);
            }
        }
    }

    std::vector<std::int64_t> squared(n, kFar);
    const std::size_t reach = width / 2 + 1;          // sites this far beyond either edge
    const std::size_t span = width + 2 * reach;       // site x stands at x - reach on the grid
    std::vector<std::int64_t> lift(span);             // the row's squared column distances
    std::vector<std::int64_t> site(span);             // x of each parabola of the envelope
    std::vector<double> from(span + 1);               // where each takes over
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    for (std::size_t r = 0; r < height; ++r) {
        if (!wanted[r]) continue;
        // The row's squared column distances, then the wrap's copies of its ends either side.
        const std::int16_t* row = down.data() + r * width;
        std::int64_t* middle = lift.data() + reach;
        for (std::size_t c = 0; c < width; ++c) middle[c] = row[c] == kNone ? kFar : std::int64_t{row[c]} * row[c];
        std::copy(middle + width - reach, middle + width, lift.begin());
        std::copy(middle, middle + reach, middle + width);
        std::size_t k = 0;
        bool first = true;
        for (std::size_t x = 0; x < span; ++x) {
            const std::int64_t hx = lift[x];
            if (hx == kFar) continue;
            const auto xi = static_cast<std::int64_t>(x);
            if (first) {
                site[0] = xi;
                from[0] = -kInfinity;
                from[1] = kInfinity;
                first = false;
                continue;
            }
            double s = 0.0;
            for (;;) {
                const std::int64_t v = site[k];
                s = static_cast<double>((hx + xi * xi) - (lift[v] + v * v)) / static_cast<double>(2 * (xi - v));
                if (s > from[k] || k == 0) break;
                --k;
            }
            if (s <= from[k]) {
                site[0] = xi;  // k == 0: the new parabola lies below the first wherever that one ruled
                from[1] = kInfinity;
                continue;
            }
            ++k;
            site[k] = xi;
            from[k] = s;
            from[k + 1] = kInfinity;
        }
        if (first) continue;  // no target in any column
        std::size_t j = 0;
        for (std::size_t x = reach; x < reach + width; ++x) {
            while (from[j + 1] < static_cast<double>(x)) ++j;
            const std::int64_t dx = static_cast<std::int64_t>(x) - site[j];
            squared[r * width + (x - reach)] = dx * dx + lift[site[j]];
        }
    }
    return squared;
}

struct Distances {
    double mean = kNaN;
    double max = kNaN;
};

// From every listed cell to its nearest target, by the squared distances.
Distances NearestDistances(const std::vector<std::uint32_t>& from, const std::vector<std::int64_t>& squared)
{
    Distances d;
    if (from.empty() || squared[from.front()] == kFar) return d;
    double sum = 0.0;
    std::int64_t farthest = 0;
    for (const std::uint32_t i : from) {
        sum += std::sqrt(static_cast<double>(squared[i]));
        farthest = std::max(farthest, squared[i]);
    }
    d.mean = sum / static_cast<double>(from.size());
    d.max = std::sqrt(static_cast<double>(farthest));
    return d;
}

// The same from the listed cells to the listed targets one pair at a time: for
// few pairs cheaper than the transform of the whole grid, and the same numbers.
Distances NearestByPairs(const std::vector<std::uint32_t>& from, const std::vector<std::uint32_t>& targets,
                         std::int32_t columns, std::int32_t rows)
{
    Distances d;
    if (from.empty() || targets.empty()) return d;
    std::vector<std::int32_t> tx(targets.size()), ty(targets.size());
    for (std::size_t t = 0; t < targets.size(); ++t) {
        tx[t] = static_cast<std::int32_t>(targets[t] % columns);
        ty[t] = static_cast<std::int32_t>(targets[t] / columns);
    }
    double sum = 0.0;
    std::int32_t farthest = 0;
    for (const std::uint32_t i : from) {
        const std::int32_t x = static_cast<std::int32_t>(i % columns), y = static_cast<std::int32_t>(i / columns);
        std::int32_t best = std::numeric_limits<std::int32_t>::max();
        for (std::size_t t = 0; t < tx.size(); ++t) {
            std::int32_t dx = std::abs(x - tx[t]);
            std::int32_t dy = std::abs(y - ty[t]);
            dx = std::min(dx, columns - dx);
            dy = std::min(dy, rows - dy);
            best = std::min(best, dx * dx + dy * dy);
        }
        sum += std::sqrt(static_cast<double>(best));
        farthest = std::max(farthest, best);
    }
    d.mean = sum / static_cast<double>(from.size());
    d.max = std::sqrt(static_cast<double>(farthest));
    return d;
}

// Gini coefficient: the mean absolute difference over twice the mean.
double Gini(std::vector<double> values)
{
    if (values.empty()) return kNaN;
    std::sort(values.begin(), values.end());
    const double n = static_cast<double>(values.size());
    const double total = std::accumulate(values.begin(), values.end(), 0.0);
    if (total == 0.0) return kNaN;
    // Sum over pairs of |xi - xj| from the sorted values: each xi is above i values and below n-1-i.
    double weighted = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i) weighted += (2.0 * static_cast<double>(i) - n + 1.0) * values[i];
    return weighted / (n * total);
}

}  // namespace

std::span<const PatternMeasure, kPatternMeasureCount> PatternMeasures()
{
    return std::span<const PatternMeasure, kPatternMeasureCount>(kMeasures);
}

std::int64_t MostLikeAdjacencies(std::int64_t cells)
{
    if (cells <= 1) return 0;
    std::int64_t n = static_cast<std::int64_t>(std::sqrt(static_cast<double>(cells)));
    while (n * n > cells) --n;
    while ((n + 1) * (n + 1) <= cells) ++n;
    const std::int64_t m = cells - n * n;
    const std::int64_t square = 2 * n * (n - 1);
    if (m == 0) return square;
    return m <= n ? square + 2 * m - 1 : square + 2 * m - 2;
}

PatternValues MeasurePatterns(const Run& run, const PatternSettings& settings)
{
    PatternValues values{};
    const std::int32_t columns = run.cells.Columns(), rows = run.cells.Rows();
    const auto& cells = run.cells.InPassOrder();
    const std::size_t n = cells.size();
    const double gridCells = static_cast<double>(n);

    // One scan for each cell's class, the members of each class and of the track
    // cells, and the targets of the distances.
    std::vector<std::uint8_t> classOf(n), isTrack(n), isDestination(n), isService(n);
    std::array<std::vector<std::uint32_t>, kPatternClasses> members;  // residential, services, industry, built
    std::vector<std::uint32_t> trackCells, destinationCells;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t cls = ClassOf(cells[i].kind);
        classOf[i] = cls;
        isDestination[i] = cells[i].kind == kDestination;
        isService[i] = cls == 2;
        isTrack[i] = cells[i].allTracks >= settings.trackThreshold;
        if (cls) {
            members[cls - 1].push_back(static_cast<std::uint32_t>(i));
            members[3].push_back(static_cast<std::uint32_t>(i));
        }
        if (isTrack[i]) trackCells.push_back(static_cast<std::uint32_t>(i));
        if (isDestination[i]) destinationCells.push_back(static_cast<std::uint32_t>(i));
    }

    Patches patches(n);
    std::size_t at = 0;
    for (std::size_t k = 0; k < kPatternClasses; ++k) {
        const bool built = k == 3;
        const auto together = [&](std::uint32_t a, std::uint32_t b) {
            return built ? classOf[b] != 0 : classOf[b] == classOf[a];
        };
        const Patches::Tally tally = patches.Count(members[k], columns, rows, together);
        // Like adjacencies: the shared sides east and below of every member, each once.
        std::int64_t like = 0;
        for (const std::uint32_t i : members[k]) {
            const std::int32_t c = static_cast<std::int32_t>(i % columns), r = static_cast<std::int32_t>(i / columns);
            const std::uint32_t east = static_cast<std::uint32_t>(r) * columns + (c + 1 == columns ? 0 : c + 1);
            const std::uint32_t below = static_cast<std::uint32_t>(r + 1 == rows ? 0 : r + 1) * columns + c;
            like += together(i, east) + together(i, below);
        }
        const auto count = static_cast<std::int64_t>(members[k].size());
        values[at++] = static_cast<double>(tally.patches);
        values[at++] = static_cast<double>(tally.largest);
        values[at++] = Ratio(static_cast<double>(tally.largest), static_cast<double>(count));
        values[at++] = Ratio(static_cast<double>(count), static_cast<double>(tally.patches));
        // Every cell has four sides: those not shared with a like cell are edges.
        values[at++] = static_cast<double>(4 * count - 2 * like) / gridCells;
        values[at++] = Ratio(static_cast<double>(like), static_cast<double>(MostLikeAdjacencies(count)));
    }

    // Homes to their nearest destination and service cells: pair by pair where the
    // pairs are few, else by the distance transform in the rows that hold homes.
    std::vector<std::uint8_t> homeRows(static_cast<std::size_t>(rows), 0);
    for (const std::uint32_t i : members[0]) homeRows[i / columns] = 1;
    const auto fromHomes = [&](const std::vector<std::uint8_t>& isTarget, const std::vector<std::uint32_t>& targets) {
        if (members[0].size() * targets.size() <= 8 * n) return NearestByPairs(members[0], targets, columns, rows);
        return NearestDistances(members[0], SquaredDistances(isTarget, homeRows, columns, rows));
    };
    const Distances toDestination = fromHomes(isDestination, destinationCells);
    values[at++] = toDestination.mean;
    values[at++] = toDestination.max;
    values[at++] = fromHomes(isService, members[1]).mean;

    values[at++] = static_cast<double>(trackCells.size()) / gridCells;
    values[at++] = static_cast<double>(
        patches.Count(trackCells, columns, rows, [&](std::uint32_t, std::uint32_t b) { return isTrack[b] != 0; }).patches);

    std::vector<double> arrivals;
    for (const Destination& d : run.destinations) arrivals.push_back(d.arrivals);
    values[at++] = arrivals.empty() ? kNaN : std::accumulate(arrivals.begin(), arrivals.end(), 0.0) / arrivals.size();
    values[at++] = arrivals.empty() ? kNaN : *std::max_element(arrivals.begin(), arrivals.end());
    values[at++] = Gini(arrivals);
    return values;
}
