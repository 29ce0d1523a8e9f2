#include "sim/patterns/land_patterns.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "sim/patterns/nearest_distances.h"

namespace {

using nearest_distances::Distances;
using nearest_distances::NearestByPairs;
using nearest_distances::NearestDistances;
using nearest_distances::SquaredDistances;

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

// One scan for each cell's class, the members of each class and of the track
// cells, and the targets of the distances.
struct CellClasses {
    std::vector<std::uint8_t> classOf, isTrack, isDestination, isService;
    std::array<std::vector<std::uint32_t>, kPatternClasses> members;  // residential, services, industry, built
    std::vector<std::uint32_t> trackCells, destinationCells;
};

CellClasses ClassifyCells(const Run& run, const PatternSettings& settings)
{
    const auto& cells = run.cells.InPassOrder();
    const std::size_t n = cells.size();
    CellClasses to;
    for (auto* flags : {&to.classOf, &to.isTrack, &to.isDestination, &to.isService}) flags->resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t cls = ClassOf(cells[i].kind);
        to.classOf[i] = cls;
        to.isDestination[i] = cells[i].kind == kDestination;
        to.isService[i] = cls == 2;
        to.isTrack[i] = cells[i].allTracks >= settings.trackThreshold;
        if (cls) {
            to.members[cls - 1].push_back(static_cast<std::uint32_t>(i));
            to.members[3].push_back(static_cast<std::uint32_t>(i));
        }
        if (to.isTrack[i]) to.trackCells.push_back(static_cast<std::uint32_t>(i));
        if (to.isDestination[i]) to.destinationCells.push_back(static_cast<std::uint32_t>(i));
    }
    return to;
}

// The six measures of class k's patches into values[at, at + 6).
void MeasureClass(const CellClasses& classes, std::size_t k, Patches& patches, std::int32_t columns, std::int32_t rows,
                  PatternValues& values, std::size_t& at)
{
    const std::vector<std::uint8_t>& classOf = classes.classOf;
    const std::vector<std::uint32_t>& members = classes.members[k];
    const double gridCells = static_cast<double>(classOf.size());
    const bool built = k == 3;
    const auto together = [&](std::uint32_t a, std::uint32_t b) {
        return built ? classOf[b] != 0 : classOf[b] == classOf[a];
    };
    const Patches::Tally tally = patches.Count(members, columns, rows, together);
    // Like adjacencies: the shared sides east and below of every member, each once.
    std::int64_t like = 0;
    for (const std::uint32_t i : members) {
        const std::int32_t c = static_cast<std::int32_t>(i % columns), r = static_cast<std::int32_t>(i / columns);
        const std::uint32_t east = static_cast<std::uint32_t>(r) * columns + (c + 1 == columns ? 0 : c + 1);
        const std::uint32_t below = static_cast<std::uint32_t>(r + 1 == rows ? 0 : r + 1) * columns + c;
        like += together(i, east) + together(i, below);
    }
    const auto count = static_cast<std::int64_t>(members.size());
    values[at++] = static_cast<double>(tally.patches);
    values[at++] = static_cast<double>(tally.largest);
    values[at++] = Ratio(static_cast<double>(tally.largest), static_cast<double>(count));
    values[at++] = Ratio(static_cast<double>(count), static_cast<double>(tally.patches));
    // Every cell has four sides: those not shared with a like cell are edges.
    values[at++] = static_cast<double>(4 * count - 2 * like) / gridCells;
    values[at++] = Ratio(static_cast<double>(like), static_cast<double>(MostLikeAdjacencies(count)));
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
    const std::size_t n = run.cells.InPassOrder().size();
    const double gridCells = static_cast<double>(n);
    const CellClasses classes = ClassifyCells(run, settings);
    const auto& members = classes.members;

    Patches patches(n);
    std::size_t at = 0;
    for (std::size_t k = 0; k < kPatternClasses; ++k) MeasureClass(classes, k, patches, columns, rows, values, at);

    // Homes to their nearest destination and service cells: pair by pair where the
    // pairs are few, else by the distance transform in the rows that hold homes.
    std::vector<std::uint8_t> homeRows(static_cast<std::size_t>(rows), 0);
    for (const std::uint32_t i : members[0]) homeRows[i / columns] = 1;
    const auto fromHomes = [&](const std::vector<std::uint8_t>& isTarget, const std::vector<std::uint32_t>& targets) {
        if (members[0].size() * targets.size() <= 8 * n) return NearestByPairs(members[0], targets, columns, rows);
        return NearestDistances(members[0], SquaredDistances(isTarget, homeRows, columns, rows));
    };
    const Distances toDestination = fromHomes(classes.isDestination, classes.destinationCells);
    values[at++] = toDestination.mean;
    values[at++] = toDestination.max;
    values[at++] = fromHomes(classes.isService, members[1]).mean;

    const std::vector<std::uint8_t>& isTrack = classes.isTrack;
    values[at++] = static_cast<double>(classes.trackCells.size()) / gridCells;
    values[at++] = static_cast<double>(
        patches.Count(classes.trackCells, columns, rows, [&](std::uint32_t, std::uint32_t b) { return isTrack[b] != 0; })
            .patches);

    std::vector<double> arrivals;
    for (const Destination& d : run.destinations) arrivals.push_back(d.arrivals);
    values[at++] = arrivals.empty() ? kNaN : std::accumulate(arrivals.begin(), arrivals.end(), 0.0) / arrivals.size();
    values[at++] = arrivals.empty() ? kNaN : *std::max_element(arrivals.begin(), arrivals.end());
    values[at++] = Gini(arrivals);
    return values;
}
