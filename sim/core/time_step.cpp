#include "sim/core/time_step.h"

#include "sim/controls/control_table.h"
#include "sim/core/random_streams.h"
#include "sim/core/statistics.h"
#include "sim/fields/potential_fields.h"
#include "sim/phases/display_range.h"
#include "sim/phases/growth.h"
#include "sim/phases/movement.h"
#include "sim/phases/tracks.h"

void TimeStep(Simulation& sim)
{
    Run& run = sim.run;
    if (!run.ready) return;
    const ControlState& controls = sim.controls;
    ScreenHooks& screen = sim.screen();
    if (!screen.PaintsCells()) run.drawingRecorded = false;

    DiffusePotentials(sim);
    const std::int32_t maxAgents = ReadInteger(controls, &ControlState::Edit_anzAg);
    if (static_cast<std::int64_t>(run.agents.size()) < maxAgents) CreateAgents(sim);
    NormalizePotentialsAndDisplayRange(sim);  // NormalizePotentials, then ComputeDisplayRange

    screen.ClearAgentLayer();
    screen.DrawCells();
    if (controls.CB_gravity) screen.DrawGravityLines(ReadReal(controls, &ControlState::E_grav));
    if (controls.CB_showAg) screen.DrawAgents(0, run.agents.size());

    MoveAgents(sim);
    if (controls.CB_decay) DecayTracks(run, ReadReal(controls, &ControlState::E_decay));
    else NormalizeTracks(run);

    CountDraws(sim);
    run.stepCount += 1;
    sim.events().StepCounted(run.stepCount);
    if (run.stepCount == run.stopTime) sim.events().StopRequested();
    CollectStatistics(sim);
}
