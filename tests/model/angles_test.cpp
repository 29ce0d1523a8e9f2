#include <gtest/gtest.h>

#include "model/angles.h"

TEST(Angles, NormalizeAngleCorrectsOnceEachWay)
{
    const std::pair<int, int> cases[] = {{-1, 359}, {-360, 0}, {360, 360}, {361, 1},
                                         {720, 360}, {-361, -1}, {721, 361}, {0, 0}};
    for (auto [in, out] : cases) {
        std::int32_t a = in;
        NormalizeAngle(a);
        EXPECT_EQ(a, out) << in;
    }
    const std::pair<double, double> reals[] = {{-22.5, 337.5}, {360.0, 360.0}, {697.5, 337.5}, {-382.5, -22.5}};
    for (auto [in, out] : reals) {
        double a = in;
        NormalizeAngleF(a);
        EXPECT_EQ(a, out) << in;
    }
}

TEST(Angles, StepVectorsFollowTheSectorTable)
{
    struct Range {
        int from, to;
        Direction step;
    };
    const Range table[] = {{0, 29, {1, 0}},     {30, 59, {1, 1}},     {60, 119, {0, 1}},
                           {120, 149, {-1, 1}}, {150, 209, {-1, 0}},  {210, 239, {-1, -1}},
                           {240, 299, {0, -1}}, {300, 329, {1, -1}},  {330, 360, {1, 0}}};
    for (const Range& range : table)
        for (int h = range.from; h <= range.to; ++h) EXPECT_EQ(StepVector(h), range.step) << h;
    // Beyond 0..360 the table repeats; negative boundaries take the vector one degree lower.
    EXPECT_EQ(StepVector(390), (Direction{1, 1}));
    EXPECT_EQ(StepVector(-30), (Direction{1, -1}));
    EXPECT_EQ(StepVector(-60), (Direction{0, -1}));
    EXPECT_EQ(StepVector(-330), (Direction{1, 0}));
}

TEST(Angles, HeadingOfTheEightNeighbours)
{
    EXPECT_EQ(HeadingOf(1, 0), 0);
    EXPECT_EQ(HeadingOf(1, 1), 45);
    EXPECT_EQ(HeadingOf(0, 1), 90);
    EXPECT_EQ(HeadingOf(-1, 1), 135);
    EXPECT_EQ(HeadingOf(-1, 0), 180);
    EXPECT_EQ(HeadingOf(-1, -1), -135);
    EXPECT_EQ(HeadingOf(0, -1), -90);
    EXPECT_EQ(HeadingOf(1, -1), -45);
    EXPECT_EQ(HeadingOf(0, 0), 0);
    EXPECT_EQ(HeadingOf(37, 0), 0);  // plain differences: straight across the grid
}

TEST(Angles, TabledHeadingsAndStepVectorsEqualTheirExpressions)
{
    // Inside the step-vector table, at its ends and beyond them.
    for (int h = -1500; h <= 1500; ++h) ASSERT_EQ(StepVector(h), ComputeStepVector(h)) << h;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            EXPECT_EQ(HeadingOfDirection(Direction{dx, dy}), HeadingOf(dx, dy)) << dx << "," << dy;

    // Every offset of a 7 x 4 grid, twice (computed, then kept), and offsets
    // beyond the table on either axis.
    HeadingTable table;
    table.Resize(6, 3);
    for (int round = 0; round < 2; ++round)
        for (int dy = -5; dy <= 5; ++dy)
            for (int dx = -9; dx <= 9; ++dx) ASSERT_EQ(table.Of(dx, dy), HeadingOf(dx, dy)) << dx << "," << dy;
    // A new size forgets the headings kept for the old one.
    table.Resize(1, 1);
    EXPECT_EQ(table.Of(-1, 1), 135);
    EXPECT_EQ(table.Of(6, 3), HeadingOf(6, 3));
    table.Resize(-1, 5);  // no grid: everything computed
    EXPECT_EQ(table.Of(0, -1), -90);
}
