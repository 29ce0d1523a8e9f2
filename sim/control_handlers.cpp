#include "control_handlers.h"

#include "conversion.h"

void Edit_sizeChange(ControlState& controls)
{
    if (StrToInt(controls.Edit_size) > 10) controls.Edit_size = "10";
    if (StrToInt(controls.Edit_size) < 2) controls.Edit_size = "2";
}

void E_noiseChange(ControlState& controls)
{
    if (controls.E_noise.empty()) controls.E_noise = "0";
}

void RadioGroup2Click(Simulation& sim)
{
    if (sim.controls.rb_direct) sim.run.returnMode = 0;
    if (sim.controls.rb_hillCl) sim.run.returnMode = 1;
}

std::string AngleLabel(std::int32_t position)
{
    return std::to_string(position) + " Grad";
}
