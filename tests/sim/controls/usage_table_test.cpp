#include <gtest/gtest.h>

#include "sim/controls/conversion.h"
#include "sim/controls/usage_table.h"

TEST(UsageTable, ResetWritesHeadersAndDefaultsAndReadsThem)
{
    ControlState controls;
    UsageParameters usage;
    ResetUsageTable(controls, usage);
    const auto& grid = controls.StringGrid1;
    EXPECT_EQ(grid[0][0], "usage");
    EXPECT_EQ(grid[1][0], "diff. c.");
    EXPECT_EQ(grid[5][0], "noise");
    EXPECT_EQ(grid[0][3], "industry");
    EXPECT_EQ(grid[4][1], "0,0");
    EXPECT_EQ(grid[4][2], "0");
    EXPECT_EQ(grid[5][3], "4,8");

    EXPECT_EQ(usage.diffusion, (std::array<double, 3>{1, 1, 1}));
    EXPECT_EQ(usage.weight[0], (std::array<double, 3>{1.0, 0.5, 0.0}));
    EXPECT_EQ(usage.weight[1], (std::array<double, 3>{0.5, 1.0, 0.0}));
    EXPECT_EQ(usage.weight[2], (std::array<double, 3>{0.5, 0.0, 1.0}));
    EXPECT_EQ(usage.noise, (std::array<double, 3>{6.0, 5.0, 4.8}));
}

TEST(UsageTable, EditedCellTakesEffectAtTheNextRead)
{
    ControlState controls;
    UsageParameters usage;
    ResetUsageTable(controls, usage);
    controls.StringGrid1[3][2] = "2";
    ReadUsageTable(controls, usage);
    EXPECT_EQ(usage.weight[1][1], 2.0);
}

TEST(UsageTable, FailedCellKeepsItselfAndLaterParameters)
{
    ControlState controls;
    UsageParameters usage;
    ResetUsageTable(controls, usage);
    // New texts everywhere, then one bad cell in the middle of the reading order.
    for (int c = 1; c <= 5; ++c)
        for (int r = 1; r <= 3; ++r) controls.StringGrid1[c][r] = "7";
    controls.StringGrid1[3][1] = "";
    try {
        ReadUsageTable(controls, usage);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid floating point value");
    }
    EXPECT_EQ(usage.diffusion, (std::array<double, 3>{7, 7, 7}));
    EXPECT_EQ(usage.weight[0][0], 7.0);
    EXPECT_EQ(usage.weight[0][1], 0.5);  // the failing cell
    EXPECT_EQ(usage.weight[0][2], 0.0);
    EXPECT_EQ(usage.weight[2][2], 1.0);
    EXPECT_EQ(usage.noise[2], 4.8);
}
