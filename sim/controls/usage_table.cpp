#include "sim/controls/usage_table.h"

#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"

namespace {

// Reads one data cell; a text that does not convert throws naming the cell.
double ReadUsageCell(const ControlState& controls, int column, int row)
{
    const std::string& text = controls.StringGrid1[column][row];
    double value = 0.0;
    if (TryStrToFloat(text, value)) return value;
    const ControlDefinition* control = FindUsageCell(column, row);
    throw ConversionError(StrToFloatMessage(text), control ? control->name : "");
}

}  // namespace

void ResetUsageTable(ControlState& controls, UsageParameters& usage)
{
    auto& grid = controls.StringGrid1;  // [column][row]
    const char* header[6] = {"usage", "diff. c.", "w. pop.", "w. serv.", "w. ind.", "noise"};
    for (int c = 0; c < 6; ++c) grid[c][0] = header[c];
    grid[0][1] = "populat.";
    grid[0][2] = "service";
    grid[0][3] = "industry";
    for (const ControlDefinition& control : ControlTable())
        if (control.kind == ControlKind::UsageCell) grid[control.usageColumn][control.usageRow] = control.defaultValue;
    ReadUsageTable(controls, usage);
}

void ReadUsageTable(const ControlState& controls, UsageParameters& usage)
{
    for (int f = 0; f < 3; ++f) usage.diffusion[f] = ReadUsageCell(controls, 1, f + 1);
    for (int f = 0; f < 3; ++f)
        for (int k = 0; k < 3; ++k) usage.weight[f][k] = ReadUsageCell(controls, k + 2, f + 1);
    for (int f = 0; f < 3; ++f) usage.noise[f] = ReadUsageCell(controls, 5, f + 1);
}
