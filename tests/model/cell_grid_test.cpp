#include <gtest/gtest.h>

#include "model/cell_grid.h"
#include "model/neighbourhood.h"

TEST(CellGrid, WrapCoordsMakesOneCorrectionPerAxis)
{
    struct Case {
        int c, r, wc, wr;
    };
    for (Case k : {Case{-1, -1, 49, 49}, Case{50, 0, 0, 0}, Case{49, 50, 49, 0}, Case{0, 0, 0, 0}, Case{49, 49, 49, 49}}) {
        std::int32_t c = k.c, r = k.r;
        WrapCoords(c, r, 50, 50);
        EXPECT_EQ(c, k.wc);
        EXPECT_EQ(r, k.wr);
    }
}

TEST(CellGrid, GeometryOfEveryCellSize)
{
    const int expected[][3] = {{2, 1, 202}, {3, 1, 135}, {4, 2, 101}, {5, 2, 81}, {6, 3, 67},
                               {7, 3, 58},  {8, 4, 50},  {9, 4, 45},   {10, 5, 40}};
    for (const auto& row : expected) {
        EXPECT_EQ(HalfCell(row[0]), row[1]) << row[0];
        EXPECT_EQ(CellsAlong(kPanelSize, row[0]), row[2]) << row[0];  // 404 / 8 = 50.5 gives 50
    }
}

TEST(CellGrid, AccessIsColumnThenRow)
{
    TCellList grid(4, 9);
    grid(3, 7).kind = kObstacle;
    EXPECT_EQ(grid.InPassOrder()[7 * 4 + 3].kind, kObstacle);  // eighth row, fourth column
    EXPECT_TRUE(grid.Contains(3, 8));
    EXPECT_FALSE(grid.Contains(4, 0));
    EXPECT_FALSE(grid.Contains(0, -1));
}

TEST(CellGrid, NeighbourhoodsWrapAroundTheEdges)
{
    TCellList grid(5, 4);
    grid.Potential(4, 3, 0) = 8.0;  // diagonal neighbour of (0, 0) across both edges
    grid.Potential(0, 0, 0) = 100.0;  // the centre itself does not count
    TLimbo means;
    means.Resize(5, 4);
    NeighbourMean(0, 0, 5, 4, means, grid);
    EXPECT_EQ(means.at(0, 0, 0), 1.0L);

    grid(4, 3).agentCount = 2;
    grid(0, 0).agentCount = 1;
    EXPECT_EQ(NeighbourAgentCount(0, 0, grid), 2);
    EXPECT_EQ(NeighbourAgentCount(2, 1, grid), -1);
}
