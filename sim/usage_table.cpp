#include "usage_table.h"

#include "conversion.h"

void ResetUsageTable(ControlState& controls, UsageParameters& usage)
{
    auto& grid = controls.StringGrid1;  // [column][row]
    const char* header[6] = {"usage", "diff. c.", "w. pop.", "w. serv.", "w. ind.", "noise"};
    for (int c = 0; c < 6; ++c) grid[c][0] = header[c];
    grid[0][1] = "populat.";
    grid[0][2] = "service";
    grid[0][3] = "industry";
    for (int r = 1; r <= 3; ++r) grid[1][r] = "1";
    const char* rows[3][4] = {
        {"1,0", "0,5", "0,0", "6,0"},
        {"0,5", "1,0", "0", "5,0"},
        {"0,5", "0", "1,0", "4,8"},
    };
    for (int r = 1; r <= 3; ++r)
        for (int c = 2; c <= 5; ++c) grid[c][r] = rows[r - 1][c - 2];
    ReadUsageTable(controls, usage);
}

void ReadUsageTable(const ControlState& controls, UsageParameters& usage)
{
    const auto& grid = controls.StringGrid1;
    for (int f = 0; f < 3; ++f) usage.diffusion[f] = StrToFloat(grid[1][f + 1]);
    for (int f = 0; f < 3; ++f)
        for (int k = 0; k < 3; ++k) usage.weight[f][k] = StrToFloat(grid[k + 2][f + 1]);
    for (int f = 0; f < 3; ++f) usage.noise[f] = StrToFloat(grid[5][f + 1]);
}
