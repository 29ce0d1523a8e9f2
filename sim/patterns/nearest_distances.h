#pragma once
#include <cstdint>
#include <limits>
#include <vector>

// Distances on the torus of a grid of `columns` x `rows` cells, cells numbered
// row-major, between each listed cell and its nearest target.
namespace nearest_distances {

// The squared distance where no target is.
inline constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max() / 4;

// The mean and largest distance from the listed cells to their nearest targets;
// NaN when there is no cell or no target.
struct Distances {
    double mean = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
};

// The squared distance from every cell of the rows `wanted` marks to the nearest
// cell that `isTarget` marks (kFar in the other rows, and everywhere when no cell
// is a target).
std::vector<std::int64_t> SquaredDistances(const std::vector<std::uint8_t>& isTarget, const std::vector<std::uint8_t>& wanted,
                                           std::int32_t columns, std::int32_t rows);

// The distances from the listed cells, by their squared distances.
Distances NearestDistances(const std::vector<std::uint32_t>& from, const std::vector<std::int64_t>& squared);

// The same from the listed cells to the listed targets one pair at a time.
Distances NearestByPairs(const std::vector<std::uint32_t>& from, const std::vector<std::uint32_t>& targets,
                         std::int32_t columns, std::int32_t rows);

}  // namespace nearest_distances
