#include <gtest/gtest.h>

#include "sim/controls/conversion.h"
#include "sim/phases/movement.h"
#include "tests/sim/sim_test_support.h"

namespace {

// Agents that never turn: no cone, no wiggle, no return noise, the direct way home.
void StraightWalkers(Simulation& sim, std::int32_t columns = 40, std::int32_t rows = 40)
{
    MakeEmptyRun(sim, columns, rows);
    sim.controls.TrB_thresh = 0;
    sim.controls.SB_wiggle = 0;
    sim.controls.E_noise = "0";
    sim.run.returnMode = ReturnMode::DirectWay;
}

TAgent& Returning(Simulation& sim, std::int32_t column, std::int32_t row, std::int32_t homeColumn,
                  std::int32_t homeRow)
{
    TAgent& agent = AddAgentAt(sim, column, row);
    agent.homeColumn = homeColumn;
    agent.homeRow = homeRow;
    agent.mode = kReturning;
    return agent;
}

}  // namespace

TEST(Movement, ReturningAgentTakesThePlainDirectionHome)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.run.destinations.resize(1);
    Returning(sim, 1, 5, 38, 5);
    MoveAgents(sim);
    const TAgent& agent = sim.run.agents[0];
    EXPECT_EQ(agent.heading, 0);  // 37 cells to the right, not 3 cells across the edge
    EXPECT_EQ(agent.column, 2);
    EXPECT_EQ(sim.run.cells(1, 5).returnTracks, 10.0);
    EXPECT_EQ(sim.run.cells(1, 5).allTracks, 1.0);
    EXPECT_EQ(sim.run.cells(1, 5).agentCount, 0);
    EXPECT_EQ(sim.run.cells(2, 5).agentCount, 1);
    EXPECT_EQ(agent.pixelX, 5);
    EXPECT_EQ(agent.travelSteps, 1);
}

TEST(Movement, ArrivalAtHomeCountsAndTheAgentStillMoves)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.run.destinations.resize(3);
    TAgent& agent = Returning(sim, 7, 7, 7, 7);
    agent.foundDestinationIndex = 2;
    agent.travelSteps = 12;
    MoveAgents(sim);
    const TAgent& after = sim.run.agents[0];
    EXPECT_EQ(after.mode, kSearching);
    EXPECT_EQ(after.success, 1);
    EXPECT_EQ(after.heading, 180);  // atan2(0, 0) = 0, then turned round, not normalised
    EXPECT_EQ(after.travelSteps, 0);
    EXPECT_EQ(sim.run.destinations[2].arrivals, 1);
    EXPECT_EQ(sim.run.cells(7, 7).returnTracks, 10.0);
    EXPECT_EQ(sim.run.cells(7, 7).allTracks, 1.0);
    EXPECT_EQ(after.column, 8);  // moved with the step chosen before arriving
}

TEST(Movement, ArrivalWithAnUnknownDestinationCountsNothing)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.run.destinations.resize(2);
    TAgent& agent = Returning(sim, 3, 3, 3, 3);
    agent.foundDestinationIndex = 5;
    MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].success, 1);
    EXPECT_EQ(sim.run.destinations[0].arrivals + sim.run.destinations[1].arrivals, 0);
}

TEST(Movement, SearchingAgentConsumesByChance)
{
    for (const char* probability : {"1", "1,5"}) {
        Simulation sim;
        StraightWalkers(sim);
        sim.controls.E_CProbab = probability;
        sim.run.cells(6, 4).kind = kService;
        sim.run.cells(6, 4).destinationIndex = 4;
        AddAgentAt(sim, 5, 4, 0);
        MoveAgents(sim);
        const TAgent& agent = sim.run.agents[0];
        EXPECT_EQ(agent.mode, kReturning);
        EXPECT_EQ(agent.foundDestinationIndex, 4);
        EXPECT_EQ(agent.column, 6);  // still moves onto the consumed cell
    }
    // Probability 0 consumes only on a draw of exactly 0: practically never.
    Simulation sim;
    StraightWalkers(sim);
    sim.controls.E_CProbab = "0";
    for (std::int32_t c = 0; c < 40; ++c) sim.run.cells(c, 4).kind = kDestination;
    AddAgentAt(sim, 0, 4, 0);
    for (int i = 0; i < 30; ++i) MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].mode, kSearching);
    EXPECT_EQ(sim.run.agents[0].column, 30);  // residential, destination cells: walked over like empty ones
}

TEST(Movement, ObstacleTurnsTheAgentAwayInPlace)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.run.destinations.resize(1);
    sim.run.cells(11, 2).kind = kObstacle;
    TAgent& agent = Returning(sim, 10, 2, 30, 2);
    agent.travelSteps = 4;
    RandomGenerator expected = sim.random;
    MoveAgents(sim);
    const TAgent& after = sim.run.agents[0];
    expected.RandomReal();            // sensing noise of the single candidate
    expected.Random(1);               // return-noise turn of at most 0
    expected.Random(2);
    std::int32_t heading = expected.Random(360);
    NormalizeAngle(heading);
    EXPECT_EQ(after.heading, heading);
    EXPECT_EQ(after.column, 10);
    EXPECT_EQ(after.travelSteps, 5);
    EXPECT_EQ(sim.run.cells(10, 2).returnTracks, 10.0);
    EXPECT_EQ(sim.run.cells(10, 2).allTracks, 0.0);
    EXPECT_EQ(sim.random.seed, expected.seed);
}

