#include "app/output_tables.h"

#include <cstdio>

#include "sim/io/statistics_csv.h"

namespace {

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string TagColumns(const Tags& tags, bool keys)
{
    std::string columns;
    for (const auto& [key, value] : tags) columns += CsvField(keys ? key : value) + ',';
    return columns;
}

void WriteStatisticsHeader(std::ostream& out, const Tags& tags)
{
    out << TagColumns(tags, true) << kStatisticsCsvHeader;
}

void WriteStatisticsLine(std::ostream& out, const std::string& tagValues, const StepStatistics& s)
{
    out << tagValues << StatisticsCsvChars(s).data();
}

void WritePatternsHeader(std::ostream& out, const Tags& tags)
{
    out << TagColumns(tags, true) << "step";
    for (const PatternMeasure& measure : PatternMeasures()) out << ',' << measure.name;
    out << '\n';
}

void WritePatternsLine(std::ostream& out, const std::string& tagValues, std::int32_t step, const PatternValues& values)
{
    out << tagValues << step;
    char number[32];
    for (const double value : values) {
        std::snprintf(number, sizeof number, ",%.17g", value);
        out << number;
    }
    out << '\n';
}

void WriteAgents(std::ostream& out, const Run& run)
{
    out << "index,column,row,home_column,home_row,mode,heading,travel_steps,success,migrated\n";
    char line[200];
    for (std::size_t i = 0; i < run.agents.size(); ++i) {
        const TAgent& a = run.agents[i];
        std::snprintf(line, sizeof line, "%zu,%d,%d,%d,%d,%d,%d,%d,%d,%d\n", i, a.column, a.row, a.homeColumn,
                      a.homeRow, a.mode, a.heading, a.travelSteps, a.success, a.migrated);
        out << line;
    }
}

void WriteCells(std::ostream& out, const Run& run)
{
    out << "column,row,kind,all_tracks,return_tracks,population,service,industry,agents\n";
    char line[256];
    for (std::int32_t r = 0; r < run.rows; ++r) {
        for (std::int32_t c = 0; c < run.columns; ++c) {
            const TCell& cell = run.cells(c, r);
            std::snprintf(line, sizeof line, "%d,%d,%d,%.17g,%.17g,%.17g,%.17g,%.17g,%d\n", c, r, cell.kind,
                          cell.allTracks, cell.returnTracks, run.cells.Potential(c, r, 0),
                          run.cells.Potential(c, r, 1), run.cells.Potential(c, r, 2), cell.agentCount);
            out << line;
        }
    }
}
