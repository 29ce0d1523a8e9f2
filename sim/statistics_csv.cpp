#include "statistics_csv.h"

#include <cstdio>

std::string StatisticsCsvLine(const StepStatistics& s)
{
    char line[160];
    std::snprintf(line, sizeof line, "%d,%d,%d,%d,%.17g,%d,%d\n", s.step, s.agents, s.successful, s.averageTravel,
                  s.maxMark, s.migrated, s.returning);
    return line;
}
