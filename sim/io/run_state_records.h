#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "sim/controls/usage_table.h"
#include "sim/core/simulation.h"
#include "sim/core/statistics.h"
#include "sim/core/statistics_columns.h"

// The records of a run state file, each described once as a table of fields. The
// writer and the reader walk the same values in the same order through one visit
// function per record, and a RecordWalk holds every value it meets to the table's
// field at that place: a value of another type, one too many or one too few is a
// logic error at once. The record sizes the loader checks counts against, and the
// format's reference page, come from the same tables.

enum class FieldKind {
    Byte,      // an unsigned 8-bit number
    Int32,     // a signed 32-bit number
    UInt32,    // an unsigned 32-bit number
    UInt64,    // an unsigned 64-bit number
    Real,      // the 8 bytes of an IEEE 754 double
    Extended,  // the 10 bytes of an x87 80-bit extended real (64-bit significand)
    Flag,      // one byte, 0 or 1
    Text,      // a UInt32 byte count, then that many bytes of UTF-8, no terminator
};

constexpr std::size_t FieldKindBytes(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Byte:
    case FieldKind::Flag: return 1;
    case FieldKind::Int32:
    case FieldKind::UInt32: return 4;
    case FieldKind::UInt64:
    case FieldKind::Real: return 8;
    case FieldKind::Extended: return 10;
    case FieldKind::Text: return 0;  // 4 and the text's length
    }
    return 0;
}

constexpr std::string_view FieldKindName(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Byte: return "u8";
    case FieldKind::Flag: return "flag";
    case FieldKind::Int32: return "i32";
    case FieldKind::UInt32: return "u32";
    case FieldKind::UInt64: return "u64";
    case FieldKind::Real: return "f64";
    case FieldKind::Extended: return "f80";
    case FieldKind::Text: return "text";
    }
    return "";
}

// The kind a C++ value is written as.
template <typename T>
constexpr FieldKind KindOf()
{
    if constexpr (std::is_same_v<T, std::uint8_t>) return FieldKind::Byte;
    else if constexpr (std::is_same_v<T, bool>) return FieldKind::Flag;
    else if constexpr (std::is_same_v<T, std::int32_t>) return FieldKind::Int32;
    else if constexpr (std::is_same_v<T, std::uint32_t>) return FieldKind::UInt32;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return FieldKind::UInt64;
    else if constexpr (std::is_same_v<T, double>) return FieldKind::Real;
    else if constexpr (std::is_same_v<T, long double>) return FieldKind::Extended;
    else {
        static_assert(std::is_same_v<T, std::string>, "a state holds numbers, flags and texts");
        return FieldKind::Text;
    }
}

struct RecordField {
    std::string_view name;
    FieldKind kind;
    std::size_t count;  // values of the kind, one after the other
    std::string_view unit;
    std::string_view meaning;
    std::uint32_t since = 1;  // the format version that added the field; older files lack it
};

template <std::size_t N>
using RecordTable = std::array<RecordField, N>;

// The bytes a record of fixed-size fields takes in a file of format `version`.
template <std::size_t N>
constexpr std::size_t RecordBytes(const RecordTable<N>& table, std::uint32_t version = UINT32_MAX)
{
    std::size_t bytes = 0;
    for (const RecordField& field : table)
        if (field.since <= version) bytes += FieldKindBytes(field.kind) * field.count;
    return bytes;
}

// Where a field starts in a record of fixed-size fields.
template <std::size_t N>
constexpr std::size_t FieldOffset(const RecordTable<N>& table, std::string_view name)
{
    std::size_t at = 0;
    for (const RecordField& field : table) {
        if (field.name == name) return at;
        at += FieldKindBytes(field.kind) * field.count;
    }
    throw std::logic_error("no such field");
}

// A record's values and its table part: a mistake in the program, not in a file.
[[noreturn, gnu::noinline, gnu::cold]] inline void RecordMismatch(const char* what, std::string_view field)
{
    throw std::logic_error(std::string(what) + " (" + std::string(field) + ")");
}

// Hands each value of a record to use(field, value), with the table's field it
// stands for; throws std::logic_error where the values and the table part.
template <std::size_t N, typename Use>
class RecordWalk {
public:
    RecordWalk(const RecordTable<N>& table, Use& use) : table_(table), use_(use) {}

