#include "sim/controls/control_handlers.h"

#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/controls/usage_table.h"
#include "sim/core/simulation.h"
#include "sim/phases/display_range.h"

void Edit_sizeChange(Simulation& sim)
{
    ControlState& controls = sim.controls;
    if (ReadInteger(controls, &ControlState::Edit_size) > 10) controls.Edit_size = "10";
    if (ReadInteger(controls, &ControlState::Edit_size) < 2) controls.Edit_size = "2";
}

void E_noiseChange(Simulation& sim)
{
    if (sim.controls.E_noise.empty()) sim.controls.E_noise = "0";
}

void E_stopChange(Simulation& sim)
{
    sim.run.stopTime = ReadInteger(sim.controls, &ControlState::E_stop);
}

void RadioGroup2Click(Simulation& sim)
{
    if (sim.controls.rb_direct) sim.run.returnMode = ReturnMode::DirectWay;
    if (sim.controls.rb_hillCl) sim.run.returnMode = ReturnMode::UseExistingTracks;
}

void StringGrid1KeyUp(Simulation& sim)
{
    ReadUsageTable(sim.controls, sim.usage);
}

void CB_showABClick(Simulation& sim)
{
    ComputeDisplayRange(sim);
    sim.screen().RedrawCells();
}

void CB_noTracksClick(Simulation& sim)
{
    sim.screen().RedrawCells();
}

void CB_gravityClick(Simulation& sim)
{
    sim.screen().RedrawCells();
    if (sim.controls.CB_gravity) sim.screen().DrawGravityLines(ReadReal(sim.controls, &ControlState::E_grav));
}

void E_gravChange(Simulation& sim)
{
    sim.screen().RedrawCells();
}

void Cb_allBlackClick(Simulation& sim)
{
    for (TCell& cell : sim.run.cells.InPassOrder()) cell.allBlack = sim.controls.Cb_allBlack;
}

void CB_FieldNrChange(Simulation& sim)
{
    const std::int32_t item = sim.controls.CB_FieldNr;
    if (item >= 0 && item <= 2) sim.run.shownField = item;
}

void B_repaintClick(Simulation& sim)
{
    ScreenHooks& screen = sim.screen();
    ComputeDisplayRange(sim);
    screen.ClearAgentLayer();
    if (sim.controls.CB_showAg) screen.DrawAgents(0, sim.run.agents.size());
    if (sim.controls.CB_noTracks) screen.DrawCells();
    else screen.RedrawCells();
    if (sim.controls.CB_gravity) screen.DrawGravityLines(ReadReal(sim.controls, &ControlState::E_grav));
}

std::string AngleLabel(std::int32_t position)
{
    return std::to_string(position) + " Grad";
}
