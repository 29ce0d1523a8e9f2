// Pattern measures on small hand-made grids whose answers are known by counting.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "sim/patterns/land_patterns.h"

namespace {

struct Cell {
    std::int32_t column, row, kind;
};

Run Grid(std::int32_t columns, std::int32_t rows, const std::vector<Cell>& cells)
{
    Run run;
    run.columns = columns;
    run.rows = rows;
    run.cells = TCellList(columns, rows);
    for (const Cell& c : cells) run.cells(c.column, c.row).kind = c.kind;
    return run;
}

double Measure(const PatternValues& values, const std::string& name)
{
    for (std::size_t i = 0; i < kPatternMeasureCount; ++i)
        if (name == PatternMeasures()[i].name) return values[i];
    ADD_FAILURE() << "no measure " << name;
    return 0.0;
}

std::vector<Cell> Checkerboard(std::int32_t side, std::int32_t kind)
{
    std::vector<Cell> cells;
    for (std::int32_t r = 0; r < side; ++r)
        for (std::int32_t c = 0; c < side; ++c)
            if ((c + r) % 2 == 0) cells.push_back({c, r, kind});
    return cells;
}

std::vector<Cell> Block(std::int32_t left, std::int32_t top, std::int32_t side, std::int32_t kind)
{
    std::vector<Cell> cells;
    for (std::int32_t r = top; r < top + side; ++r)
        for (std::int32_t c = left; c < left + side; ++c) cells.push_back({c, r, kind});
    return cells;
}

}  // namespace

// Patches, largest patch, edges and aggregation of one class on grids whose
// answers follow by counting: patches that cross an edge or a corner are one.
TEST(LandPatterns, KnownGridsGiveTheirCountedMeasures)
{
    const double nan = std::nan("");
    const struct {
        const char* what;
        ::Run run;
        const char* kind;
        double patches, largest, meanPatch, edgeDensity, aggregation;
    } cases[] = {
        {"left and right edge", Grid(6, 5, {{0, 2, kResidential}, {5, 2, kResidential}}), "residential", 1, 2, 2, 6.0 / 30, 1},
        {"top and bottom edge", Grid(6, 5, {{3, 0, kService}, {3, 4, kService}}), "services", 1, 2, 2, 6.0 / 30, 1},
        {"the four corners, a 2 x 2 block", Grid(6, 5, {{0, 0, kIndustry}, {5, 0, kIndustry}, {0, 4, kIndustry}, {5, 4, kIndustry}}),
         "industry", 1, 4, 4, 8.0 / 30, 1},
        {"two corners touching across the corner", Grid(6, 5, {{0, 0, kResidential}, {5, 4, kResidential}}), "residential", 1, 2,
         2, 8.0 / 30, 0},
        {"apart", Grid(6, 5, {{0, 0, kResidential}, {3, 2, kResidential}}), "residential", 2, 1, 1, 8.0 / 30, 0},
        {"checkerboard", Grid(6, 6, Checkerboard(6, kResidential)), "residential", 1, 18, 18, 72.0 / 36, 0},
        {"3 x 3 block", Grid(8, 8, Block(2, 3, 3, kService)), "services", 1, 9, 9, 12.0 / 64, 1},
        {"kinds merge into built land", Grid(6, 5, {{1, 1, kResidential}, {2, 1, kService}, {3, 2, kIndustry}}), "built", 1, 3,
         3, 10.0 / 30, 1.0 / 2},
        {"an empty kind", Grid(6, 5, {{1, 1, kResidential}}), "industry", 0, 0, nan, 0, nan},
    };
    for (const auto& c : cases) {
        const PatternValues v = MeasurePatterns(c.run);
        const std::string k = c.kind;
        EXPECT_EQ(Measure(v, k + "_patches"), c.patches) << c.what;
        EXPECT_EQ(Measure(v, k + "_largest_patch"), c.largest) << c.what;
        EXPECT_DOUBLE_EQ(Measure(v, k + "_edge_density"), c.edgeDensity) << c.what;
        for (const auto& [name, expected] : {std::pair{"_mean_patch", c.meanPatch}, std::pair{"_aggregation", c.aggregation}}) {
            const double got = Measure(v, k + name);
            if (std::isnan(expected)) EXPECT_TRUE(std::isnan(got)) << c.what << name;
            else EXPECT_DOUBLE_EQ(got, expected) << c.what << name;
        }
    }
}

// The most like adjacencies n cells can have: a square, then a row begun along it.
TEST(LandPatterns, MostLikeAdjacenciesPackTheSquarestBlock)
{
    const std::pair<std::int64_t, std::int64_t> cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 4},
                                                           {5, 5}, {6, 7}, {9, 12}, {10, 13}, {12, 17}};
    for (const auto& [cells, most] : cases) EXPECT_EQ(MostLikeAdjacencies(cells), most) << cells;
}

// Distances go the short way round; track cells and their networks wrap too; the
// arrivals' Gini coefficient is (n - 1) / n when one destination has them all.
TEST(LandPatterns, DistancesTracksAndArrivalsWrapAndShare)
{
    ::Run run = Grid(6, 5, {{0, 0, kResidential}, {3, 2, kResidential}, {5, 4, kDestination}, {1, 2, kService}});
    run.cells(0, 1).allTracks = 22.0;  // at the threshold
    run.cells(0, 2).allTracks = 30.0;
    run.cells(5, 3).allTracks = 100.0;  // joins them across the edge
    run.cells(3, 3).allTracks = 21.9;   // below
    run.destinations = {{0, 0, 0}, {0, 0, 0}, {0, 0, 10}};
    const PatternValues v = MeasurePatterns(run);
    // (0,0) to (5,4): one step back each way; (3,2) to (5,4): 2 and 2.
    EXPECT_DOUBLE_EQ(Measure(v, "home_destination_mean"), (std::sqrt(2.0) + std::sqrt(8.0)) / 2);
    EXPECT_DOUBLE_EQ(Measure(v, "home_destination_max"), std::sqrt(8.0));
    // (0,0) to (1,2): 1 and 2; (3,2) to (1,2): 2.
    EXPECT_DOUBLE_EQ(Measure(v, "home_service_mean"), (std::sqrt(5.0) + 2.0) / 2);
    EXPECT_DOUBLE_EQ(Measure(v, "track_share"), 3.0 / 30);
    EXPECT_EQ(Measure(v, "track_networks"), 1);
    EXPECT_DOUBLE_EQ(Measure(v, "arrivals_mean"), 10.0 / 3);
    EXPECT_EQ(Measure(v, "arrivals_max"), 10);
    EXPECT_DOUBLE_EQ(Measure(v, "arrivals_gini"), 2.0 / 3);

    const PatternValues none = MeasurePatterns(Grid(6, 5, {{1, 1, kResidential}}));
    for (const char* name : {"home_destination_mean", "home_service_mean", "arrivals_gini"})
        EXPECT_TRUE(std::isnan(Measure(none, name))) << name;
}
