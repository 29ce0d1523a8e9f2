#include "time_step.h"

#include "conversion.h"
#include "display_range.h"
#include "growth.h"
#include "movement.h"
#include "potential_fields.h"
#include "statistics.h"
#include "tracks.h"

void TimeStep(Simulation& sim)
{
    Run& run = sim.run;
    if (!run.ready) return;
    DrawingHooks& draw = sim.draw();

    DiffusePotentials(sim);
    const std::int32_t maxAgents = StrToInt(sim.controls.Edit_anzAg);
    if (static_cast<std::int64_t>(run.agents.size()) < maxAgents) CreateAgents(sim);
    NormalizePotentialsAndDisplayRange(sim);  // NormalizePotentials, then ComputeDisplayRange

    draw.ClearAgentLayer();
    draw.DrawCells();
    if (sim.controls.CB_gravity) draw.DrawGravityLines(StrToFloat(sim.controls.E_grav));
    if (sim.controls.CB_showAg) draw.DrawAgents();

    MoveAgents(sim);
    if (sim.controls.CB_decay) DecayTracks(sim);
    else NormalizeTracks(sim);

    run.stepCount += 1;
    draw.ShowStepCount(run.stepCount);
    if (run.stepCount == run.stopTime) draw.StopTimer();
    CollectStatistics(sim);
}

void E_stopChange(Simulation& sim)
{
    sim.run.stopTime = StrToInt(sim.controls.E_stop);
}
