#include "sim/io/run_state.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "sim/controls/control_table.h"
#include "sim/core/land_use.h"
#include "sim/core/setup.h"
#include "sim/core/version.h"
#include "sim/io/run_state_records.h"
#include "sim/io/run_state_values.h"
#include "sim/io/state_bytes.h"

static_assert(std::endian::native == std::endian::little, "state files are written as the machine holds numbers");
static_assert(std::numeric_limits<long double>::digits == 64, "extended reals are the 80-bit x87 format");

namespace {

using state_bytes::Reader;
using state_bytes::Require;
using state_bytes::Within;
using state_bytes::Writer;

// PNG's trick: a byte with the high bit set, then CR LF, Ctrl-Z and LF, so a file
// mangled by a text-mode transfer is told from a state file at once.
constexpr char kMagic[8] = {'\x89', 'L', 'U', 'S', '\r', '\n', '\x1a', '\n'};
static_assert(FieldKindBytes(FieldKind::Extended) == state_bytes::kExtendedBytes);
static_assert(RecordBytes(kHeaderRecord) == kRunStateHeaderSize);
static_assert(FieldKindBytes(FieldKind::Byte) * kHeaderRecord[0].count == sizeof kMagic);
constexpr std::size_t kVersionAt = FieldOffset(kHeaderRecord, "format_version");
constexpr std::size_t kPayloadSizeAt = FieldOffset(kHeaderRecord, "payload_size");
constexpr std::size_t kChecksumAt = FieldOffset(kHeaderRecord, "checksum");

// Record sizes in the current format, to size a state before it is written. (The
// loader refuses a count the rest of the file cannot hold, before anything is
// allocated for it, by the sizes of the file's own format version.)
constexpr std::size_t kCellBytes = RecordBytes(kCellRecord);
constexpr std::size_t kAgentBytes = RecordBytes(kAgentRecord);
constexpr std::size_t kDestinationBytes = RecordBytes(kDestinationRecord);
constexpr std::size_t kStatisticsBytes = RecordBytes(kStatisticsRecord);
// Room for the controls, the usage table and the run-wide values.
constexpr std::size_t kFewValuesBytes = 4096;

// ---- writing ----

// One record, its values in its table's order.
template <std::size_t N, typename Visit>
void WriteRecord(Writer& w, const RecordTable<N>& table, Visit&& visit)
{
    WalkRecord(table, [&w](const RecordField&, const auto& value) { w.Put(value); }, visit);
}

void WriteControls(Writer& w, const ControlState& controls)
{
    std::uint32_t count = 0;
    for (const ControlDefinition& control : ControlTable()) count += control.kind != ControlKind::UsageCell;
    w.Number(count);
    for (const ControlDefinition& control : ControlTable()) {
        if (control.kind == ControlKind::UsageCell) continue;
        WriteRecord(w, kControlRecord, [&](auto& walk) {
            walk(std::string(control.name));
            walk(ControlValue(controls, control));
        });
    }
    // The whole usage table, its header cells included.
    WriteRecord(w, kUsageTextsRecord, [&](auto& walk) {
        for (const auto& column : controls.StringGrid1)
            for (const std::string& text : column) walk(text);
    });
}

void WriteRunValues(Writer& w, const Run& run)
{
    std::int32_t returnMode = static_cast<std::int32_t>(run.returnMode);
    WriteRecord(w, kRunValuesRecord, [&](auto& walk) { VisitRunValues(run, returnMode, walk); });
}

// ---- reading ----

constexpr std::int64_t kFarthestHeading = 1'000'000'000;


// One record of a file of format `version`, its values in its table's order; a
// field the version lacks keeps the value it had.
template <std::size_t N, typename Visit>
void ReadRecord(Reader& r, std::uint32_t version, const RecordTable<N>& table, Visit&& visit)
{
    WalkRecord(
        table,
        [&r, version](const RecordField& field, auto& value) {
            if (field.since <= version) r.Get(value);
        },
        visit);
}

void ReadControls(Reader& r, ControlState& controls, std::uint32_t version)
{
    const auto count = r.Number<std::uint32_t>();
    std::vector<const ControlDefinition*> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string name, value;
        ReadRecord(r, version, kControlRecord, [&](auto& walk) {
            walk(name);
            walk(value);
        });
        const ControlDefinition* control = FindControl(name);
        Require(control && control->kind != ControlKind::UsageCell, "it names no control '" + name + "'");
        Require(std::find(seen.begin(), seen.end(), control) == seen.end(), "it names " + name + " twice");
        seen.push_back(control);
        if (control->kind == ControlKind::RadioButton) {
            // Each button of a pair as it was: written alone, not through its partner.
            Require(value == "0" || value == "1", "a radio button holds '" + value + "'");
            controls.*control->checked = value == "1";
            continue;
        }
        try {
            WriteControl(controls, *control, value);
        } catch (const ControlValueError& e) {
            Reader::Fail(e.what());
        }
    }
    for (const ControlDefinition& control : ControlTable())
        Require(control.kind == ControlKind::UsageCell || std::find(seen.begin(), seen.end(), &control) != seen.end(),
                std::string("it lacks the control ") + control.name);
    ReadRecord(r, version, kUsageTextsRecord, [&](auto& walk) {
        for (auto& column : controls.StringGrid1)
            for (std::string& text : column) walk(text);
    });
}

