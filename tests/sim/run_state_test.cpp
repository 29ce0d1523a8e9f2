#include <gtest/gtest.h>

#include <functional>

#include "control_table.h"
#include "program_start.h"
#include "run_state.h"
#include "time_step.h"
#include "world_editing.h"

namespace {

std::unique_ptr<Simulation> StartedRun(std::vector<ControlSetting> settings, int steps)
{
    auto sim = std::make_unique<Simulation>();
    StartProgram(*sim, settings);
    for (int i = 0; i < steps; ++i) TimeStep(*sim);
    return sim;
}

}  // namespace

// Every control (both radio buttons of a pair off included), a world edited by hand
// and texts that do not convert survive a save and a load exactly.
TEST(RunState, EveryValueSurvivesSavingAndLoading)
{
    auto sim = StartedRun({{"Edit_size", "5"}, {"CB_migrate", "1"}, {"rb_rulette", "1"}, {"E_stop", "77"}}, 12);
    sim->controls.rb_direct = sim->controls.rb_hillCl = false;
    sim->controls.E_grav = "no number";  // read only for gravity lines, which are off
    sim->controls.StringGrid1[0][0] = "header, changed";
    MouseEditingState mouse;
    MouseDown(*sim, mouse, MouseButton::Left, true, 30, 30);  // a destination of its own
    MouseMove(*sim, mouse, 30, 30);
    MouseUp(mouse);
    MouseDown(*sim, mouse, MouseButton::Left, false, 60, 60);  // obstacles
    MouseMove(*sim, mouse, 60, 60);
    MouseUp(mouse);
    const std::vector<StepStatistics> history(3, StepStatistics{4, 5, 6, 7, 0.25, 8, 9, {1, 2, 3, 4, 5, 6}});
    const std::string saved = EncodeRunState(*sim, history);

    Simulation loaded;
    const std::vector<StepStatistics> back = DecodeRunState(loaded, saved);
    EXPECT_EQ(EncodeRunState(loaded, back), saved);
    for (const ControlDefinition& control : ControlTable())
        EXPECT_EQ(ControlValue(loaded.controls, control), ControlValue(sim->controls, control)) << control.name;
    EXPECT_EQ(loaded.controls.StringGrid1, sim->controls.StringGrid1);
    EXPECT_EQ(loaded.run.landUse, sim->run.landUse);
    EXPECT_EQ(loaded.random.seed, sim->random.seed);
    EXPECT_TRUE(loaded.run.editedByHand);

    // Both go on alike.
    for (int i = 0; i < 5; ++i) {
        TimeStep(*sim);
        TimeStep(loaded);
    }
    EXPECT_EQ(EncodeRunState(loaded, {}), EncodeRunState(*sim, {}));
}

// A state no run could have saved is refused with its reason, and the simulation
// it was to replace stays as it was.
TEST(RunState, StatesNoRunSavesAreRefusedAndChangeNothing)
{
    const struct {
        const char* reason;
        std::function<void(Simulation&)> spoil;
    } cases[] = {
        {"a kind of 9", [](Simulation& s) { s.run.cells(1, 2).kind = 9; }},
        {"cell off the grid of agent 0", [](Simulation& s) { s.run.agents[0].column = s.run.columns; }},
        {"agent counts differ", [](Simulation& s) { s.run.cells(0, 0).agentCount += 1; }},
        {"heading out of range of agent 1", [](Simulation& s) { s.run.agents[1].heading = 1'000'000'001; }},
        {"travel steps beyond", [](Simulation& s) { s.run.agents[2].travelSteps = s.run.stepCount + 1; }},
        {"a cell size of 11", [](Simulation& s) { s.run.cellSize = 11; }},
        {"grid does not fit", [](Simulation& s) { s.run.halfCell += 1; }},
        {"arrivals out of range", [](Simulation& s) { s.run.destinations[0].arrivals = -1; }},
        {"position off the grid", [](Simulation& s) { s.run.cells(3, 3).PositionX += 1; }},
        {"shown field of 3", [](Simulation& s) { s.run.shownField = 3; }},
    };
    auto target = StartedRun({{"Edit_size", "10"}}, 3);
    const std::string before = EncodeRunState(*target, {});
    for (const auto& c : cases) {
        auto source = StartedRun({{"Edit_size", "8"}}, 4);
        c.spoil(*source);
        const std::string spoilt = EncodeRunState(*source, {});
        try {
            DecodeRunState(*target, spoilt);
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const RunStateError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        EXPECT_EQ(EncodeRunState(*target, {}), before) << c.reason;
    }
    Simulation unset;
    EXPECT_THROW(EncodeRunState(unset, {}), RunStateError);
}
