#include "sim/controls/run_command_line.h"

#include "sim/controls/control_table.h"
#include "sim/core/simulation.h"

namespace {

// One argument for a POSIX shell: as it is when it holds only characters no shell
// treats specially, in single quotes otherwise.
std::string ShellWord(const std::string& word)
{
    const bool plain = !word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                               "0123456789_=.,:/+-") == std::string::npos;
    if (plain) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string RunCommandLine(const Simulation& sim)
{
    std::string command = "landuse-headless";
    const Run& run = sim.run;
    if (run.stepCount > 0) command += " --steps " + std::to_string(run.stepCount);
    if (run.startSeed != 0) command += " --seed " + std::to_string(run.startSeed);
    for (const ControlDefinition& control : ControlTable()) {
        // The cell size is read at set-up only: the run's own, whatever the edit holds now.
        const bool cellSize = control.text == &ControlState::Edit_size && run.ready;
        const std::string value = cellSize ? std::to_string(run.cellSize) : ControlValue(sim.controls, control);
        if (value == control.defaultValue) continue;
        // A radio pair is given by its button that is on.
        if (control.kind == ControlKind::RadioButton && value != "1") continue;
        command += " --set " + ShellWord(std::string(control.name) + "=" + value);
    }
    if (run.editedByHand) command += "\n# The world was edited with the mouse: those edits are not included.";
    return command + "\n";
}
