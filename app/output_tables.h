#pragma once
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/simulation.h"
#include "sim/core/statistics.h"
#include "sim/patterns/land_patterns.h"

// The runner's three tables, as CSV.
using Tags = std::vector<std::pair<std::string, std::string>>;

// The statistics header and one line per step; tags come first, as extra columns
// with the same value on every row, so tables of many runs concatenate.
void WriteStatisticsHeader(std::ostream& out, const Tags& tags);
// The tags' keys (for the header) or values (for every row), each followed by ','.
std::string TagColumns(const Tags& tags, bool keys);
// One row: the tags' values as TagColumns gives them, then the statistics. Allocates
// nothing, as it runs inside the time step.
void WriteStatisticsLine(std::ostream& out, const std::string& tagValues, const StepStatistics& s);
void WriteAgents(std::ostream& out, const Run& run);
// The pattern measures' table: the tags, `step`, then every measure; a NaN (a
// measure with nothing to measure) is written "nan".
void WritePatternsHeader(std::ostream& out, const Tags& tags);
void WritePatternsLine(std::ostream& out, const std::string& tagValues, std::int32_t step, const PatternValues& values);
void WriteCells(std::ostream& out, const Run& run);
