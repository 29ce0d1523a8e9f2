#include "sim/io/run_state.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "sim/controls/control_table.h"
#include "sim/core/land_use.h"
#include "sim/core/setup.h"
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

// Record sizes: to refuse a count the rest of the file cannot hold before
// anything is allocated for it, and to size a state before it is written.
constexpr std::size_t kCellBytes = 5 * 8 + 4 * 4 + 8 + 4 + 1 + 3 * 4;
constexpr std::size_t kAgentBytes = 14 * 4 + TAgent::kMaxCandidates * (8 + 8) + 4 + 8;
constexpr std::size_t kDestinationBytes = 3 * 4;
constexpr std::size_t kStatisticsBytes = 4 * 4 + 8 + 2 * 4 + 6 * 4;
// Room for the controls, the usage table and the run-wide values.
constexpr std::size_t kFewValuesBytes = 4096;

// ---- writing ----

void WriteControls(Writer& w, const ControlState& controls)
{
    std::uint32_t count = 0;
    for (const ControlDefinition& control : ControlTable()) count += control.kind != ControlKind::UsageCell;
    w.Number(count);
    for (const ControlDefinition& control : ControlTable()) {
        if (control.kind == ControlKind::UsageCell) continue;
        w.Text(control.name);
        w.Text(ControlValue(controls, control));
    }
    // The whole usage table, its header cells included.
    for (const auto& column : controls.StringGrid1)
        for (const std::string& text : column) w.Text(text);
}

void WriteUsage(Writer& w, const UsageParameters& usage)
{
    for (double d : usage.diffusion) w.Number(d);
    for (const auto& row : usage.weight)
        for (double d : row) w.Number(d);
    for (double d : usage.noise) w.Number(d);
}

void WriteRunValues(Writer& w, const Run& run)
{
    for (std::int32_t v : {run.cellSize, run.halfCell, run.columns, run.rows, run.stepCount, run.stopTime,
                           static_cast<std::int32_t>(run.returnMode), run.shownField})
        w.Number(v);
    w.Extended(run.displayMax);
    w.Extended(run.displayMin);
    w.Extended(run.cellsDisplayRange.max);
    w.Extended(run.cellsDisplayRange.min);
    w.Number(run.startSeed);
    w.Flag(run.editedByHand);
    w.Flag(run.drawingRecorded);
    w.Number(run.drawCount.counted);
    w.Number(run.drawCount.countedTo);
}

void WriteCell(Writer& w, const TCellList& cells, std::size_t index)
{
    const TCell& cell = cells.InPassOrder()[index];
    for (double d : cells.PotentialsAt(index)) w.Number(d);
    w.Number(cell.allTracks);
    w.Number(cell.returnTracks);
    for (std::int32_t v : {cell.kind, cell.agentCount, cell.destinationIndex, cell.shownFieldNumber}) w.Number(v);
    w.Number(cell.lastDrawnAllTracks);
    w.Number(cell.grayLevel);
    w.Flag(cell.allBlack);
    for (std::int32_t v : {cell.PositionX, cell.PositionY, cell.Size}) w.Number(v);
}

void WriteAgent(Writer& w, const TAgent& a)
{
    for (std::int32_t v : {a.column, a.row, a.homeColumn, a.homeRow, a.migrated, a.travelSteps, a.mode,
                           a.foundDestinationIndex, a.success, a.pixelX, a.pixelY, a.heading, a.dx, a.dy})
        w.Number(v);
    for (const Direction& d : a.candidates) {
        w.Number(d.dx);
        w.Number(d.dy);
    }
    for (double share : a.shares) w.Number(share);
    w.Number(a.candidateCount);
    w.Number(a.signalSum);
}

void WriteStatistics(Writer& w, const StepStatistics& s)
{
    for (std::int32_t v : {s.step, s.agents, s.successful, s.averageTravel}) w.Number(v);
    w.Number(s.maxMark);
    for (std::int32_t v : {s.migrated, s.returning}) w.Number(v);
    for (std::int32_t v : s.landUse) w.Number(v);
}

// ---- reading ----

constexpr std::int64_t kFarthestHeading = 1'000'000'000;


