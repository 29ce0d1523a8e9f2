#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "sim/core/statistics.h"
#include "sim/io/statistics_csv.h"
#include "tests/sim/sim_test_support.h"

TEST(Statistics, PercentagesRoundExactlyHalfToEven)
{
    EXPECT_EQ(PercentOf(1, 8), 12);    // 12.5
    EXPECT_EQ(PercentOf(3, 8), 38);    // 37.5
    EXPECT_EQ(PercentOf(5, 3), 167);
    EXPECT_EQ(PercentOf(69, 120), 58);  // exactly 57.5; a floating quotient gives 57.4999...
    EXPECT_EQ(PercentOf(0, 0), 0);
    EXPECT_EQ(PercentOf(0, 5), 0);
    EXPECT_EQ(PercentOf(7, 7), 100);
}

TEST(Statistics, ComputedOverTheAgentList)
{
    Simulation sim;
    MakeEmptyRun(sim, 4, 4);
    sim.run.stepCount = 9;
    sim.run.displayMax = 255.0L;
    EXPECT_EQ(ComputeStatistics(sim.run).successful, 0);  // no agents: no division
    for (int i = 0; i < 3; ++i) AddAgentAt(sim, i, 0);
    sim.run.agents[0].travelSteps = 1;
    sim.run.agents[1].travelSteps = 2;
    sim.run.agents[2].travelSteps = 2;
    sim.run.agents[1].mode = kReturning;
    sim.run.agents[2].success = 1;
    sim.run.agents[2].migrated = 1;
    const StepStatistics s = ComputeStatistics(sim.run);
    EXPECT_EQ(s.step, 9);
    EXPECT_EQ(s.agents, 3);
    EXPECT_EQ(s.averageTravel, 167);
    EXPECT_EQ(s.successful, 33);
    EXPECT_EQ(s.migrated, 33);
    EXPECT_EQ(s.returning, 33);
    EXPECT_EQ(s.maxMark, 255.0);
}

// The longest line still ends with its line break: nothing is cut off.
TEST(StatisticsCsv, TheLongestLineFitsWhole)
{
    StepStatistics s;
    s.step = s.agents = s.successful = s.averageTravel = s.migrated = s.returning = INT32_MIN;
    s.landUse.fill(INT32_MIN);
    s.maxMark = -1.2345678901234567e+308;
    const std::string line = StatisticsCsvLine(s);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 12);
}
