#include "time_step.h"

#include "control_table.h"
#include "display_range.h"
#include "growth.h"
#include "movement.h"
#include "potential_fields.h"
#include "random_streams.h"
#include "statistics.h"
#include "tracks.h"

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
