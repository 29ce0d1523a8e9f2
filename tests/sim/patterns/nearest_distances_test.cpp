// The distance transform against a count of every pair of cells on the torus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "sim/patterns/nearest_distances.h"

namespace {

using namespace nearest_distances;

// The squared distance on the torus from cell i to its nearest target, pair by pair.
std::int64_t NearestByCount(std::uint32_t i, const std::vector<std::uint8_t>& isTarget, std::int32_t columns,
                            std::int32_t rows)
{
    std::int64_t best = kFar;
    for (std::uint32_t t = 0; t < isTarget.size(); ++t) {
        if (!isTarget[t]) continue;
        std::int64_t dx = std::abs(static_cast<std::int64_t>(i % columns) - static_cast<std::int64_t>(t % columns));
        std::int64_t dy = std::abs(static_cast<std::int64_t>(i / columns) - static_cast<std::int64_t>(t / columns));
        dx = std::min<std::int64_t>(dx, columns - dx);
        dy = std::min<std::int64_t>(dy, rows - dy);
        best = std::min(best, dx * dx + dy * dy);
    }
    return best;
}

// Grids from a single cell to the widest the model draws, odd and even, narrow
// both ways, with no target, one, a few and most cells targets.
TEST(NearestDistances, TransformMatchesEveryPairOnTheTorus)
{
    struct Case {
        std::int32_t columns, rows;
        double targetShare;
    };
    const Case cases[] = {{1, 1, 1.0},   {1, 7, 0.2},   {7, 1, 0.2},   {2, 2, 0.3},   {5, 4, 0.0},
                          {6, 5, 0.05},  {9, 13, 0.02}, {16, 16, 0.5}, {31, 8, 0.01}, {40, 33, 0.9},
                          {201, 3, 0.01}, {3, 201, 0.01}};
    std::mt19937 random(20240611);
    for (const Case& c : cases) {
        for (int draw = 0; draw < 4; ++draw) {
            const std::size_t n = static_cast<std::size_t>(c.columns) * c.rows;
            std::bernoulli_distribution isOne(c.targetShare), wantedRow(0.7);
            std::vector<std::uint8_t> isTarget(n), wanted(static_cast<std::size_t>(c.rows));
            std::vector<std::uint32_t> targets, from;
            for (std::uint32_t i = 0; i < n; ++i)
                if ((isTarget[i] = isOne(random))) targets.push_back(i);
            for (auto& w : wanted) w = wantedRow(random);
            const std::vector<std::int64_t> squared = SquaredDistances(isTarget, wanted, c.columns, c.rows);
            ASSERT_EQ(squared.size(), n);
            for (std::uint32_t i = 0; i < n; ++i) {
                const bool rowWanted = wanted[i / c.columns];
                const std::int64_t expected = rowWanted ? NearestByCount(i, isTarget, c.columns, c.rows) : kFar;
                ASSERT_EQ(squared[i], expected) << c.columns << " x " << c.rows << ", cell " << i;
                if (rowWanted && i % 3 == 0) from.push_back(i);
            }
            // Both roads to the mean and the largest distance give the same bits.
            const Distances transform = NearestDistances(from, squared);
            const Distances pairs = NearestByPairs(from, targets, c.columns, c.rows);
            if (from.empty() || targets.empty()) {
                EXPECT_TRUE(std::isnan(transform.mean) && std::isnan(pairs.mean));
            } else {
                EXPECT_EQ(transform.mean, pairs.mean);
                EXPECT_EQ(transform.max, pairs.max);
            }
        }
    }
}

}  // namespace
