#include "sim/io/statistics_csv.h"

#include <cstdio>

std::array<char, kStatisticsCsvLineRoom> StatisticsCsvChars(const StepStatistics& s)
{
    std::array<char, kStatisticsCsvLineRoom> line;
    const LandUse& u = s.landUse;
    std::snprintf(line.data(), line.size(), "%d,%d,%d,%d,%.17g,%d,%d,%d,%d,%d,%d,%d,%d\n", s.step, s.agents,
                  s.successful, s.averageTravel, s.maxMark, s.migrated, s.returning, u[kEmpty], u[kObstacle],
                  u[kResidential], u[kDestination], u[kService], u[kIndustry]);
    return line;
}

std::string StatisticsCsvLine(const StepStatistics& statistics)
{
    return StatisticsCsvChars(statistics).data();
}
