#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "sim/controls/control_table.h"
#include "sim/controls/world_editing.h"
#include "sim/core/program_start.h"
#include "sim/core/time_step.h"
#include "sim/io/run_state.h"

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

namespace {

template <typename T>
std::string BytesOf(T value)
{
    const std::size_t size = std::is_same_v<T, long double> ? 10 : sizeof(T);
    char bytes[sizeof(T)] = {};
    std::memcpy(bytes, &value, sizeof(T));
    return std::string(bytes, size);
}

// The state with the last copy of `mark`'s bytes replaced by `value`'s, under a
// checksum made anew: what a damaged or forged file with a correct header holds.
std::string Forged(std::string state, const std::string& mark, const std::string& value)
{
    const std::size_t at = state.rfind(mark);
    if (at == std::string::npos) return state;
    state.replace(at, mark.size(), value);
    const std::uint32_t checksum = RunStateChecksum(std::string_view(state).substr(kRunStateHeaderSize));
    std::memcpy(state.data() + 20, &checksum, sizeof checksum);
    return state;
}

}  // namespace

// Reals and counts no run writes, behind a correct checksum, are refused: loaded,
// a NaN would spread over every field and stall growth without a word. A run that
// holds one is not saved either.
TEST(RunState, ValuesNoRunWritesAreRefused)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const long double mark = 0.123456789012345L;  // a value no run holds by chance
    const struct {
        const char* reason;
        std::function<void(Simulation&, StepStatistics&)> mark;  // puts `mark` where the bad value goes
        std::string bad;
    } cases[] = {
        {"potential that is not a finite number, or beyond 1e200, at cell (2, 1)",
         [=](Simulation& s, StepStatistics&) { s.run.cells.Potential(2, 1, 0) = mark; }, BytesOf(nan)},
        {"potential that is not a finite number", [=](Simulation& s, StepStatistics&) { s.run.cells.Potential(0, 0, 2) = mark; },
         BytesOf(inf)},
        {"beyond 1e200", [=](Simulation& s, StepStatistics&) { s.run.cells.Potential(0, 0, 1) = mark; }, BytesOf(1e201)},
        {"negative potential at cell (4, 0)", [=](Simulation& s, StepStatistics&) { s.run.cells.Potential(4, 0, 1) = mark; },
         BytesOf(-1e-3)},
        {"track value below 0", [=](Simulation& s, StepStatistics&) { s.run.cells(5, 5).allTracks = mark; }, BytesOf(-1.0)},
        {"track value below 0", [=](Simulation& s, StepStatistics&) { s.run.cells(5, 6).returnTracks = mark; }, BytesOf(nan)},
        {"track value below 0", [=](Simulation& s, StepStatistics&) { s.run.cells(6, 5).lastDrawnAllTracks = mark; },
         BytesOf(inf)},
        {"usage value", [=](Simulation& s, StepStatistics&) { s.usage.weight[1][2] = mark; }, BytesOf(nan)},
        {"display range", [=](Simulation& s, StepStatistics&) { s.run.displayMax = mark; },
         BytesOf(std::numeric_limits<long double>::quiet_NaN())},
        {"display range", [=](Simulation& s, StepStatistics&) { s.run.cellsDisplayRange.min = mark; },
         BytesOf(-std::numeric_limits<long double>::infinity())},
        {"sensed signals", [=](Simulation& s, StepStatistics&) { s.run.agents[0].signalSum = mark; }, BytesOf(inf)},
        {"max mark", [=](Simulation&, StepStatistics& row) { row.maxMark = mark; }, BytesOf(nan)},
        {"percentage out of range", [](Simulation&, StepStatistics& row) { row.successful = 61; }, BytesOf(300)},
        {"land-use count out of range", [](Simulation&, StepStatistics& row) { row.landUse[3] = 141; }, BytesOf(-1)},
        {"beyond the run's steps", [](Simulation&, StepStatistics& row) { row.step = 2; }, BytesOf(5)},
    };
    for (const auto& c : cases) {
        auto source = StartedRun({{"Edit_size", "8"}, {"CB_decay", "1"}}, 4);
        // Whole numbers unlike any the row's later fields hold, so the last copy is the marked one.
        StepStatistics row{4, 5, 60, 7, 0.25, 8, 9, {101, 102, 103, 104, 105, 106}};
        const StepStatistics unmarked = row;
        c.mark(*source, row);
        const std::vector<StepStatistics> history{row};
        const std::string marked = EncodeRunState(*source, history);
        std::string markBytes = c.bad.size() == 10 ? BytesOf(mark) : BytesOf(static_cast<double>(mark));
        if (row.successful != unmarked.successful) markBytes = BytesOf(row.successful);
        if (row.landUse != unmarked.landUse) markBytes = BytesOf(row.landUse[3]);
        if (row.step != unmarked.step) markBytes = BytesOf(row.step);
        const std::string spoilt = Forged(marked, markBytes, c.bad);
        ASSERT_NE(spoilt, marked) << c.reason;
        Simulation target;
        try {
            DecodeRunState(target, spoilt);
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const RunStateError& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        // The run that holds it is not saved.
        DecodeRunState(target, marked);
        std::vector<StepStatistics> back = history;
        target.run.cells.Potential(2, 1, 0) = nan;
        EXPECT_THROW(EncodeRunState(target, back), RunStateError);
    }
}

// Settings that take the fields or the tracks beyond their usual range (nothing
// guards a huge usage value or a decay factor above 1) give runs whose states load
// as they were saved.
TEST(RunState, StrayValuesOfExtremeSettingsStillLoad)
{
    const struct {
        const char* what;
        std::function<void(Simulation&)> set;
        std::function<bool(const Simulation&)> strayed;
    } cases[] = {
        {"fields overflowed by a huge coefficient", [](Simulation& s) { s.usage.diffusion = {1e308, 1e308, 1e308}; },
         [](const Simulation& s) {
             for (std::size_t i = 0; i < s.run.cells.InPassOrder().size(); ++i)
                 for (double value : s.run.cells.PotentialsAt(i))
                     if (!std::isfinite(value)) return true;
             return false;
         }},
        {"tracks driven below 0 by a negative decay", [](Simulation& s) { s.controls.E_decay = "-3"; },
         [](const Simulation& s) {
             for (const TCell& cell : s.run.cells.InPassOrder())
                 if (cell.allTracks < 0.0) return true;
             return false;
         }},
        {"tracks beyond double's range", [](Simulation& s) { s.controls.E_decay = "1e300"; },
         [](const Simulation& s) {
             for (const TCell& cell : s.run.cells.InPassOrder())
                 if (std::isinf(cell.allTracks)) return true;
             return false;
         }},
    };
    for (const auto& c : cases) {
        auto sim = StartedRun({{"Edit_size", "10"}, {"CB_decay", "1"}}, 3);
        c.set(*sim);
        for (int i = 0; i < 6; ++i) TimeStep(*sim);
        ASSERT_TRUE(c.strayed(*sim)) << c.what;
        const std::string saved = EncodeRunState(*sim, {});
        Simulation loaded;
        EXPECT_NO_THROW(DecodeRunState(loaded, saved)) << c.what;
    }
}
