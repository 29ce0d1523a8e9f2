#include <gtest/gtest.h>

#include "sim/controls/conversion.h"
#include "sim/phases/tracks.h"
#include "tests/sim/sim_test_support.h"

TEST(Tracks, NormalisationScalesTheBusiestCellTo255)
{
    Simulation sim;
    MakeEmptyRun(sim, 5, 5);
    NormalizeTracks(sim.run);  // no traffic: nothing moves
    for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_EQ(cell.allTracks + cell.returnTracks, 0.0);

    sim.run.cells(1, 1).allTracks = 1.0;
    sim.run.cells(2, 2).allTracks = 0.0;
    sim.run.cells(3, 3).returnTracks = 10.0;
    sim.run.cells(4, 4).returnTracks = 20.0;
    NormalizeTracks(sim.run);
    EXPECT_EQ(sim.run.cells(1, 1).allTracks, 255.0);
    EXPECT_EQ(sim.run.cells(3, 3).returnTracks, 127.5);
    EXPECT_EQ(sim.run.cells(4, 4).returnTracks, 255.0);
    EXPECT_EQ(sim.run.cells(0, 0).returnTracks, 0.0);

    Simulation small;
    MakeEmptyRun(small, 3, 3);
    small.run.cells(1, 1).allTracks = 0.05;  // below the starting max of 0.1
    NormalizeTracks(small.run);
    EXPECT_EQ(small.run.cells(1, 1).allTracks, 127.5);
}

TEST(Tracks, ReturnPassShiftsOnlyPositiveValuesByTheGlobalMinimum)
{
    Simulation sim;
    MakeEmptyRun(sim, 2, 1);
    sim.run.cells(0, 0).returnTracks = 5.0;
    sim.run.cells(1, 0).returnTracks = 15.0;
    NormalizeTracks(sim.run);
    EXPECT_EQ(sim.run.cells(0, 0).returnTracks, 0.0);
    EXPECT_EQ(sim.run.cells(1, 0).returnTracks, 255.0);

    Simulation negative;
    MakeEmptyRun(negative, 3, 1);
    negative.run.cells(0, 0).returnTracks = -5.0;  // sets the minimum, is not shifted itself
    negative.run.cells(1, 0).returnTracks = 5.0;
    NormalizeTracks(negative.run);
    EXPECT_EQ(negative.run.cells(0, 0).returnTracks, -5.0);
    EXPECT_EQ(negative.run.cells(1, 0).returnTracks, 255.0);
    EXPECT_EQ(negative.run.cells(2, 0).returnTracks, 0.0);
}

TEST(Tracks, UniformTrafficIsLeftUnchanged)
{
    Simulation sim;
    MakeEmptyRun(sim, 3, 3);
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.allTracks = cell.returnTracks = 7.0;
    NormalizeTracks(sim.run);
    for (const TCell& cell : sim.run.cells.InPassOrder()) {
        EXPECT_EQ(cell.allTracks, 7.0);
        EXPECT_EQ(cell.returnTracks, 7.0);
    }
}

TEST(Tracks, DecayMultipliesBothValuesByTheFactor)
{
    Simulation sim;
    MakeEmptyRun(sim, 2, 2);
    sim.run.cells(1, 1).allTracks = 100.0;
    sim.run.cells(1, 1).returnTracks = 50.0;
    DecayTracks(sim.run, StrToFloat(sim.controls.E_decay));
    EXPECT_EQ(sim.run.cells(1, 1).allTracks, 100.0 * 0.99);
    EXPECT_EQ(sim.run.cells(1, 1).returnTracks, 50.0 * 0.99);
    sim.controls.E_decay = "x";
    EXPECT_THROW(DecayTracks(sim.run, StrToFloat(sim.controls.E_decay)), ConversionError);
    EXPECT_EQ(sim.run.cells(1, 1).allTracks, 100.0 * 0.99);
}
