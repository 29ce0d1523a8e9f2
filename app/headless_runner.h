#pragma once
#include <ostream>
#include <string>
#include <vector>

// landuse-headless [--steps N] [--set NAME=TEXT]... [--agents] [--cells]
// Runs the program's start-up with the given control values, then N time steps,
// printing the statistics of every step as CSV (and the final state on request).
// Returns the process exit code: 0 success, 1 a conversion error, 2 a usage error.
int RunHeadless(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
