#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sim/controls/conversion.h"
#include "sim/core/setup.h"
#include "sim/phases/growth.h"
#include "tests/sim/sim_test_support.h"

TEST(Growth, FindMaxTakesTheFirstStrictlyGreatestEmptyCell)
{
    Simulation sim;
    MakeEmptyRun(sim, 5, 4);
    EXPECT_EQ(FindMaxPotentialCell(sim, 0), (CellPosition{0, 0}));  // nothing above 0
    sim.run.cells.Potential(3, 1, 0) = 2.0;
    sim.run.cells.Potential(1, 2, 0) = 2.0;  // same value, later row
    sim.run.cells.Potential(4, 3, 0) = 9.0;
    sim.run.cells(4, 3).kind = kObstacle;    // not empty
    EXPECT_EQ(FindMaxPotentialCell(sim, 0), (CellPosition{3, 1}));
    sim.run.cells.Potential(2, 1, 0) = 2.0;  // same value, same row, lower column
    EXPECT_EQ(FindMaxPotentialCell(sim, 0), (CellPosition{2, 1}));
    EXPECT_EQ(FindMaxPotentialCell(sim, 1), (CellPosition{0, 0}));
}

TEST(Growth, BatchPlacesAgentsOnDistinctCellsThenServicesAndIndustry)
{
    RecordingHooks hooks;
    Simulation sim(&hooks, &hooks);
    MakeEmptyRun(sim, 10, 10);
    sim.run.cells.SetPotentials(1, 1, {5.0, 1.0, 0.5});
    sim.run.cells.SetPotentials(2, 2, {4.0, 3.0, 0.2});
    sim.run.cells.SetPotentials(3, 3, {3.0, 0.1, 0.1});
    sim.run.cells.SetPotentials(4, 4, {0.0, 0.0, 6.0});
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
    EXPECT_EQ(sim.run.cells.Potential(1, 1, 0), 6.0);
    EXPECT_EQ(sim.run.cells.Potential(1, 1, 1), 1.5);
    EXPECT_EQ(sim.run.cells.Potential(1, 1, 2), 1.0);
    // Homes took the best service cells, so the service cell lands on the next empty maximum.
    EXPECT_EQ(sim.run.cells(4, 4).kind, kIndustry);
    EXPECT_EQ(sim.run.cells.Potential(4, 4, 2), 7.0);
    int services = 0;
    for (const TCell& cell : sim.run.cells.InPassOrder()) services += cell.kind == kService;
    EXPECT_EQ(services, 1);
    EXPECT_EQ(sim.run.cells(0, 0).kind, kService);  // no empty cell had service potential left
    EXPECT_EQ(hooks.drawnCells.size(), 5u);
    // The batch's first agent shows all agents; each later one only itself, since
    // nothing moved in between.
    EXPECT_EQ(hooks.drawnAgents, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 1}, {1, 1}, {2, 1}}));
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
    EXPECT_EQ(sim.run.cells.Potential(0, 0, 1), 2.0);
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
    sim.run.cells.SetPotentials(2, 2, {1.0, 1.0, 1.0});
    CreateAgents(sim);
    EXPECT_EQ(sim.run.cells.Potential(2, 2, 1), -1.0);
}

namespace {

// A grid whose fields hold ties, zeros, negatives and values that are not numbers,
// with some cells already taken, all from a fixed seed.
void FillAwkwardGrid(Simulation& sim, std::uint32_t seed)
{
    RandomGenerator values;
    values.seed = seed;
    const double choices[] = {-1.0, 0.0, 0.0, std::nan(""), 0.5, 1.0, 1.0, 2.0, 2.0, 3.5, 1e-310, 7.0};
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        for (int f = 0; f < 3; ++f) sim.run.cells.PotentialAt(sim.run.cells.IndexOf(cell), f) = choices[values.Random(12)];
        cell.kind = values.Random(4) == 0 ? values.Random(6) : kEmpty;
    }
}

