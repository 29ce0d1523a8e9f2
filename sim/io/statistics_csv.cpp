#include "sim/io/statistics_csv.h"

#include <cstdio>

std::array<char, kStatisticsCsvLineRoom> StatisticsCsvChars(const StepStatistics& s)
{
    std::array<char, kStatisticsCsvLineRoom> line;
    std::size_t at = 0;
    VisitStatisticsColumns(s, [&](const StatisticsColumn& column, const auto& value) {
        const char* separator = &column == &kStatisticsColumns.back() ? "\n" : ",";
        int written;
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, double>)
            written = std::snprintf(line.data() + at, line.size() - at, "%.17g%s", value, separator);
        else
            written = std::snprintf(line.data() + at, line.size() - at, "%d%s", value, separator);
        at += static_cast<std::size_t>(written);
    });
    return line;
}

std::string StatisticsCsvLine(const StepStatistics& statistics)
{
    return StatisticsCsvChars(statistics).data();
}
