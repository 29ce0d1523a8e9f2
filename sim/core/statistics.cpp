#include "sim/core/statistics.h"

#include "model/rounding.h"

std::int32_t PercentOf(std::int64_t sum, std::int64_t count)
{
    if (sum <= 0) return static_cast<std::int32_t>(sum);
    if (count <= 0) return 0;
    return static_cast<std::int32_t>(RoundedQuotient(sum * 100, count));
}

StepStatistics ComputeStatistics(const Run& run)
{
    std::int64_t success = 0, travel = 0, migrated = 0, returning = 0;
    for (const TAgent& agent : run.agents) {
        success += agent.success;
        travel += agent.travelSteps;
        migrated += agent.migrated;
        returning += agent.mode;
    }
    const auto count = static_cast<std::int64_t>(run.agents.size());
    StepStatistics stats;
    stats.step = run.stepCount;
    stats.agents = static_cast<std::int32_t>(count);
    stats.successful = PercentOf(success, count);
    stats.averageTravel = PercentOf(travel, count);
    stats.maxMark = static_cast<double>(run.displayMax);
    stats.migrated = PercentOf(migrated, count);
    stats.returning = PercentOf(returning, count);
    stats.landUse = run.landUse;
    return stats;
}

void CollectStatistics(Simulation& sim)
{
    sim.events().StepDone(ComputeStatistics(sim.run));
}
