#include <gtest/gtest.h>

#include <cstring>

#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/core/setup.h"
#include "sim/core/statistics.h"
#include "sim/core/time_step.h"
#include "tests/sim/sim_test_support.h"

namespace {

bool SameState(const Run& a, const Run& b)
{
    if (a.agents.size() != b.agents.size() || a.stepCount != b.stepCount) return false;
    for (std::size_t i = 0; i < a.agents.size(); ++i) {
        const TAgent &x = a.agents[i], &y = b.agents[i];
        if (x.column != y.column || x.row != y.row || x.heading != y.heading || x.mode != y.mode ||
            x.homeColumn != y.homeColumn || x.travelSteps != y.travelSteps)
            return false;
    }
    const auto& ca = a.cells.InPassOrder();
    const auto& cb = b.cells.InPassOrder();
    for (std::size_t i = 0; i < ca.size(); ++i) {
        const std::array<double, 3> pa = a.cells.PotentialsAt(i), pb = b.cells.PotentialsAt(i);
        if (ca[i].kind != cb[i].kind || std::memcmp(pa.data(), pb.data(), sizeof pa) ||
            ca[i].allTracks != cb[i].allTracks || ca[i].returnTracks != cb[i].returnTracks)
            return false;
    }
    return true;
}

}  // namespace

TEST(TimeStep, StopsTheTimerOnlyWhenTheCountEqualsTheStopTime)
{
    RecordingHooks hooks;
    Simulation sim(&hooks, &hooks);
    sim.controls.Edit_size = "10";
    sim.controls.E_stop = "3";
    FormCreate(sim);
    const int afterSetup = hooks.timerStops;
    for (int i = 0; i < 5; ++i) TimeStep(sim);
    EXPECT_EQ(hooks.timerStops - afterSetup, 1);
    EXPECT_EQ(hooks.plottedSteps, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));

    // A stop time already passed, or 0, never stops the run.
    sim.controls.E_stop = "2";
    SetControl(sim, "E_stop", sim.controls.E_stop);
    for (int i = 0; i < 3; ++i) TimeStep(sim);
    EXPECT_EQ(hooks.timerStops - afterSetup, 1);

    // An unconvertible stop time keeps the previous one.
    sim.controls.E_stop = "";
    EXPECT_THROW(SetControl(sim, "E_stop", sim.controls.E_stop), ConversionError);
    EXPECT_EQ(sim.run.stopTime, 2);
    sim.controls.E_stop = "10";
    SetControl(sim, "E_stop", sim.controls.E_stop);
    TimeStep(sim);
    TimeStep(sim);
    EXPECT_EQ(sim.run.stepCount, 10);
    EXPECT_EQ(hooks.timerStops - afterSetup, 2);
}

TEST(TimeStep, GrowthStopsAtTheMaximumAfterAWholeBatch)
{
    Simulation sim;
    sim.controls.Edit_size = "10";
    sim.controls.Edit_anzAg = "10";
    FormCreate(sim);
    for (int i = 0; i < 8; ++i) TimeStep(sim);
    EXPECT_EQ(sim.run.agents.size(), 12u);
    int services = 0;
    for (const TCell& cell : sim.run.cells.InPassOrder()) services += cell.kind == kService;
    EXPECT_EQ(services, 4);  // one per growing step, none after the maximum
}

TEST(TimeStep, NoAgentsAllowedMeansNoGrowthAtAll)
{
    Simulation sim;
    sim.controls.Edit_size = "10";
    sim.controls.Edit_anzAg = "0";
    FormCreate(sim);
    for (int i = 0; i < 5; ++i) TimeStep(sim);
    EXPECT_TRUE(sim.run.agents.empty());
    for (const TCell& cell : sim.run.cells.InPassOrder()) EXPECT_TRUE(cell.kind == kEmpty || cell.kind == kDestination);
    EXPECT_EQ(sim.run.stepCount, 5);
}

TEST(TimeStep, BadMaximumEndsTheStepAfterTheDiffusion)
{
    Simulation sim;
    sim.controls.Edit_size = "10";
    FormCreate(sim);
    TimeStep(sim);
    const RandomGenerator before = sim.random;
    sim.controls.Edit_anzAg = "many";
    try {
        TimeStep(sim);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'many' is not a valid integer value");
    }
    EXPECT_EQ(sim.random.seed, before.JumpedAhead(40 * 40).seed);  // the diffusion's draws only
    EXPECT_EQ(sim.run.stepCount, 1);
    EXPECT_EQ(sim.run.agents.size(), 3u);
}

TEST(TimeStep, GravityFactorIsReadOnlyWhenLinesAreShown)
{
    Simulation sim;
    sim.controls.Edit_size = "10";
    sim.controls.E_grav = "wide";
    FormCreate(sim);
    TimeStep(sim);
    sim.controls.CB_gravity = true;
    EXPECT_THROW(TimeStep(sim), ConversionError);
    EXPECT_EQ(sim.run.stepCount, 1);
}

TEST(TimeStep, SameActionsGiveTheSameRun)
{
    Simulation a, b;
    for (Simulation* sim : {&a, &b}) {
        sim->controls.Edit_size = "5";
        sim->controls.CB_migrate = true;
        FormCreate(*sim);
        for (int i = 0; i < 60; ++i) TimeStep(*sim);
    }
    EXPECT_TRUE(SameState(a.run, b.run));
    EXPECT_EQ(a.random.seed, b.random.seed);
}

TEST(TimeStep, DefaultRunGrowsAndAgentsSucceed)
{
    Simulation sim;
    FormCreate(sim);
    int maxReturning = 0;
    std::int64_t travelSum = 0;
    StepStatistics last;
    struct Capture : RunEvents {
        StepStatistics* into;
        void StepDone(const StepStatistics& s) override { *into = s; }
    } capture;
    capture.into = &last;
    sim.SetEvents(&capture);
    for (int i = 0; i < 800; ++i) {
        TimeStep(sim);
        maxReturning = std::max(maxReturning, last.returning);
        travelSum += last.averageTravel;
    }
    EXPECT_EQ(sim.run.agents.size(), 2400u);
    EXPECT_EQ(last.step, 800);
    EXPECT_GT(last.successful, 20);
    EXPECT_GT(maxReturning, 5);
    EXPECT_GT(travelSum, 0);
}
