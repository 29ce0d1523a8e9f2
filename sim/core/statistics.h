#pragma once
#include <cstdint>

#include "sim/core/land_use.h"
#include "sim/core/simulation.h"

// The values the chart plots for one step.
struct StepStatistics {
    std::int32_t step = 0;
    std::int32_t agents = 0;          // agents in the list after the step
    std::int32_t successful = 0;      // percent of agents that came home after a find
    std::int32_t averageTravel = 0;   // mean travel steps x 100
    double maxMark = 0.0;             // display max of the step
    std::int32_t migrated = 0;        // percent of agents that migrated
    std::int32_t returning = 0;       // percent of agents returning
    LandUse landUse{};                // cells of each kind after the step

    friend bool operator==(const StepStatistics&, const StepStatistics&) = default;
};

// Round(sum / count * 100), exactly, ties to even; the sum itself when it is not positive.
std::int32_t PercentOf(std::int64_t sum, std::int64_t count);

StepStatistics ComputeStatistics(const Run& run);
// Computes the step's statistics and hands them to the chart.
void CollectStatistics(Simulation& sim);
