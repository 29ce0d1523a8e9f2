#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/output_file.h"
#include "sim/io/run_state.h"

// The runner's run state files: read whole for --load-state, written through an
// OutputFile (atomically, every write checked) for --save-state and
// --save-state-every.

// A state file that cannot be loaded: unreadable, not a state file, damaged or of
// another format version. The runner exits with 65 for it, before any step.
class StateFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces the simulation's controls, generator and run with the file's and
// returns its statistics so far; throws StateFileError naming the file, with the
// simulation unchanged.
std::vector<StepStatistics> LoadStateFile(Simulation& sim, const std::string& path);

// Writes the run's state into the file (committing is the caller's).
void WriteState(OutputFile& file, const Simulation& sim, std::span<const StepStatistics> history);

