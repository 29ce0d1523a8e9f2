#pragma once
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "simulation.h"

// landuse-headless [--steps N] [--set NAME=TEXT]... [--agents] [--cells] [--workers 1|2]
// Runs the program's start-up with the given control values, then N time steps,
// printing the statistics of every step as CSV (and the final state on request).
// --workers sets how many workers the diffusion uses (by default as many of the
// process's CPUs as it can use, at most 2); the output is the same either way.
// A conversion error prints the message the window would show and ends the run at
// once, keeping the lines already printed.
// Returns the process exit code: 0 success, 2 a conversion error, 64 a command-line
// mistake (an unknown control, a value outside a control's range, a malformed argument),
// 1 any other failure (a batch of agents too large for memory).
int RunHeadless(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// What the runner does with its --set arguments before the first step: each applied
// in order as if typed into its control, then the program's start-up, then the
// usage-table cells written and the table read again. A setting the runner would
// refuse throws std::runtime_error; a text that does not convert, ConversionError.
void SetUpFromSettings(Simulation& sim, const std::vector<std::pair<std::string, std::string>>& settings);