    template <typename T>
    void operator()(T&& value)
    {
        if (field_ == N) [[unlikely]]
            RecordMismatch("a record holds more values than its table", table_[N - 1].name);
        const RecordField& field = table_[field_];
        if (field.kind != KindOf<std::remove_cvref_t<T>>()) [[unlikely]]
            RecordMismatch("a value of another kind than its field's", field.name);
        use_(field, std::forward<T>(value));
        if (++element_ == field.count) {
            ++field_;
            element_ = 0;
        }
    }
    void Finish() const
    {
        if (field_ != N) [[unlikely]]
            RecordMismatch("a record holds fewer values than its table", table_[field_].name);
    }

private:
    const RecordTable<N>& table_;
    Use& use_;
    std::size_t field_ = 0;
    std::size_t element_ = 0;
};

// Walks one record: visit(record..., walk) hands its values to `walk` in order.
template <std::size_t N, typename Use, typename Visit>
void WalkRecord(const RecordTable<N>& table, Use&& use, Visit&& visit)
{
    RecordWalk<N, std::remove_reference_t<Use>> walk(table, use);
    visit(walk);
    walk.Finish();
}

// ---- the records ----

inline constexpr RecordTable<4> kHeaderRecord{{
    {"magic", FieldKind::Byte, 8, "",
     "89 4C 55 53 0D 0A 1A 0A: a byte with the high bit set, \"LUS\", CR LF, Ctrl-Z and LF, so a file mangled by "
     "a text-mode transfer is told from a state file at once"},
    {"format_version", FieldKind::UInt32, 1, "", "the format version of the file"},
    {"payload_size", FieldKind::UInt64, 1, "bytes", "the size of the payload that follows the header"},
    {"checksum", FieldKind::UInt32, 1, "", "the CRC-32 of the payload, as zlib and PNG compute it"},
}};

inline constexpr RecordTable<1> kWriterRecord{{
    {"program_version", FieldKind::Text, 1, "",
     "the version of the program that wrote the file, as `landuse-headless --version` prints it", 3},
}};

// One control of the control table (every control but the usage table's cells).
inline constexpr RecordTable<2> kControlRecord{{
    {"name", FieldKind::Text, 1, "", "the control's name, as the control table and `--set` name it"},
    {"value", FieldKind::Text, 1, "",
     "the control's text as the window shows it; a radio button's is \"1\" when on and \"0\" when off"},
}};

inline constexpr RecordTable<1> kUsageTextsRecord{{
    {"usage_table_texts", FieldKind::Text, 6 * 4, "",
     "the usage table's cells, its header cells included, column by column: column 0 (the row headers) rows 0 "
     "to 3, then column 1, ... column 5 (StringGrid1.C.R is column C, row R)"},
}};

inline constexpr RecordTable<1> kGeneratorRecord{{
    {"generator_state", FieldKind::UInt32, 1, "", "the random generator's state (its seed) now"},
}};

inline constexpr RecordTable<3> kUsageRecord{{
    {"diffusion", FieldKind::Real, 3, "",
     "the diffusion parameter of each field: population, service, industry"},
    {"weight", FieldKind::Real, 3 * 3, "",
     "the weight a new cell of each kind adds to each field, row by row: the population field's weights for a "
     "new home, service and industry cell, then the service field's three, then the industry field's three "
     "(weight[receiving field][kind created])"},
    {"noise", FieldKind::Real, 3, "", "the noise parameter of each field: population, service, industry"},
}};

