#pragma once
#include <array>
#include <cstddef>
#include <span>

#include "sim/core/simulation.h"

// Measures of the pattern of land use on the wrapped grid: where homes, services
// and industry lie, how clustered they are, and the network the tracks form.
// Computed from the run on request, never by the time step. Everything is exact
// on the torus: a patch that crosses an edge is one patch, and every distance is
// the shortest way round.
//
// Patches and track networks are 8-connected (cells touching at a corner belong
// together). Edges and adjacencies are cell sides (4 per cell). A measure with
// nothing to measure (the mean patch of a kind with no cells, a distance with no
// home or no target, the Gini coefficient of no arrivals) is NaN.

// One measure: its column name, its unit and what it says.
struct PatternMeasure {
    const char* name;
    const char* unit;
    const char* meaning;
};

// Per class of land (residential, services, industry, built = the three together).
inline constexpr std::size_t kMeasuresPerClass = 6;
inline constexpr std::size_t kPatternClasses = 4;
inline constexpr std::size_t kPatternMeasureCount = kPatternClasses * kMeasuresPerClass + 3 + 2 + 3;

// Every measure in column order: the runner's table, Python's names and the
// README's list are made from this table.
std::span<const PatternMeasure, kPatternMeasureCount> PatternMeasures();

using PatternValues = std::array<double, kPatternMeasureCount>;

struct PatternSettings {
    // Cells whose all-tracks value is at or above this are track cells.
    double trackThreshold = 22.0;
};

PatternValues MeasurePatterns(const Run& run, const PatternSettings& settings = {});

// What the aggregation index divides by: the most like adjacencies (shared
// sides) `cells` cells can have, packed into the squarest block.
std::int64_t MostLikeAdjacencies(std::int64_t cells);
