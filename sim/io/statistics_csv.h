#pragma once
#include <array>
#include <cstddef>
#include <string>

#include "sim/core/statistics.h"
#include "sim/core/statistics_columns.h"

// The statistics of a step as a line of CSV, as the headless runner prints them
// and the window saves them: whole numbers in decimal, the max mark with 17
// significant digits so that it reads back to the same double.
// After the chart's values come the cells of each kind.
constexpr const char* kStatisticsCsvHeader =
    "step,agents,successful,avg_travel,max_mark,migrated,returning,"
    "empty,obstacles,residential,destinations,services,industry\n";
static_assert(IsStatisticsHeader(kStatisticsCsvHeader), "the header names the statistics columns in order");
std::string StatisticsCsvLine(const StepStatistics& statistics);
// The same line in a buffer of its own, for writers that may not allocate (the
// statistics reach them from inside the time step). Room for the longest line:
// twelve whole numbers of 11 characters, a max mark of 24, 12 commas, the line end.
constexpr std::size_t kStatisticsCsvLineRoom = 12 * 11 + 24 + 12 + 2;
std::array<char, kStatisticsCsvLineRoom> StatisticsCsvChars(const StepStatistics& statistics);
