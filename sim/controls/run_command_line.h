#pragma once
#include <string>

struct Simulation;

// A landuse-headless command that sets up the same run as the simulation's
// current one, with the controls as they stand: a --set for every control whose
// value differs from its default, --seed where the generator did not start at 0
// for this set-up, and --steps for the steps done so far. Changes made to the
// controls during the run take effect from the start there, and edits of the
// world with the mouse cannot be given on a command line: a second line says so
// when the world was edited.
std::string RunCommandLine(const Simulation& sim);
