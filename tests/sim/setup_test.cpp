#include <gtest/gtest.h>

#include "conversion.h"
#include "setup.h"
#include "sim_test_support.h"
#include "time_step.h"

TEST(Setup, FirstRunAfterProgramStartHasItsKnownDestinations)
{
    RecordingHooks hooks;
    Simulation sim(&hooks, &hooks);
    FormCreate(sim);
    const ::Run& run = sim.run;
    ASSERT_EQ(run.columns, 202);
    ASSERT_EQ(run.rows, 202);
    ASSERT_EQ(run.destinations.size(), 10u);
    EXPECT_EQ(run.destinations[0].pixelX, 1);
    EXPECT_EQ(run.destinations[0].pixelY, 13);
    EXPECT_EQ(run.destinations[1].pixelX, 347);
    EXPECT_EQ(run.destinations[1].pixelY, 81);
    for (const Destination& d : run.destinations) EXPECT_EQ(d.arrivals, 0);
    // The first block wraps into the last column.
    EXPECT_EQ(run.cells(201, 6).kind, kDestination);
    EXPECT_EQ(run.cells(201, 6).destinationIndex, 0);
    EXPECT_TRUE(run.agents.empty());
    EXPECT_EQ(run.stepCount, 0);
    EXPECT_EQ(hooks.timerStops, 1);
    EXPECT_EQ(sim.controls.CB_FieldNr, 0);
    EXPECT_EQ(sim.usage.noise[0], 6.0);
    EXPECT_EQ(hooks.drawnCells.size(), 90u);  // every block cell is drawn as it is made
}

TEST(Setup, OnlyDestinationBlocksLeaveTheEmptyKind)
{
    Simulation sim;
    FormCreate(sim);
    const ::Run& run = sim.run;
    int destinationCells = 0;
    double industry = 0.0;
    for (std::int32_t r = 0; r < run.rows; ++r) {
        for (std::int32_t c = 0; c < run.columns; ++c) {
            const TCell& cell = run.cells(c, r);
            EXPECT_EQ(cell.PositionX, c * 2 + 1);
            EXPECT_EQ(cell.PositionY, r * 2 + 1);
            EXPECT_EQ(cell.Size, 1);
            EXPECT_EQ(cell.grayLevel, 255);
            EXPECT_EQ(cell.allTracks, 0.0);
            EXPECT_EQ(cell.agentCount, 0);
            if (cell.kind == kDestination) {
                ++destinationCells;
                // A cell in several blocks has the later index and one unit of industry per block.
                industry += cell.potential[kIndustryField];
            } else {
                EXPECT_EQ(cell.kind, kEmpty);
                EXPECT_EQ(cell.potential[kIndustryField], 0.0);
            }
        }
    }
    EXPECT_LE(destinationCells, 90);
    EXPECT_EQ(industry, 90.0);
}

TEST(Setup, OverlappingBlocksKeepTheLaterIndex)
{
    Simulation sim;
    sim.controls.Edit_size = "10";  // 40 x 40 cells: overlaps are likely over many set-ups
    FormCreate(sim);
    bool sawOverlap = false;
    for (int attempt = 0; attempt < 50 && !sawOverlap; ++attempt) {
        B_setupClick(sim);
        const ::Run& run = sim.run;
        for (std::int32_t r = 0; r < run.rows; ++r) {
            for (std::int32_t c = 0; c < run.columns; ++c) {
                const TCell& cell = run.cells(c, r);
                if (cell.potential[kIndustryField] < 2.0) continue;
                sawOverlap = true;
                int lastCovering = -1;
                for (int i = 0; i < 10; ++i) {
                    const auto& d = run.destinations[i];
                    const int dc = (d.pixelX - run.halfCell) / run.cellSize;
                    const int dr = (d.pixelY - run.halfCell) / run.cellSize;
                    const int ddc = std::min((c - dc + 40) % 40, (dc - c + 40) % 40);
                    const int ddr = std::min((r - dr + 40) % 40, (dr - r + 40) % 40);
                    if (ddc <= 1 && ddr <= 1) lastCovering = i;
                }
                EXPECT_EQ(cell.destinationIndex, lastCovering);
            }
        }
    }
    EXPECT_TRUE(sawOverlap);
}

TEST(Setup, NewSetupContinuesTheGeneratorAndStartsClean)
{
    Simulation sim;
    FormCreate(sim);
    const auto firstDestinations = sim.run.destinations;
    for (int i = 0; i < 3; ++i) TimeStep(sim);
    sim.controls.Edit_size = "8";
    B_setupClick(sim);
    EXPECT_EQ(sim.run.columns, 50);
    EXPECT_EQ(sim.run.stepCount, 0);
    EXPECT_TRUE(sim.run.agents.empty());
    EXPECT_NE(sim.run.destinations[0].pixelX * 1000 + sim.run.destinations[0].pixelY,
              firstDestinations[0].pixelX * 1000 + firstDestinations[0].pixelY);
    EXPECT_TRUE(sim.run.ready);
}

TEST(Setup, UnconvertibleSizeOrStopTimeRefusesBeforeTearingDown)
{
    RecordingHooks hooks;
    Simulation sim(&hooks, &hooks);
    FormCreate(sim);
    TimeStep(sim);
    const auto agentsBefore = sim.run.agents.size();
    for (auto field : {&ControlState::Edit_size, &ControlState::E_stop}) {
        sim.controls.*field = "abc";
        EXPECT_THROW(B_setupClick(sim), ConversionError);
        EXPECT_TRUE(sim.run.ready);
        EXPECT_EQ(sim.run.agents.size(), agentsBefore);
        EXPECT_EQ(sim.run.stepCount, 1);
        sim.controls.Edit_size = "2";
        sim.controls.E_stop = "800";
    }
    EXPECT_EQ(hooks.timerStops, 3);  // the timer stops even when the set-up is refused
    TimeStep(sim);
    EXPECT_EQ(sim.run.stepCount, 2);
}

TEST(Setup, FailedFirstSetupLeavesNoRunToStep)
{
    Simulation sim;
    sim.controls.E_stop = "";
    EXPECT_THROW(FormCreate(sim), ConversionError);
    EXPECT_FALSE(sim.run.ready);
    TimeStep(sim);  // does nothing rather than touch a half-built run
    EXPECT_EQ(sim.run.stepCount, 0);
}