inline constexpr RecordTable<17> kRunValuesRecord{{
    {"cell_size", FieldKind::Int32, 1, "pixels", "the side of a cell, 2 to 10"},
    {"half_cell", FieldKind::Int32, 1, "pixels", "half the cell size, as the drawing takes it"},
    {"columns", FieldKind::Int32, 1, "cells", "the grid's columns"},
    {"rows", FieldKind::Int32, 1, "cells", "the grid's rows (as many as columns)"},
    {"step_count", FieldKind::Int32, 1, "steps", "the steps completed"},
    {"stop_time", FieldKind::Int32, 1, "steps", "the step count at which the run stops"},
    {"return_mode", FieldKind::Int32, 1, "", "how agents go home: 0 the direct way, 1 along the tracks"},
    {"shown_field", FieldKind::Int32, 1, "",
     "the field the field chooser last selected: 0 population, 1 service, 2 industry"},
    {"display_max", FieldKind::Extended, 1, "field value", "the display range's maximum (-infinity when unset)"},
    {"display_min", FieldKind::Extended, 1, "field value", "the display range's minimum (+infinity when unset)"},
    {"cells_display_max", FieldKind::Extended, 1, "field value",
     "the display range's maximum as the cells' gray levels last took it"},
    {"cells_display_min", FieldKind::Extended, 1, "field value",
     "the display range's minimum as the cells' gray levels last took it"},
    {"start_seed", FieldKind::UInt32, 1, "", "the generator's state when the run was set up"},
    {"edited_by_hand", FieldKind::Flag, 1, "", "whether the world was edited with the mouse since the set-up"},
    {"drawing_recorded", FieldKind::Flag, 1, "",
     "whether the cells' drawing fields follow the run (absent before version 2: false)", 2},
    {"draws_counted", FieldKind::UInt64, 1, "draws", "the random numbers drawn since set-up, counted up to ..."},
    {"draws_counted_to", FieldKind::UInt32, 1, "", "... the generator's state at which they were counted"},
}};

inline constexpr RecordTable<13> kCellRecord{{
    {"potentials", FieldKind::Real, 3, "field value", "the cell's value of each field: population, service, industry"},
    {"all_tracks", FieldKind::Real, 1, "traffic", "the traffic of all moves over the cell"},
    {"return_tracks", FieldKind::Real, 1, "traffic", "the traffic of returning agents over the cell"},
    {"kind", FieldKind::Int32, 1, "",
     "0 empty, 1 obstacle, 2 residential, 3 destination, 4 service, 5 industry"},
    {"agent_count", FieldKind::Int32, 1, "agents", "the agents whose current cell this is"},
    {"destination_index", FieldKind::Int32, 1, "",
     "the destination (0-based, in the destinations' order) that last made this cell a destination cell; 0 for "
     "a cell never one, and never cleared when the cell's kind changes"},
    {"shown_field_number", FieldKind::Int32, 1, "",
     "the field (0 population, 1 service, 2 industry) the cell's gray level was last computed from"},
    {"last_drawn_all_tracks", FieldKind::Real, 1, "traffic", "the all-tracks value when the cell was last drawn"},
    {"gray_level", FieldKind::Int32, 1, "", "the gray level, 0 to 255, the drawing last computed"},
    {"all_black", FieldKind::Flag, 1, "", "the cell's copy of \"all destinations black\""},
    {"position_x", FieldKind::Int32, 1, "pixels", "the cell's centre: column x cell size + half cell"},
    {"position_y", FieldKind::Int32, 1, "pixels", "the cell's centre: row x cell size + half cell"},
    {"size", FieldKind::Int32, 1, "pixels", "half the side of the cell's drawn square: the half cell"},
}};

inline constexpr RecordTable<18> kAgentRecord{{
    {"column", FieldKind::Int32, 1, "cells", "the agent's cell"},
    {"row", FieldKind::Int32, 1, "cells", ""},
    {"home_column", FieldKind::Int32, 1, "cells", "the agent's home cell"},
    {"home_row", FieldKind::Int32, 1, "cells", ""},
    {"migrated", FieldKind::Int32, 1, "", "1 when the agent has migrated, else 0"},
    {"travel_steps", FieldKind::Int32, 1, "steps", "the steps since the agent last came home, or was created"},
    {"mode", FieldKind::Int32, 1, "", "0 searching, 1 returning home"},
    {"found_destination_index", FieldKind::Int32, 1, "",
     "the destination_index of the destination cell the agent last found"},
    {"success", FieldKind::Int32, 1, "", "1 when the agent came home after a find, else 0"},
    {"pixel_x", FieldKind::Int32, 1, "pixels", "the agent's drawn position"},
    {"pixel_y", FieldKind::Int32, 1, "pixels", ""},
    {"heading", FieldKind::Int32, 1, "degrees", "the agent's heading"},
    {"dx", FieldKind::Int32, 1, "cells", "the agent's step this step: -1, 0 or 1 along columns ..."},
    {"dy", FieldKind::Int32, 1, "cells", "... and along rows"},
    {"candidates", FieldKind::Int32, 2 * TAgent::kMaxCandidates, "cells",
     "the directions the agent last sensed, as (dx, dy) pairs: dx of candidate 0, dy of candidate 0, dx of "
     "candidate 1, ...; pairs from candidate_count on are left from earlier steps"},
    {"shares", FieldKind::Real, TAgent::kMaxCandidates, "percent",
     "each candidate's share of the signal sum: its sensed value (return tracks plus noise) / signal_sum x 100, "
     "0 when the signal sum is 0"},
    {"candidate_count", FieldKind::Int32, 1, "", "the candidates sensed last, 0 to 8"},
    {"signal_sum", FieldKind::Real, 1, "traffic",
     "the sum of the candidates' sensed values: each one's return tracks plus its noise, added in candidate order"},
}};

