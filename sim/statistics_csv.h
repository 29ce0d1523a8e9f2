#pragma once
#include <array>
#include <string>

#include "statistics.h"

// The statistics of a step as a line of CSV, as the headless runner prints them
// and the window saves them: whole numbers in decimal, the max mark with 17
// significant digits so that it reads back to the same double.
// After the chart's values come the cells of each kind.
constexpr const char* kStatisticsCsvHeader =
    "step,agents,successful,avg_travel,max_mark,migrated,returning,"
    "empty,obstacles,residential,destinations,services,industry\n";
std::string StatisticsCsvLine(const StepStatistics& statistics);
// The same line in a buffer of its own, for writers that may not allocate (the
// statistics reach them from inside the time step).
std::array<char, 160> StatisticsCsvChars(const StepStatistics& statistics);
