#include <gtest/gtest.h>

#include "sim/controls/world_editing.h"
#include "sim/core/land_use.h"
#include "sim/core/program_start.h"
#include "sim/core/simulation.h"
#include "sim/core/statistics.h"
#include "sim/core/time_step.h"

namespace {

// Paints obstacles, erases and adds a destination around (x, y), as the mouse would.
void EditWithTheMouse(Simulation& sim, std::int32_t x, std::int32_t y)
{
    MouseEditingState state;
    MouseDown(sim, state, MouseButton::Left, false, x, y);
    MouseMove(sim, state, x + 7, y);
    MouseUp(state);
    MouseDown(sim, state, MouseButton::Right, false, x + 7, y);
    MouseMove(sim, state, x + 7, y + 14);
    MouseUp(state);
    MouseDown(sim, state, MouseButton::Left, true, x, y + 30);
    MouseMove(sim, state, x + 6, y + 30);
    MouseUp(state);
}

}  // namespace

// The kept counts agree with a count of the grid at every step of runs that grow,
// migrate and are edited with the mouse, and reach the step's statistics.
TEST(LandUse, KeptCountsAgreeWithTheGrid)
{
    const std::vector<std::vector<ControlSetting>> runs = {
        {{"Edit_size", "6"}, {"CB_migrate", "1"}, {"rb_rulette", "1"}, {"E_migTh", "2"}},
        {{"Edit_size", "10"}, {"E_crAgs", "40"}, {"E_crServ", "30"}, {"E_crIndu", "30"}, {"CB_migrate", "1"}},
    };
    for (const auto& settings : runs) {
        Simulation sim;
        StartProgram(sim, settings);
        EXPECT_EQ(sim.run.landUse, CountLandUse(sim.run.cells));
        bool migrated = false;
        for (int step = 1; step <= 120; ++step) {
            TimeStep(sim);
            if (step % 40 == 0) EditWithTheMouse(sim, 50 + step, 60 + step);
            ASSERT_EQ(sim.run.landUse, CountLandUse(sim.run.cells)) << "step " << step;
            ASSERT_EQ(ComputeStatistics(sim.run).landUse, sim.run.landUse);
            for (const TAgent& agent : sim.run.agents) migrated = migrated || agent.migrated;
        }
        EXPECT_TRUE(migrated) << "the run should have migrated someone";
        EXPECT_GT(sim.run.landUse[kObstacle], 0);
        EXPECT_GT(sim.run.landUse[kService], 0);
    }
}
