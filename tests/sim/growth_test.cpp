#include <gtest/gtest.h>

#include "conversion.h"
#include "growth.h"
#include "potential_fields.h"
#include "setup.h"
#include "sim_test_support.h"

TEST(Growth, FindMaxTakesTheFirstStrictlyGreatestEmptyCell)
{
    Simulation sim;
    MakeEmptyRun(sim, 5, 4);
    EXPECT_EQ(FindMaxPotentialCell(sim, 0), (CellPosition{0, 0}));  // nothing above 0
    sim.run.cells(3, 1).potential[0] = 2.0;
    sim.run.cells(1, 2).potential[0] = 2.0;  // same value, later row
    sim.run.cells(4, 3).potential[0] = 9.0;
    sim.run.cells(4, 3).kind = kObstacle;    // not empty
    EXPECT_EQ(FindMaxPotentialCell(sim, 0), (CellPosition{3, 1}));
    sim.run.cells(2, 1).potential[0] = 2.0;  // same value, same row, lower column
    EXPECT_EQ(FindMaxPotentialCell(sim, 0), (CellPosition{2, 1}));
    EXPECT_EQ(FindMaxPotentialCell(sim, 1), (CellPosition{0, 0}));
}

TEST(Growth, BatchPlacesAgentsOnDistinctCellsThenServicesAndIndustry)
{
    RecordingHooks hooks;
    Simulation sim(&hooks);
    MakeEmptyRun(sim, 10, 10);
    sim.run.cells(1, 1).potential = {5.0, 1.0, 0.5};
    sim.run.cells(2, 2).potential = {4.0, 3.0, 0.2};
    sim.run.cells(3, 3).potential = {3.0, 0.1, 0.1};
    sim.run.cells(4, 4).potential = {0.0, 0.0, 6.0};
    RandomGenerator expected = sim.random;
    CreateAgents(sim);
    ASSERT_EQ(sim.run.agents.size(), 3u);
    const CellPosition homes[] = {{1, 1}, {2, 2}, {3, 3}};
    for (int i = 0; i < 3; ++i) {
        const TAgent& agent = sim.run.agents[i];
        EXPECT_EQ(agent.column, homes[i].column);
        EXPECT_EQ(agent.homeRow, homes[i].row);
        EXPECT_EQ(agent.pixelX, homes[i].column * 2 + 1);
        EXPECT_EQ(agent.heading, expected.Random(360));  // one draw per agent
        EXPECT_EQ(agent.mode, kSearching);
        EXPECT_EQ(sim.run.cells(homes[i].column, homes[i].row).kind, kResidential);
        EXPECT_EQ(sim.run.cells(homes[i].column, homes[i].row).agentCount, 1);
    }
    EXPECT_EQ(sim.random.seed, expected.seed);
    // Home weights: +1.0 population, +0.5 service, +0.5 industry.
    EXPECT_EQ(sim.run.cells(1, 1).potential[0], 6.0);
    EXPECT_EQ(sim.run.cells(1, 1).potential[1], 1.5);
    EXPECT_EQ(sim.run.cells(1, 1).potential[2], 1.0);
    // Homes took the best service cells, so the service cell lands on the next empty maximum.
    EXPECT_EQ(sim.run.cells(4, 4).kind, kIndustry);
    EXPECT_EQ(sim.run.cells(4, 4).potential[2], 7.0);
    int services = 0;
    for (const TCell& cell : sim.run.cells.InPassOrder()) services += cell.kind == kService;
    EXPECT_EQ(services, 1);
    EXPECT_EQ(sim.run.cells(0, 0).kind, kService);  // no empty cell had service potential left
    EXPECT_EQ(hooks.drawnCells.size(), 5u);
}

TEST(Growth, BatchSizesComeFromTheirFields)
{
    Simulation sim;
    MakeEmptyRun(sim, 6, 6);
    sim.controls.E_crAgs = "0";
    sim.controls.E_crServ = "2";
    sim.controls.E_crIndu = "-1";
    CreateAgents(sim);
    EXPECT_TRUE(sim.run.agents.empty());
    // Two services on an all-zero field: both on (0, 0), which gets the weights twice.
    EXPECT_EQ(sim.run.cells(0, 0).kind, kService);
    EXPECT_EQ(sim.run.cells(0, 0).potential[1], 2.0);
}

TEST(Growth, ConversionErrorsKeepWhatWasCreatedBefore)
{
    Simulation sim;
    MakeEmptyRun(sim, 6, 6);
    sim.controls.E_crIndu = "x";
    EXPECT_THROW(CreateAgents(sim), ConversionError);
    EXPECT_EQ(sim.run.agents.size(), 3u);
    int services = 0, industry = 0;
    for (const TCell& cell : sim.run.cells.InPassOrder()) {
        services += cell.kind == kService;
        industry += cell.kind == kIndustry;
    }
    // Every placement fell on (0, 0): three homes, then the service cell; no industry.
    EXPECT_EQ(services, 1);
    EXPECT_EQ(industry, 0);
    EXPECT_EQ(sim.run.cells(0, 0).agentCount, 3);
}

TEST(Growth, NegativeWeightsLowerTheField)
{
    Simulation sim;
    MakeEmptyRun(sim, 4, 4);
    sim.controls.E_crAgs = "1";
    sim.controls.E_crServ = "0";
    sim.controls.E_crIndu = "0";
    sim.usage.weight[1][0] = -2.0;
    sim.run.cells(2, 2).potential = {1.0, 1.0, 1.0};
    CreateAgents(sim);
    EXPECT_EQ(sim.run.cells(2, 2).potential[1], -1.0);
}