void ExpectSameWorld(const Simulation& a, const Simulation& b)
{
    const auto& cellsA = a.run.cells.InPassOrder();
    const auto& cellsB = b.run.cells.InPassOrder();
    ASSERT_EQ(cellsA.size(), cellsB.size());
    for (std::size_t i = 0; i < cellsA.size(); ++i) {
        ASSERT_EQ(cellsA[i].kind, cellsB[i].kind) << "cell " << i;
        ASSERT_EQ(cellsA[i].agentCount, cellsB[i].agentCount) << "cell " << i;
        for (int f = 0; f < 3; ++f) {
            const double valueA = a.run.cells.PotentialAt(i, f);
            const double valueB = b.run.cells.PotentialAt(i, f);
            if (std::isnan(valueA)) ASSERT_TRUE(std::isnan(valueB));
            else ASSERT_EQ(valueA, valueB) << "cell " << i << " field " << f;
        }
    }
    ASSERT_EQ(a.run.agents.size(), b.run.agents.size());
    for (std::size_t i = 0; i < a.run.agents.size(); ++i) {
        EXPECT_EQ(a.run.agents[i].column, b.run.agents[i].column);
        EXPECT_EQ(a.run.agents[i].row, b.run.agents[i].row);
        EXPECT_EQ(a.run.agents[i].heading, b.run.agents[i].heading);
    }
    EXPECT_EQ(a.random.seed, b.random.seed);
}

}  // namespace

TEST(Growth, LargeBatchesChooseTheSameCellsAsOneSearchAtATime)
{
    // Batch sizes on both sides of the switch to the growth queue, and batches larger
    // than the number of candidates, which end on (0, 0).
    for (const std::int32_t count : {1, 8, 9, 40, 500}) {
        for (const std::uint32_t seed : {1u, 77u, 4242u}) {
            Simulation batch, single;
            for (Simulation* sim : {&batch, &single}) {
                MakeEmptyRun(*sim, 13, 11);
                FillAwkwardGrid(*sim, seed);
                sim->usage.weight[0][0] = -0.25;  // a home can lower its own field
            }
            const std::string text = std::to_string(count);
            batch.controls.E_crAgs = batch.controls.E_crServ = batch.controls.E_crIndu = text;
            CreateAgents(batch);

            single.controls.E_crAgs = "1";
            single.controls.E_crServ = "0";
            single.controls.E_crIndu = "0";
            for (std::int32_t i = 0; i < count; ++i) CreateAgents(single);
            single.controls.E_crAgs = "0";
            single.controls.E_crServ = "1";
            for (std::int32_t i = 0; i < count; ++i) CreateResources(single);
            single.controls.E_crServ = "0";
            single.controls.E_crIndu = "1";
            for (std::int32_t i = 0; i < count; ++i) CreateResources(single);

            SCOPED_TRACE(testing::Message() << "count " << count << " seed " << seed);
            ExpectSameWorld(batch, single);
        }
    }
}

TEST(Growth, HundredThousandPlacementsInOneBatch)
{
    Simulation sim;
    MakeEmptyRun(sim, 202, 202);
    FillAwkwardGrid(sim, 9);
    sim.controls.E_crAgs = "100000";
    sim.controls.E_crServ = "100000";
    sim.controls.E_crIndu = "100000";
    CreateAgents(sim);
    EXPECT_EQ(sim.run.agents.size(), 100000u);
    // Every empty cell that any field could choose is taken; what is left of each
    // batch lands on (0, 0).
    std::int64_t agentsCounted = 0;
    for (const TCell& cell : sim.run.cells.InPassOrder()) {
        if (cell.kind == kEmpty) {
            for (const double value : sim.run.cells.PotentialsAt(sim.run.cells.IndexOf(cell))) EXPECT_FALSE(value > 0.0);
        }
        agentsCounted += cell.agentCount;
    }
    EXPECT_EQ(agentsCounted, 100000);
    EXPECT_GT(sim.run.cells(0, 0).agentCount, 1);
}

TEST(Growth, BatchTooLargeForMemoryIsRefusedBeforeItStarts)
{
    Simulation sim;
    MakeEmptyRun(sim, 6, 6);
    const RandomGenerator before = sim.random;
    sim.controls.E_crAgs = "2147483647";
    try {
        CreateAgents(sim);
        FAIL() << "no refusal";
    } catch (const GrowthError& e) {
        EXPECT_STREQ(e.what(), "Not enough memory to create 2147483647 agents");
    }
    EXPECT_TRUE(sim.run.agents.empty());
    EXPECT_EQ(sim.random.seed, before.seed);
    for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_EQ(cell.kind, kEmpty);
}
