#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/core/statistics.h"
#include "sim/core/statistics_columns.h"
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

// Each column is bound to its own field: set through the table by name, the row
// holds each value where an independent list of the fields says it goes, and the
// CSV line the table writes is the one the fields printed in that order give.
TEST(StatisticsColumns, EachColumnIsItsOwnField)
{
    StepStatistics s;
    int n = 0;
    VisitStatisticsColumns(s, [&](const StatisticsColumn&, auto& value) { value = 1000 + 10 * n++; });
    const struct {
        const char* name;
        double value;  // every field's value fits a double exactly
    } fields[] = {{"step", double(s.step)},
                  {"agents", double(s.agents)},
                  {"successful", double(s.successful)},
                  {"avg_travel", double(s.averageTravel)},
                  {"max_mark", s.maxMark},
                  {"migrated", double(s.migrated)},
                  {"returning", double(s.returning)},
                  {"empty", double(s.landUse[kEmpty])},
                  {"obstacles", double(s.landUse[kObstacle])},
                  {"residential", double(s.landUse[kResidential])},
                  {"destinations", double(s.landUse[kDestination])},
                  {"services", double(s.landUse[kService])},
                  {"industry", double(s.landUse[kIndustry])}};
    ASSERT_EQ(std::size(fields), kStatisticsColumns.size());
    for (std::size_t i = 0; i < kStatisticsColumns.size(); ++i) {
        EXPECT_EQ(kStatisticsColumns[i].name, fields[i].name);
        EXPECT_EQ(fields[i].value, 1000 + 10 * static_cast<double>(i)) << fields[i].name;
    }

    const StepStatistics rows[] = {s,
                                   {INT32_MIN, 0, -1, INT32_MAX, -1.2345678901234567e+308, 5, 6, {1, 2, 3, 4, 5, -6}},
                                   {7, 8, 9, 10, 0.1, 11, 12, {0, 0, 0, 0, 0, 0}}};
    for (const StepStatistics& r : rows) {
        char printed[400];
        std::snprintf(printed, sizeof printed, "%d,%d,%d,%d,%.17g,%d,%d,%d,%d,%d,%d,%d,%d\n", r.step, r.agents,
                      r.successful, r.averageTravel, r.maxMark, r.migrated, r.returning, r.landUse[0], r.landUse[1],
                      r.landUse[2], r.landUse[3], r.landUse[4], r.landUse[5]);
        EXPECT_EQ(StatisticsCsvLine(r), printed);
    }
}