void ReadRunValues(Reader& r, Run& run, std::uint32_t version)
{
    std::int32_t returnMode = 0;
    run.drawingRecorded = false;  // what a file without the flag holds
    ReadRecord(r, version, kRunValuesRecord, [&](auto& walk) { VisitRunValues(run, returnMode, walk); });

    Require(Within(run.cellSize, 2, 10), "a cell size of " + std::to_string(run.cellSize));
    Require(run.halfCell == HalfCell(run.cellSize) && run.columns == CellsAlong(kPanelSize, run.cellSize) &&
                run.rows == run.columns,
            "its grid does not fit its cell size");
    Require(Within(run.stepCount, 0, std::numeric_limits<std::int32_t>::max() - 1),
            "a step count of " + std::to_string(run.stepCount));
    Require(Within(returnMode, 0, 1), "a return mode of " + std::to_string(returnMode));
    run.returnMode = static_cast<ReturnMode>(returnMode);
    Require(Within(run.shownField, 0, 2), "a shown field of " + std::to_string(run.shownField));
}

void ReadCell(Reader& r, std::uint32_t version, Run& run, std::int32_t column, std::int32_t row)
{
    const std::size_t index = static_cast<std::size_t>(row) * static_cast<std::size_t>(run.columns) + column;
    ReadRecord(r, version, kCellRecord, [&](auto& walk) { VisitCell(run.cells, index, walk); });
    const TCell& cell = run.cells(column, row);

    const std::string where = " at cell (" + std::to_string(column) + ", " + std::to_string(row) + ")";
    Require(Within(cell.kind, kEmpty, kIndustry), "a kind of " + std::to_string(cell.kind) + where);
    Require(Within(cell.shownFieldNumber, 0, 2) && Within(cell.grayLevel, 0, 255), "drawing values out of range" + where);
    Require(cell.PositionX == column * run.cellSize + run.halfCell && cell.PositionY == row * run.cellSize + run.halfCell &&
                cell.Size == run.halfCell,
            "a position off the grid" + where);
}

void ReadAgent(Reader& r, std::uint32_t version, TAgent& a, const Run& run, std::size_t index)
{
    ReadRecord(r, version, kAgentRecord, [&](auto& walk) { VisitAgent(a, walk); });
    bool directionsHold = true;
    for (const Direction& d : a.candidates)
        directionsHold = directionsHold && Within(d.dx, -1, 1) && Within(d.dy, -1, 1);

    const std::string which = " of agent " + std::to_string(index);
    Require(run.cells.Contains(a.column, a.row) && run.cells.Contains(a.homeColumn, a.homeRow),
            "a cell off the grid" + which);
    Require(Within(a.mode, kSearching, kReturning) && Within(a.migrated, 0, 1) && Within(a.success, 0, 1),
            "a flag out of range" + which);
    Require(Within(a.travelSteps, 0, run.stepCount), "travel steps beyond the step count" + which);
    // Headings stay within one turn of 0..360, and a turn is at most what a control
    // gives; far beyond that the sensing's arithmetic would leave whole numbers.
    Require(Within(a.heading, -kFarthestHeading, kFarthestHeading) && Within(a.dx, -1, 1) && Within(a.dy, -1, 1) && directionsHold &&
                Within(a.candidateCount, 0, TAgent::kMaxCandidates),
            "a heading out of range" + which);
}

