#include <gtest/gtest.h>

#include "sim/controls/world_editing.h"
#include "tests/sim/sim_test_support.h"

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

TEST(WorldEditing, CtrlWithTheRightButtonAddsADestinationAndErases)
{
    Simulation sim;
    MakeEmptyRun(sim, 40, 40, 10);
    sim.run.destinations.resize(10);
    sim.run.cells(2, 2).kind = kObstacle;
    MouseEditingState state;
    MouseDown(sim, state, MouseButton::Right, true, 20, 20);
    EXPECT_EQ(sim.run.destinations.size(), 11u);  // one per Ctrl press, moved or not
    MouseMove(sim, state, 20, 20);
    MouseUp(state);
    EXPECT_EQ(sim.run.cells(2, 2).kind, kEmpty);  // erasing comes before destination painting
    MouseMove(sim, state, 30, 20);                 // released: nothing more
    EXPECT_EQ(CountKind(sim.run, kDestination), 0);
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
