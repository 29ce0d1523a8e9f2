#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "sim/core/statistics.h"

// The statistics of a step as columns, named once: the CSV header and rows of the
// runner and the window, the statistics rows of a run state file, the Python
// package's tables and the output columns reference page are all made from this
// table, in its order.
enum class ColumnType {
    Integer,  // a 32-bit signed whole number
    Real,     // a double
};

struct StatisticsColumn {
    std::string_view name;
    ColumnType type;
    std::string_view unit;
    std::string_view meaning;
};

inline constexpr std::array<StatisticsColumn, 13> kStatisticsColumns{{
    {"step", ColumnType::Integer, "steps", "the steps completed"},
    {"agents", ColumnType::Integer, "agents", "the agents in the list after the step"},
    {"successful", ColumnType::Integer, "percent", "the agents that have come home at least once after a find"},
    {"avg_travel", ColumnType::Integer, "steps x 100",
     "the mean of the agents' travel steps (steps since they last came home, or were created) x 100: 150 is 1.5 "
     "steps"},
    {"max_mark", ColumnType::Real, "field value",
     "the largest value the grid shows (by default the all-tracks value) over the empty cells: the chart's max "
     "mark"},
    {"migrated", ColumnType::Integer, "percent", "the agents that have migrated"},
    {"returning", ColumnType::Integer, "percent", "the agents returning home now"},
    {"empty", ColumnType::Integer, "cells", "the cells of kind 0, empty, after the step"},
    {"obstacles", ColumnType::Integer, "cells", "the cells of kind 1, obstacle, after the step"},
    {"residential", ColumnType::Integer, "cells", "the cells of kind 2, residential, after the step"},
    {"destinations", ColumnType::Integer, "cells", "the cells of kind 3, destination, after the step"},
    {"services", ColumnType::Integer, "cells", "the cells of kind 4, service, after the step"},
    {"industry", ColumnType::Integer, "cells", "the cells of kind 5, industry, after the step"},
}};

// The value type a column's field has in StepStatistics.
template <ColumnType type>
using ColumnValue = std::conditional_t<type == ColumnType::Integer, std::int32_t, double>;

namespace statistics_columns_detail {

template <std::size_t I, typename Field, typename Visit>
constexpr void Visit1(Field& field, Visit& visit)
{
    static_assert(std::is_same_v<std::remove_const_t<Field>, ColumnValue<kStatisticsColumns[I].type>>,
                  "a column's type is its field's");
    visit(kStatisticsColumns[I], field);
}

}  // namespace statistics_columns_detail

// Calls visit(column, field) for every column in table order, with the field of
// `s` that holds its value (const when `s` is). This is where the table meets the
// struct: a column's type that is not its field's does not compile.
template <typename Statistics, typename Visit>
constexpr void VisitStatisticsColumns(Statistics& s, Visit&& visit)
{
    static_assert(std::is_same_v<std::remove_const_t<Statistics>, StepStatistics>);
    using statistics_columns_detail::Visit1;
    static_assert(kStatisticsColumns.size() == 7 + std::tuple_size_v<LandUse>, "every column is visited");
    Visit1<0>(s.step, visit);
    Visit1<1>(s.agents, visit);
    Visit1<2>(s.successful, visit);
    Visit1<3>(s.averageTravel, visit);
    Visit1<4>(s.maxMark, visit);
    Visit1<5>(s.migrated, visit);
    Visit1<6>(s.returning, visit);
    Visit1<7>(s.landUse[kEmpty], visit);
    Visit1<8>(s.landUse[kObstacle], visit);
    Visit1<9>(s.landUse[kResidential], visit);
    Visit1<10>(s.landUse[kDestination], visit);
    Visit1<11>(s.landUse[kService], visit);
    Visit1<12>(s.landUse[kIndustry], visit);
}

// The type's name as the tables and pages show it.
constexpr std::string_view ColumnTypeName(ColumnType type)
{
    return type == ColumnType::Integer ? "integer" : "real";
}

// Whether `header` is the columns' names joined by commas and closed by a line end.
constexpr bool IsStatisticsHeader(std::string_view header)
{
    for (const StatisticsColumn& column : kStatisticsColumns) {
        if (header.substr(0, column.name.size()) != column.name) return false;
        header.remove_prefix(column.name.size());
        const std::string_view separator = &column == &kStatisticsColumns.back() ? "\n" : ",";
        if (header.substr(0, 1) != separator) return false;
        header.remove_prefix(1);
    }
    return header.empty();
}