// Everything a state holds, read and checked before any of it goes into the simulation.
struct DecodedState {
    ControlState controls;
    RandomGenerator random;
    UsageParameters usage;
    Run run;
    std::vector<StepStatistics> history;
};

void ReadPayload(Reader& r, DecodedState& state, std::uint32_t version)
{
    std::string programVersion;
    ReadRecord(r, version, kWriterRecord, [&](auto& walk) { walk(programVersion); });
    ReadControls(r, state.controls, version);
    ReadRecord(r, version, kGeneratorRecord, [&](auto& walk) { walk(state.random.seed); });
    ReadRecord(r, version, kUsageRecord, [&](auto& walk) { VisitUsage(state.usage, walk); });
    Run& run = state.run;
    ReadRunValues(r, run, version);

    const std::uint32_t cellCount = r.Count(RecordBytes(kCellRecord, version), "cells");
    Require(cellCount == static_cast<std::uint32_t>(run.columns) * static_cast<std::uint32_t>(run.rows),
            "its cells do not fill its grid");
    run.cells = TCellList(run.columns, run.rows);
    for (std::int32_t row = 0; row < run.rows; ++row)
        for (std::int32_t column = 0; column < run.columns; ++column) ReadCell(r, version, run, column, row);

    const std::uint32_t agentCount = r.Count(RecordBytes(kAgentRecord, version), "agents");
    run.agents.resize(agentCount);
    for (std::uint32_t i = 0; i < agentCount; ++i) ReadAgent(r, version, run.agents[i], run, i);
    // The agents on each cell are what the cells count: movement keeps both alike.
    std::vector<std::int32_t> standing(run.cells.InPassOrder().size(), 0);
    for (const TAgent& a : run.agents) ++standing[static_cast<std::size_t>(a.row) * run.columns + a.column];
    for (std::size_t i = 0; i < standing.size(); ++i)
        Require(standing[i] == run.cells.InPassOrder()[i].agentCount, "the cells' agent counts differ from the agents");

    const std::uint32_t destinationCount = r.Count(RecordBytes(kDestinationRecord, version), "destinations");
    run.destinations.resize(destinationCount);
    // At most one arrival per agent and step: a count beyond that is no saved run's.
    const std::int64_t mostArrivals = static_cast<std::int64_t>(run.stepCount) * static_cast<std::int64_t>(agentCount);
    for (Destination& d : run.destinations) {
        ReadRecord(r, version, kDestinationRecord, [&](auto& walk) { VisitDestination(d, walk); });
        Require(Within(d.arrivals, 0, mostArrivals), "a destination's arrivals out of range");
    }

    const std::uint32_t historyCount = r.Count(RecordBytes(kStatisticsRecord, version), "statistics rows");
    state.history.resize(historyCount);
    for (StepStatistics& s : state.history)
        ReadRecord(r, version, kStatisticsRecord, [&](auto& walk) { VisitStatisticsRow(s, walk); });
    Require(r.AtEnd(), "bytes follow its end");
}

std::uint32_t ReadHeaderNumber32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

}  // namespace

std::uint32_t RunStateChecksum(std::string_view payload)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt at a time.
    for (std::size_t at = 0; at < payload.size();) {
        const std::size_t piece = std::min<std::size_t>(payload.size() - at, 1u << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(payload.data() + at), static_cast<uInt>(piece));
        at += piece;
    }
    return static_cast<std::uint32_t>(crc);
}

