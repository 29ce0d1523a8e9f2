#include <gtest/gtest.h>

#include <cmath>

#include "sim/phases/display_range.h"
#include "tests/sim/sim_test_support.h"

namespace {

// A 3 x 2 run whose cells hold a different value in each thing the grid can show:
// all tracks 1..6, return tracks 10..60, field f (f + 1) * 100 .. (f + 1) * 600, in
// pass order. Cell (1, 0) is an obstacle holding values far outside all of these.
void MakeShowableRun(Simulation& sim)
{
    MakeEmptyRun(sim, 3, 2);
    int n = 1;
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        cell.allTracks = n;
        cell.returnTracks = 10.0 * n;
        for (int f = 0; f < 3; ++f) sim.run.cells.PotentialAt(sim.run.cells.IndexOf(cell), f) = 100.0 * (f + 1) * n;
        ++n;
    }
    TCell& obstacle = sim.run.cells(1, 0);
    obstacle.kind = kObstacle;
    obstacle.allTracks = obstacle.returnTracks = 1e6;
    sim.run.cells.SetPotentials(1, 0, {-1e6, -1e6, -1e6});
    sim.controls.CB_potField = false;
    sim.controls.CB_showAB = false;
    sim.controls.CB_FieldNr = 0;
}

void ExpectRange(const Simulation& sim, long double max, long double min)
{
    EXPECT_EQ(sim.run.displayMax, max);
    EXPECT_EQ(sim.run.displayMin, min);
}

}  // namespace

TEST(DisplayRange, ShowsPotentialFieldBeforeReturnTracksBeforeAllTracks)
{
    Simulation sim;
    MakeShowableRun(sim);
    // Empty cells are those of values 1, 3, 4, 5 and 6 (value 2 is the obstacle).
    ComputeDisplayRange(sim);
    ExpectRange(sim, 6.0L, 1.0L);

    sim.controls.CB_showAB = true;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 60.0L, 10.0L);

    // The potential field wins over the return tracks; the chooser picks the field.
    sim.controls.CB_potField = true;
    for (std::int32_t field : {0, 1, 2}) {
        sim.controls.CB_FieldNr = field;
        ComputeDisplayRange(sim);
        ExpectRange(sim, 600.0L * (field + 1), 100.0L * (field + 1));
    }
    sim.controls.CB_showAB = false;
    sim.controls.CB_FieldNr = 1;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 1200.0L, 200.0L);
}

TEST(DisplayRange, OnlyEmptyCellsSetTheRangeButEveryCellGetsTheFieldNumber)
{
    for (const std::int32_t kind : {kObstacle, kResidential, kDestination, kService, kIndustry}) {
        Simulation sim;
        MakeShowableRun(sim);
        sim.run.cells(0, 0).kind = kind;  // the smallest value, 1
        sim.run.cells(2, 1).kind = kind;  // the largest, 6
        sim.controls.CB_FieldNr = 2;
        ComputeDisplayRange(sim);
        ExpectRange(sim, 5.0L, 3.0L);
        for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_EQ(cell.shownFieldNumber, 2) << kind;
    }
}

TEST(DisplayRange, StartsFromATenthAndNinetyNineBillion)
{
    Simulation sim;
    MakeEmptyRun(sim, 2, 2);
    sim.controls.CB_showAB = false;
    sim.controls.CB_potField = false;

    // Every value below 0.1: the maximum stays at 0.1, held in extended precision.
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.allTracks = 0.05;
    sim.run.cells(1, 1).allTracks = 0.0;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 0.1L, 0.0L);

    // The double nearest 0.1 lies above the extended 0.1, so it becomes the maximum.
    sim.run.cells(0, 1).allTracks = 0.1;
    ComputeDisplayRange(sim);
    ExpectRange(sim, static_cast<long double>(0.1), 0.0L);
    EXPECT_GT(sim.run.displayMax, 0.1L);

    // Every value above 99999999999: the minimum stays there.
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.allTracks = 1e12;
    sim.run.cells(1, 0).allTracks = 3e12;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 3e12L, 99999999999.0L);

    // No empty cell at all: both stay at their start.
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.kind = kResidential;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 0.1L, 99999999999.0L);

    // A value that is not a number never enters the range.
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.kind = kEmpty;
    sim.run.cells(0, 0).allTracks = std::nan("");
    sim.run.cells(0, 1).allTracks = 7.0;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 3e12L, 7.0L);
}

TEST(DisplayRange, ChooserWithoutValidSelectionKeepsTheLastValidField)
{
    Simulation sim;
    MakeShowableRun(sim);
    sim.controls.CB_potField = true;
    sim.controls.CB_FieldNr = 2;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 1800.0L, 300.0L);
    // Typed text leaves the chooser with no item selected (-1); an index past the
    // items is no better. Field 2 stays shown, and stays written into the cells.
    for (const std::int32_t invalid : {-1, 3}) {
        sim.controls.CB_FieldNr = invalid;
        ComputeDisplayRange(sim);
        ExpectRange(sim, 1800.0L, 300.0L);
        for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_EQ(cell.shownFieldNumber, 2) << invalid;
    }
    // A valid selection again takes over at once.
    sim.controls.CB_FieldNr = 0;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 600.0L, 100.0L);
    sim.controls.CB_FieldNr = -1;
    ComputeDisplayRange(sim);
    ExpectRange(sim, 600.0L, 100.0L);
    for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_EQ(cell.shownFieldNumber, 0);
}
