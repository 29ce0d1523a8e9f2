#pragma once
#include <cstdint>
#include <string>

#include "files/atomic_file.h"  // LinkedName, where a name's links lead

// DIR/STEM-STEP.EXTENSION, for the files written every N steps. The step takes
// ten digits, as many as its largest count (2147483647), so the names sort by
// step, as a glob of a movie's frames lists them.
std::string StepFileName(const std::string& directory, const char* stem, std::int32_t step, const char* extension);