TEST(Movement, ReturnNoiseOutsideItsRangeIsKeptWithinIt)
{
    for (const char* noise : {"-40", "100000", "1e300", "179,5"}) {
        Simulation sim;
        StraightWalkers(sim);
        sim.controls.E_noise = noise;
        sim.run.destinations.resize(1);
        for (int i = 0; i < 40; ++i) Returning(sim, i, 20, 39 - i, 0);
        for (int step = 0; step < 5; ++step) {
            MoveAgents(sim);
            for (const TAgent& agent : sim.run.agents) {
                ASSERT_GE(agent.heading, 0) << noise;
                ASSERT_LE(agent.heading, 540) << noise;
            }
        }
    }
    EXPECT_EQ(ReadMovementParameters([] { ControlState c; c.E_noise = "-40"; return c; }()).returnNoise, 0);
    EXPECT_EQ(ReadMovementParameters([] { ControlState c; c.E_noise = "2,5"; return c; }()).returnNoise, 2);
    EXPECT_EQ(ReadMovementParameters([] { ControlState c; c.E_noise = "1e9"; return c; }()).returnNoise, 180);
}

TEST(Movement, MigrationMovesTheHomeOnceToTheEmptyCellUnderfoot)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.controls.CB_migrate = true;
    sim.controls.E_migTh = "0";
    AddAgentAt(sim, 5, 5, 0);
    sim.run.cells(5, 5).kind = kResidential;
    sim.run.cells.Potential(5, 5, 0) = 3.5;
    MoveAgents(sim);
    TAgent& after = sim.run.agents[0];
    EXPECT_EQ(after.migrated, 1);
    EXPECT_EQ(after.homeColumn, 6);
    EXPECT_EQ(sim.run.cells(5, 5).kind, kEmpty);
    EXPECT_EQ(sim.run.cells.Potential(5, 5, 0), 2.5);
    EXPECT_EQ(sim.run.cells(6, 5).kind, kResidential);
    EXPECT_EQ(sim.run.cells.Potential(6, 5, 0), 1.0);
    MoveAgents(sim);  // at most once in a life
    EXPECT_EQ(sim.run.agents[0].homeColumn, 6);
}

TEST(Movement, MigrationNeedsCrowdAndEmptyGround)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.controls.CB_migrate = true;
    sim.controls.E_migTh = "2";
    sim.controls.E_CProbab = "0";
    AddAgentAt(sim, 5, 5, 0);
    sim.run.cells(5, 5).kind = kResidential;
    sim.run.cells.Potential(5, 5, 0) = 1.0;
    sim.run.cells(7, 6).agentCount = 1;  // one other agent near the target: not enough
    MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].migrated, 0);
    sim.run.cells(7, 4).agentCount = 1;  // two near (7, 5): enough, but the cell is a service cell
    sim.run.cells(7, 5).kind = kService;
    MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].migrated, 0);
    sim.run.cells(8, 5).agentCount = 1;  // onto (8, 5): empty and crowded
    MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].migrated, 1);
    EXPECT_EQ(sim.run.cells.Potential(5, 5, 0), 0.0);  // 1.0 or less falls to 0
}

TEST(Movement, MigrationFromAHomeOfAnyKindTouchesNoFieldOutsideTheThree)
{
    for (std::int32_t kind : {kEmpty, kObstacle, kIndustry}) {
        Simulation sim;
        StraightWalkers(sim);
        sim.controls.CB_migrate = true;
        sim.controls.E_migTh = "0";
        AddAgentAt(sim, 5, 5, 0);
        sim.run.cells(5, 5).kind = kind;
        sim.run.cells.SetPotentials(5, 5, {4.0, 4.0, 4.0});
        MoveAgents(sim);
        EXPECT_EQ(sim.run.cells(6, 5).kind, kind);
        EXPECT_EQ(sim.run.cells.Potentials(5, 5), (std::array<double, 3>{4.0, 4.0, 4.0}));
        EXPECT_EQ(sim.run.cells.Potentials(6, 5), (std::array<double, 3>{0.0, 0.0, 0.0}));
    }
}

TEST(Movement, ReturningMigrantArrivesAtItsNewHomeNextStep)
{
    Simulation sim;
    StraightWalkers(sim);
    sim.controls.CB_migrate = true;
    sim.controls.E_migTh = "0";
    sim.run.destinations.resize(1);
    Returning(sim, 5, 5, 20, 5);
    MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].homeColumn, 6);
    MoveAgents(sim);
    EXPECT_EQ(sim.run.agents[0].success, 1);
    EXPECT_EQ(sim.run.destinations[0].arrivals, 1);
}

TEST(Movement, ConversionErrorsStopThePassWhereTheyAreRead)
{
    Simulation sim;
    StraightWalkers(sim);
    AddAgentAt(sim, 1, 1, 0);
    AddAgentAt(sim, 1, 3, 0);
    sim.controls.E_CProbab = "zero";
    EXPECT_THROW(MoveAgents(sim), ConversionError);
    EXPECT_EQ(sim.run.agents[0].column, 1);  // before any agent

    sim.controls.E_CProbab = "0,1";
    sim.controls.CB_migrate = true;
    sim.controls.E_migTh = "";
    EXPECT_THROW(MoveAgents(sim), ConversionError);
    EXPECT_EQ(sim.run.agents[0].column, 2);  // the agent whose test failed keeps its move
    EXPECT_EQ(sim.run.agents[1].column, 1);  // later agents do not move
}
