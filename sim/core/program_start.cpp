#include "sim/core/program_start.h"

#include "sim/controls/control_handlers.h"
#include "sim/controls/control_table.h"
#include "sim/core/setup.h"
#include "sim/core/simulation.h"

void StartProgram(Simulation& sim, const std::vector<ControlSetting>& settings)
{
    // The program's start writes the default usage table, so the cells given are
    // kept back until after it.
    std::vector<std::pair<const ControlDefinition*, const std::string*>> usageCells;
    for (const ControlSetting& setting : settings) {
        const ControlDefinition* control = FindControl(setting.name);
        if (!control) throw ControlValueError("unknown control '" + setting.name + "'");
        if (control->kind == ControlKind::UsageCell) {
            WriteControl(sim.controls, *control, setting.text);  // checks the value now
            usageCells.emplace_back(control, &setting.text);
        } else {
            SetControl(sim, *control, setting.text);
        }
    }
    FormCreate(sim);
    if (usageCells.empty()) return;
    for (const auto& [control, text] : usageCells) WriteControl(sim.controls, *control, *text);
    StringGrid1KeyUp(sim);
}