void ReadControls(Reader& r, ControlState& controls)
{
    const auto count = r.Number<std::uint32_t>();
    std::vector<const ControlDefinition*> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string name = r.Text();
        const std::string value = r.Text();
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
    for (auto& column : controls.StringGrid1)
        for (std::string& text : column) text = r.Text();
}

void ReadUsage(Reader& r, UsageParameters& usage)
{
    for (double& d : usage.diffusion) d = r.Number<double>();
    for (auto& row : usage.weight)
        for (double& d : row) d = r.Number<double>();
    for (double& d : usage.noise) d = r.Number<double>();
}

void ReadRunValues(Reader& r, Run& run, std::uint32_t version)
{
    for (std::int32_t* v : {&run.cellSize, &run.halfCell, &run.columns, &run.rows, &run.stepCount, &run.stopTime})
        *v = r.Number<std::int32_t>();
    const auto returnMode = r.Number<std::int32_t>();
    run.shownField = r.Number<std::int32_t>();
    run.displayMax = r.Extended();
    run.displayMin = r.Extended();
    run.cellsDisplayRange.max = r.Extended();
    run.cellsDisplayRange.min = r.Extended();
    run.startSeed = r.Number<std::uint32_t>();
    run.editedByHand = r.Flag();
    run.drawingRecorded = version >= 2 ? r.Flag() : false;
    run.drawCount.counted = r.Number<std::uint64_t>();
    run.drawCount.countedTo = r.Number<std::uint32_t>();

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

void ReadCell(Reader& r, Run& run, std::int32_t column, std::int32_t row)
{
    TCell& cell = run.cells(column, row);
    for (int f = 0; f < 3; ++f) run.cells.Potential(column, row, f) = r.Number<double>();
    cell.allTracks = r.Number<double>();
    cell.returnTracks = r.Number<double>();
    for (std::int32_t* v : {&cell.kind, &cell.agentCount, &cell.destinationIndex, &cell.shownFieldNumber})
        *v = r.Number<std::int32_t>();
    cell.lastDrawnAllTracks = r.Number<double>();
    cell.grayLevel = r.Number<std::int32_t>();
    cell.allBlack = r.Flag();
    for (std::int32_t* v : {&cell.PositionX, &cell.PositionY, &cell.Size}) *v = r.Number<std::int32_t>();

    const std::string where = " at cell (" + std::to_string(column) + ", " + std::to_string(row) + ")";
    Require(Within(cell.kind, kEmpty, kIndustry), "a kind of " + std::to_string(cell.kind) + where);
    Require(Within(cell.shownFieldNumber, 0, 2) && Within(cell.grayLevel, 0, 255), "drawing values out of range" + where);
    Require(cell.PositionX == column * run.cellSize + run.halfCell && cell.PositionY == row * run.cellSize + run.halfCell &&
                cell.Size == run.halfCell,
            "a position off the grid" + where);
}

void ReadAgent(Reader& r, TAgent& a, const Run& run, std::size_t index)
{
    for (std::int32_t* v : {&a.column, &a.row, &a.homeColumn, &a.homeRow, &a.migrated, &a.travelSteps, &a.mode,
                            &a.foundDestinationIndex, &a.success, &a.pixelX, &a.pixelY, &a.heading, &a.dx, &a.dy})
        *v = r.Number<std::int32_t>();
    bool directionsHold = true;
    for (Direction& d : a.candidates) {
        d.dx = r.Number<std::int32_t>();
        d.dy = r.Number<std::int32_t>();
        directionsHold = directionsHold && Within(d.dx, -1, 1) && Within(d.dy, -1, 1);
    }
    for (double& share : a.shares) share = r.Number<double>();
    a.candidateCount = r.Number<std::int32_t>();
    a.signalSum = r.Number<double>();

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

void ReadStatistics(Reader& r, StepStatistics& s)
{
    for (std::int32_t* v : {&s.step, &s.agents, &s.successful, &s.averageTravel}) *v = r.Number<std::int32_t>();
    s.maxMark = r.Number<double>();
    for (std::int32_t* v : {&s.migrated, &s.returning}) *v = r.Number<std::int32_t>();
    for (std::int32_t& v : s.landUse) v = r.Number<std::int32_t>();
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
    ReadControls(r, state.controls);
    state.random.seed = r.Number<std::uint32_t>();
    ReadUsage(r, state.usage);
    Run& run = state.run;
    ReadRunValues(r, run, version);

    const std::uint32_t cellCount = r.Count(kCellBytes, "cells");
    Require(cellCount == static_cast<std::uint32_t>(run.columns) * static_cast<std::uint32_t>(run.rows),
            "its cells do not fill its grid");
    run.cells = TCellList(run.columns, run.rows);
    for (std::int32_t row = 0; row < run.rows; ++row)
        for (std::int32_t column = 0; column < run.columns; ++column) ReadCell(r, run, column, row);

    const std::uint32_t agentCount = r.Count(kAgentBytes, "agents");
    run.agents.resize(agentCount);
    for (std::uint32_t i = 0; i < agentCount; ++i) ReadAgent(r, run.agents[i], run, i);
    // The agents on each cell are what the cells count: movement keeps both alike.
    std::vector<std::int32_t> standing(run.cells.InPassOrder().size(), 0);
    for (const TAgent& a : run.agents) ++standing[static_cast<std::size_t>(a.row) * run.columns + a.column];
    for (std::size_t i = 0; i < standing.size(); ++i)
        Require(standing[i] == run.cells.InPassOrder()[i].agentCount, "the cells' agent counts differ from the agents");

    const std::uint32_t destinationCount = r.Count(kDestinationBytes, "destinations");
    run.destinations.resize(destinationCount);
    // At most one arrival per agent and step: a count beyond that is no saved run's.
    const std::int64_t mostArrivals = static_cast<std::int64_t>(run.stepCount) * static_cast<std::int64_t>(agentCount);
    for (Destination& d : run.destinations) {
        d.pixelX = r.Number<std::int32_t>();
        d.pixelY = r.Number<std::int32_t>();
        d.arrivals = r.Number<std::int32_t>();
        Require(Within(d.arrivals, 0, mostArrivals), "a destination's arrivals out of range");
    }

    const std::uint32_t historyCount = r.Count(kStatisticsBytes, "statistics rows");
    state.history.resize(historyCount);
    for (StepStatistics& s : state.history) ReadStatistics(r, s);
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
    WriteControls(w, sim.controls);
    w.Number(sim.random.seed);
    WriteUsage(w, sim.usage);
    WriteRunValues(w, run);
    w.Number(static_cast<std::uint32_t>(run.cells.InPassOrder().size()));
    for (std::size_t i = 0; i < run.cells.InPassOrder().size(); ++i) WriteCell(w, run.cells, i);
    w.Number(static_cast<std::uint32_t>(run.agents.size()));
    for (const TAgent& agent : run.agents) WriteAgent(w, agent);
    w.Number(static_cast<std::uint32_t>(run.destinations.size()));
    for (const Destination& d : run.destinations) {
        w.Number(d.pixelX);
        w.Number(d.pixelY);
        w.Number(d.arrivals);
    }
    w.Number(static_cast<std::uint32_t>(history.size()));
    for (const StepStatistics& s : history) WriteStatistics(w, s);

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
    const std::uint32_t version = ReadHeaderNumber32(bytes, 8);
    if (version < kOldestRunStateVersion || version > kRunStateVersion)
        throw RunStateError("the run state has format version " + std::to_string(version) + "; this program reads versions " +
                            std::to_string(kOldestRunStateVersion) + " to " + std::to_string(kRunStateVersion));
    std::uint64_t payloadSize;
    std::memcpy(&payloadSize, bytes.data() + 12, sizeof payloadSize);
    const std::string_view payload = bytes.substr(kRunStateHeaderSize);
    if (payloadSize > payload.size()) Reader::Fail("it ends early");
    if (payloadSize < payload.size()) Reader::Fail("bytes follow its end");
    if (RunStateChecksum(payload) != ReadHeaderNumber32(bytes, 20)) Reader::Fail("its checksum does not match");

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
