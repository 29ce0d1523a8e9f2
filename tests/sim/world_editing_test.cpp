#include <gtest/gtest.h>

#include "sim_test_support.h"
#include "world_editing.h"

namespace {

int CountKind(const Run& run, std::int32_t kind)
{
    int n = 0;
    for (const TCell& cell : run.cells.InPassOrder()) n += cell.kind == kind;
    return n;
}

}  // namespace

TEST(WorldEditing, CellUnderTheMouseIsRoundedHalfToEven)
{
    Simulation sim;
    MakeEmptyRun(sim, 101, 101, 4);
    EXPECT_EQ(CellUnderMouse(sim.run, 5, 0)->column, 1);
    EXPECT_EQ(CellUnderMouse(sim.run, 6, 0)->column, 2);   // 1.5 rounds to 2
    EXPECT_EQ(CellUnderMouse(sim.run, 2, 10)->column, 0);  // 0.5 rounds to 0
    EXPECT_EQ(CellUnderMouse(sim.run, 2, 10)->row, 2);     // 2.5 rounds to 2
    EXPECT_EQ(CellUnderMouse(sim.run, 402, 0)->column, 100);
    EXPECT_FALSE(CellUnderMouse(sim.run, 403, 0));  // one past the last column
    EXPECT_FALSE(CellUnderMouse(sim.run, -3, 0));
    EXPECT_FALSE(CellUnderMouse(sim.run, 50, 100000));
}

TEST(WorldEditing, LeftDragLaysObstacleBlocksAcrossTheEdge)
{
    RecordingHooks hooks;
    Simulation sim(&hooks);
    MakeEmptyRun(sim, 202, 202, 2);
    MouseEditingState state;
    MouseDown(sim, state, MouseButton::Left, false, 0, 100);
    EXPECT_EQ(CountKind(sim.run, kObstacle), 0);  // nothing on press
    for (int x = 0; x <= 20; ++x) MouseMove(sim, state, x, 100);
    MouseUp(state);
    MouseMove(sim, state, 100, 100);  // released: nothing more
    for (std::int32_t c : {201, 0, 5, 10, 11}) {
        EXPECT_EQ(sim.run.cells(c, 49).kind, kObstacle) << c;
        EXPECT_EQ(sim.run.cells(c, 50).kind, kObstacle) << c;
        EXPECT_EQ(sim.run.cells(c, 51).kind, kObstacle) << c;
        EXPECT_EQ(sim.run.cells(c, 52).kind, kEmpty) << c;
    }
    EXPECT_EQ(sim.run.cells(12, 50).kind, kEmpty);
    EXPECT_EQ(sim.run.cells(100, 50).kind, kEmpty);
    EXPECT_FALSE(hooks.drawnCells.empty());
}

TEST(WorldEditing, RightDragErasesOneCellBand)
{
    Simulation sim;
    MakeEmptyRun(sim, 40, 40, 10);
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.kind = kResidential;
    sim.run.cells(3, 3).agentCount = 2;
    MouseEditingState state;
    MouseDown(sim, state, MouseButton::Right, false, 30, 30);
    for (int x = 30; x <= 60; x += 3) MouseMove(sim, state, x, 30);
    MouseUp(state);
    EXPECT_EQ(CountKind(sim.run, kEmpty), 4);  // columns 3..6 of row 3
    EXPECT_EQ(sim.run.cells(3, 3).kind, kEmpty);
    EXPECT_EQ(sim.run.cells(3, 3).agentCount, 2);  // its residents stay
}

TEST(WorldEditing, CtrlGestureAddsOneDestinationAndPaintsItsCells)
{
    Simulation sim;
    MakeEmptyRun(sim, 40, 40, 10);
    sim.run.destinations.resize(10);
    MouseEditingState state;
    MouseDown(sim, state, MouseButton::Left, true, 123, 77);
    for (int x = 123; x <= 200; x += 5) MouseMove(sim, state, x, 77);
    MouseUp(state);
    ASSERT_EQ(sim.run.destinations.size(), 11u);
    EXPECT_EQ(sim.run.destinations[10].pixelX, 123);  // the mouse pixel, not a cell centre
    EXPECT_EQ(sim.run.destinations[10].pixelY, 77);
    EXPECT_EQ(CountKind(sim.run, kDestination), 9);  // columns 12..20 of row 8, one cell wide
    EXPECT_EQ(sim.run.cells(15, 8).destinationIndex, 10);

    MouseDown(sim, state, MouseButton::Left, true, 50, 300);
    MouseMove(sim, state, 50, 300);
    MouseUp(state);
    ASSERT_EQ(sim.run.destinations.size(), 12u);
    EXPECT_EQ(sim.run.cells(5, 30).destinationIndex, 11);
    EXPECT_EQ(sim.run.cells(15, 8).destinationIndex, 10);

    // Ctrl with the right button adds a destination and erases.
    sim.run.cells(2, 2).kind = kObstacle;
    MouseDown(sim, state, MouseButton::Right, true, 20, 20);
    MouseMove(sim, state, 20, 20);
    MouseUp(state);
    EXPECT_EQ(sim.run.destinations.size(), 13u);
    EXPECT_EQ(sim.run.cells(2, 2).kind, kEmpty);
}

TEST(WorldEditing, PositionsOutsideTheGridPaintNothing)
{
    Simulation sim;
    MakeEmptyRun(sim, 50, 50, 8);  // 400 pixels: a 4-pixel margin on the 404 panel
    MouseEditingState state;
    MouseDown(sim, state, MouseButton::Left, false, 10, 10);
    for (int x : {-100000, -5, 403, 404, 2000000000}) MouseMove(sim, state, x, 10);
    for (int y : {-100000, 403, 2000000000}) MouseMove(sim, state, 10, y);
    MouseUp(state);
    EXPECT_EQ(CountKind(sim.run, kObstacle), 0);
}