std::string EncodeRunState(const Simulation& sim, std::span<const StepStatistics> history)
{
    const Run& run = sim.run;
    if (!run.ready) throw RunStateError("there is no run to save: it is not set up");
    // What the loader would refuse is not written: a save that cannot be opened is lost work unseen.
    if (const auto impossible = ImpossibleSavedValue(sim.controls, sim.usage, run, history))
        throw RunStateError("the run cannot be saved: it holds " + *impossible);
    Writer w;
    w.Reserve(kRunStateHeaderSize + kFewValuesBytes + run.cells.InPassOrder().size() * kCellBytes +
              run.agents.size() * kAgentBytes + run.destinations.size() * kDestinationBytes +
              history.size() * kStatisticsBytes);
    // The header's place, filled in once the payload after it is known.
    w.bytes().append(kRunStateHeaderSize, '\0');
    // The payload's sections, in the order the format's reference page lists them.
    WriteRecord(w, kWriterRecord, [](auto& walk) { walk(std::string(LandUseVersion())); });
    WriteControls(w, sim.controls);
    WriteRecord(w, kGeneratorRecord, [&](auto& walk) { walk(sim.random.seed); });
    WriteRecord(w, kUsageRecord, [&](auto& walk) { VisitUsage(sim.usage, walk); });
    WriteRunValues(w, run);
    w.Number(static_cast<std::uint32_t>(run.cells.InPassOrder().size()));
    for (std::size_t i = 0; i < run.cells.InPassOrder().size(); ++i)
        WriteRecord(w, kCellRecord, [&](auto& walk) { VisitCell(run.cells, i, walk); });
    w.Number(static_cast<std::uint32_t>(run.agents.size()));
    for (const TAgent& agent : run.agents) WriteRecord(w, kAgentRecord, [&](auto& walk) { VisitAgent(agent, walk); });
    w.Number(static_cast<std::uint32_t>(run.destinations.size()));
    for (const Destination& d : run.destinations)
        WriteRecord(w, kDestinationRecord, [&](auto& walk) { VisitDestination(d, walk); });
    w.Number(static_cast<std::uint32_t>(history.size()));
    for (const StepStatistics& s : history)
        WriteRecord(w, kStatisticsRecord, [&](auto& walk) { VisitStatisticsRow(s, walk); });

    std::string& file = w.bytes();
    const std::string_view payload = std::string_view(file).substr(kRunStateHeaderSize);
    Writer header;
    header.bytes().append(kMagic, sizeof kMagic);
    header.Number(kRunStateVersion);
    header.Number(static_cast<std::uint64_t>(payload.size()));
    header.Number(RunStateChecksum(payload));
    file.replace(0, kRunStateHeaderSize, header.bytes());
    return std::move(file);
}

std::vector<StepStatistics> DecodeRunState(Simulation& sim, std::string_view bytes)
{
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        throw RunStateError("this is not a run state file");
    if (bytes.size() < kRunStateHeaderSize) Reader::Fail("it ends early");
    const std::uint32_t version = ReadHeaderNumber32(bytes, kVersionAt);
    if (version < kOldestRunStateVersion || version > kRunStateVersion)
        throw RunStateError("the run state has format version " + std::to_string(version) + "; this program reads versions " +
                            std::to_string(kOldestRunStateVersion) + " to " + std::to_string(kRunStateVersion));
    std::uint64_t payloadSize;
    std::memcpy(&payloadSize, bytes.data() + kPayloadSizeAt, sizeof payloadSize);
    const std::string_view payload = bytes.substr(kRunStateHeaderSize);
    if (payloadSize > payload.size()) Reader::Fail("it ends early");
    if (payloadSize < payload.size()) Reader::Fail("bytes follow its end");
    if (RunStateChecksum(payload) != ReadHeaderNumber32(bytes, kChecksumAt)) Reader::Fail("its checksum does not match");

    DecodedState state;
    Reader reader(payload);
    ReadPayload(reader, state, version);
    if (const auto impossible = ImpossibleSavedValue(state.controls, state.usage, state.run, state.history))
        Reader::Fail(*impossible);

    // All read and checked: the simulation takes it over whole.
    Run& run = state.run;
    run.landUse = CountLandUse(run.cells);
    SizeRunStorage(run);
    run.ready = true;
    sim.controls = std::move(state.controls);
    sim.random = state.random;
    sim.usage = state.usage;
    sim.run = std::move(run);
    return std::move(state.history);
}
