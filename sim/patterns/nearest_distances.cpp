// Distances on the torus from cells to their nearest targets: the exact distance
// transform of the grid and the pair-by-pair count it stands for.
#include "sim/patterns/nearest_distances.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace nearest_distances {

namespace {

// Column distances are below 202: 16 bits hold them, and their minimum
// vectorises on every x86-64.
constexpr std::int16_t kNone = 30000;

// Each cell's distance down or up its column to the nearest cell that `isTarget`
// marks (kNone when its column has none): all columns of a row at a time, two laps
// each way so the wrap reaches every cell.
std::vector<std::int16_t> ColumnDistances(const std::vector<std::uint8_t>& isTarget, std::size_t width, std::size_t height)
{
    std::vector<std::int16_t> down(isTarget.size(), kNone), since(width, kNone);
    const auto visit = [&](std::size_t r) {
        const std::uint8_t* target = isTarget.data() + r * width;
        std::int16_t* d = down.data() + r * width;
        for (std::size_t c = 0; c < width; ++c) {
            since[c] = target[c] ? std::int16_t{0} : std::min<std::int16_t>(since[c] + 1, kNone);
            d[c] = std::min(d[c], since[c]);
        }
    };
    for (int lap = 0; lap < 2; ++lap)
        for (std::size_t r = 0; r < height; ++r) visit(r);
    std::fill(since.begin(), since.end(), kNone);
    for (int lap = 0; lap < 2; ++lap)
        for (std::size_t r = height; r-- > 0;) visit(r);
    return down;
}

// One row's squared distances into `out` (width cells) from `lift`, the row's
// squared column distances with `reach` copies of its ends either side (site x
// stands at x - reach on the grid), by the lower envelope of parabolas; `site` and
// `from` are the envelope's scratch. False, with `out` untouched, when no column
// of the row has a target.
bool EnvelopeRow(const std::vector<std::int64_t>& lift, std::vector<std::int64_t>& site, std::vector<double>& from,
                 std::size_t reach, std::size_t width, std::int64_t* out)
{
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    std::size_t k = 0;
    bool first = true;
    for (std::size_t x = 0; x < lift.size(); ++x) {
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
    if (first) return false;
    std::size_t j = 0;
    for (std::size_t x = reach; x < reach + width; ++x) {
        while (from[j + 1] < static_cast<double>(x)) ++j;
        const std::int64_t dx = static_cast<std::int64_t>(x) - site[j];
        out[x - reach] = dx * dx + lift[site[j]];
    }
    return true;
}

}  // namespace

// The squared distance on the torus from every cell of the rows `wanted` marks
// to the nearest cell that `isTarget` marks (kFar everywhere when none is): exact,
// in two passes, down the columns and then along the rows by the lower envelope
// of parabolas, with each row's sites repeated half a grid width either side for
// the wrap (a site farther away has a nearer copy).
std::vector<std::int64_t> SquaredDistances(const std::vector<std::uint8_t>& isTarget, const std::vector<std::uint8_t>& wanted,
                                           std::int32_t columns, std::int32_t rows)
{
    const std::size_t width = static_cast<std::size_t>(columns), height = static_cast<std::size_t>(rows);
    const std::vector<std::int16_t> down = ColumnDistances(isTarget, width, height);
    std::vector<std::int64_t> squared(isTarget.size(), kFar);
    const std::size_t reach = width / 2 + 1;          // sites this far beyond either edge
    const std::size_t span = width + 2 * reach;       // site x stands at x - reach on the grid
    std::vector<std::int64_t> lift(span);             // the row's squared column distances
    std::vector<std::int64_t> site(span);             // x of each parabola of the envelope
    std::vector<double> from(span + 1);               // where each takes over
    for (std::size_t r = 0; r < height; ++r) {
        if (!wanted[r]) continue;
        // The row's squared column distances, then the wrap's copies of its ends either side.
        const std::int16_t* row = down.data() + r * width;
        std::int64_t* middle = lift.data() + reach;
        for (std::size_t c = 0; c < width; ++c) middle[c] = row[c] == kNone ? kFar : std::int64_t{row[c]} * row[c];
        std::copy(middle + width - reach, middle + width, lift.begin());
        std::copy(middle, middle + reach, middle + width);
        EnvelopeRow(lift, site, from, reach, width, squared.data() + r * width);
    }
    return squared;
}

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

}  // namespace nearest_distances
