#pragma once
#include <string>
#include <vector>

struct Simulation;

// A control's value as text, as NAME=TEXT on the runner's command line.
struct ControlSetting {
    std::string name;
    std::string text;
};

// The program's start with the settings applied, as every front end without the
// window starts a run: each setting in order as if typed into its control (its
// change handler runs), then the program's own start (the first set-up and the
// default usage table), then the usage-table cells given are written and the table
// is read once. The generator's seed is the one the simulation holds.
// An unknown control or a value a control cannot hold throws ControlValueError; a
// text that does not convert, ConversionError.
void StartProgram(Simulation& sim, const std::vector<ControlSetting>& settings);