inline constexpr RecordTable<3> kDestinationRecord{{
    {"pixel_x", FieldKind::Int32, 1, "pixels", "the centre of the destination's middle cell"},
    {"pixel_y", FieldKind::Int32, 1, "pixels", ""},
    {"arrivals", FieldKind::Int32, 1, "agents", "the agents that arrived at the destination so far"},
}};

// A step's statistics, column for column as the statistics columns' table has them.
inline constexpr RecordTable<kStatisticsColumns.size()> kStatisticsRecord = [] {
    RecordTable<kStatisticsColumns.size()> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const StatisticsColumn& c = kStatisticsColumns[i];
        table[i] = {c.name, c.type == ColumnType::Integer ? FieldKind::Int32 : FieldKind::Real, 1, c.unit, c.meaning};
    }
    return table;
}();

// ---- the values each record holds, in table order ----
// Each takes its record const when it is written, and `walk` takes each value.

template <typename Usage, typename Walk>
void VisitUsage(Usage& usage, Walk& walk)
{
    for (auto& d : usage.diffusion) walk(d);
    for (auto& row : usage.weight)
        for (auto& d : row) walk(d);
    for (auto& d : usage.noise) walk(d);
}

// The return mode goes through `returnMode`, a whole number, to be checked before it is an enum again.
template <typename R, typename Walk>
void VisitRunValues(R& run, std::int32_t& returnMode, Walk& walk)
{
    for (auto* v : {&run.cellSize, &run.halfCell, &run.columns, &run.rows, &run.stepCount, &run.stopTime}) walk(*v);
    walk(returnMode);
    walk(run.shownField);
    walk(run.displayMax);
    walk(run.displayMin);
    walk(run.cellsDisplayRange.max);
    walk(run.cellsDisplayRange.min);
    walk(run.startSeed);
    walk(run.editedByHand);
    walk(run.drawingRecorded);
    walk(run.drawCount.counted);
    walk(run.drawCount.countedTo);
}

// The cell at `index` in pass order (row-major).
template <typename Cells, typename Walk>
void VisitCell(Cells& cells, std::size_t index, Walk& walk)
{
    for (int f = 0; f < 3; ++f) walk(cells.PotentialAt(index, f));
    auto& cell = cells.InPassOrder()[index];
    walk(cell.allTracks);
    walk(cell.returnTracks);
    for (auto* v : {&cell.kind, &cell.agentCount, &cell.destinationIndex, &cell.shownFieldNumber}) walk(*v);
    walk(cell.lastDrawnAllTracks);
    walk(cell.grayLevel);
    walk(cell.allBlack);
    for (auto* v : {&cell.PositionX, &cell.PositionY, &cell.Size}) walk(*v);
}

template <typename Agent, typename Walk>
void VisitAgent(Agent& a, Walk& walk)
{
    for (auto* v : {&a.column, &a.row, &a.homeColumn, &a.homeRow, &a.migrated, &a.travelSteps, &a.mode,
                    &a.foundDestinationIndex, &a.success, &a.pixelX, &a.pixelY, &a.heading, &a.dx, &a.dy})
        walk(*v);
    for (auto& d : a.candidates) {
        walk(d.dx);
        walk(d.dy);
    }
    for (auto& share : a.shares) walk(share);
    walk(a.candidateCount);
    walk(a.signalSum);
}

template <typename D, typename Walk>
void VisitDestination(D& d, Walk& walk)
{
    walk(d.pixelX);
    walk(d.pixelY);
    walk(d.arrivals);
}

template <typename S, typename Walk>
void VisitStatisticsRow(S& s, Walk& walk)
{
    VisitStatisticsColumns(s, [&](const StatisticsColumn&, auto& value) { walk(value); });
}

