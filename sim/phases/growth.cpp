#include "sim/phases/growth.h"

#include <algorithm>
#include <new>
#include <string>

#include "sim/controls/control_table.h"
#include "sim/parallel/platform.h"

namespace {

// Up to this many placements on one field, each search scans the grid; a larger
// batch fills the growth queue once and takes its cells from it. Both give the
// same cells, so this only decides which is faster.
constexpr std::int32_t kLargestScannedBatch = 8;

// The cell a search would find, from the diffusion's list of candidates: the first
// still empty. Growth only makes empty cells non-empty and changes no empty cell's
// value, so that is the scan's cell; a complete list that runs out means no cell is
// left ((0, 0)), a list cut short means a scan is needed.
CellPosition FindFromCandidates(const Simulation& sim, int field)
{
    const Run& run = sim.run;
    const DiffusionSummary& summary = run.diffusionSummary;
    const std::vector<TCell>& cells = run.cells.InPassOrder();
    for (int i = 0; i < summary.candidateCount[field]; ++i) {
        const std::uint32_t index = summary.candidates[field][i].index;
        if (cells[index].kind == kEmpty)
            return {static_cast<std::int32_t>(index % run.columns), static_cast<std::int32_t>(index / run.columns)};
    }
    if (summary.candidateCount[field] < summary.wanted[field]) return {};
    return FindMaxPotentialCell(sim, field);
}

// Whether a batch of `count` placements on `field` finds each cell by a full scan:
// a small batch without the diffusion's list of candidates (the plain diffusion
// makes none).
bool ScansEachPlacement(const Simulation& sim, int field, std::int32_t count)
{
    const DiffusionSummary& summary = sim.run.diffusionSummary;
    return count <= kLargestScannedBatch && !(summary.candidatesValid && count <= summary.wanted[field]);
}

// Finds the cells of a batch of `count` placements on `field`, in order, and hands
// each to place(position); place must make the cell non-empty.
template <typename Place>
void PlaceBatch(Simulation& sim, int field, std::int32_t count, Place place)
{
    if (count <= kLargestScannedBatch) {
        const bool scan = ScansEachPlacement(sim, field, count);
        for (std::int32_t i = 0; i < count; ++i)
            place(scan ? FindMaxPotentialCell(sim, field) : FindFromCandidates(sim, field));
        return;
    }
    Run& run = sim.run;
    run.growthQueue.Fill(run.cells, field);
    for (std::int32_t i = 0; i < count; ++i) {
        std::size_t index = 0;
        CellPosition at;  // (0, 0) once no candidate is left
        if (run.growthQueue.Next(run.cells, index)) {
            at.column = static_cast<std::int32_t>(index % run.columns);
            at.row = static_cast<std::int32_t>(index / run.columns);
        }
        place(at);
    }
}

// Adds one column of the weight table to the cell's three fields, in extended
// precision, and notes the change for the normalisation's extremes.
void AddWeights(Run& run, CellPosition at, const UsageParameters& usage, KindCreated created)
{
    DiffusionSummary& summary = run.diffusionSummary;
    const std::size_t cell = run.cells.IndexOf(at.column, at.row);
    const std::array<double, 3> before = run.cells.PotentialsAt(cell);
    const auto k = static_cast<std::size_t>(created);
    for (int f = 0; f < 3; ++f)
        run.cells.PotentialAt(cell, f) = static_cast<double>(static_cast<long double>(before[f]) +
                                                             static_cast<long double>(usage.weight[f][k]));
    if (summary.changeCount < DiffusionSummary::kMaxChanges) {
        const auto index = static_cast<std::uint32_t>(cell);
        summary.changes[summary.changeCount] = {index, before, run.cells.PotentialsAt(cell)};
        summary.changeCount += 1;
    } else {
        summary.extremesValid = false;
    }
}

void CreateLandUse(Simulation& sim, CellPosition at, KindCreated created)
{
    SetCellKind(sim.run.landUse, sim.run.cells(at.column, at.row), created == KindCreated::Service ? kService : kIndustry);
    AddWeights(sim.run, at, sim.usage, created);
    sim.screen().DrawCell(at.column, at.row);
}

// Grows the agent list's room for `count` more agents before a batch, so a batch
// too large for memory fails at once, before any agent exists.
void MakeRoomForAgents(std::vector<TAgent>& agents, std::int32_t count)
{
    const std::size_t needed = agents.size() + static_cast<std::size_t>(count);
    const bool fitsTheRoom = needed <= agents.capacity();
    // Small batches into room already reserved skip the check, which reads a few
    // system files; room reserved ahead is untouched memory, so a large batch is checked.
    constexpr std::size_t kUncheckedBytes = std::size_t{64} << 20;
    if (fitsTheRoom && static_cast<std::size_t>(count) < kUncheckedBytes / sizeof(TAgent)) return;
    const auto refusal = [count] {
        return GrowthError("Not enough memory to create " + std::to_string(count) + " agents");
    };
    // Agents beyond the memory this process may still take (its cgroup's limit, its
    // resource limits, what the system has available) could only end in the system
    // killing the program part-way, so such a batch is refused before it starts.
    const std::uint64_t memory = UsableMemoryBytes();
    const std::size_t touched = fitsTheRoom ? static_cast<std::size_t>(count) : needed;
    if (memory > 0 && touched > memory / sizeof(TAgent)) throw refusal();
    if (fitsTheRoom) return;
    // Room for twice the list keeps growth by small batches from copying the list at
    // every step; when that much is not to be had, room for the batch alone will do.
    for (const std::size_t room : {std::max(needed, 2 * agents.capacity()), needed}) {
        try {
            agents.reserve(room);
            return;
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
    }
    throw refusal();
}

// PlaceAgent with the home cell already found. Every new agent shows all agents on
// the agent layer; within a batch nothing moves between placements, so after the
// batch's first agent drawing the new agent alone over them gives the same pixels
// (later agents are drawn over earlier ones either way).
void PlaceAgentAt(Simulation& sim, std::size_t index, CellPosition at, bool othersDrawnAsTheyStand)
{
    Run& run = sim.run;
    TAgent& agent = run.agents[index];
    agent.column = at.column;
    agent.row = at.row;
    run.cells(at.column, at.row).agentCount += 1;
    agent.homeColumn = agent.column;
    agent.homeRow = agent.row;
    agent.SetPixelX(at.column * run.cellSize + run.halfCell);
    agent.SetPixelY(at.row * run.cellSize + run.halfCell);
    agent.success = 0;
    agent.SetHeading(sim.random.Random(360));
    agent.mode = kSearching;
    agent.migrated = 0;
    agent.travelSteps = 0;
    if (othersDrawnAsTheyStand) sim.screen().DrawAgents(index, 1);
    else sim.screen().DrawAgents(0, run.agents.size());
    MarkHomeCell(sim, agent.homeColumn, agent.homeRow);
}

}  // namespace

CellPosition FindMaxPotentialCell(const Simulation& sim, int field)
{
    const Run& run = sim.run;
    double best = 0.0;
    CellPosition result;
    const std::vector<TCell>& cells = run.cells.InPassOrder();
    const double* potential = run.cells.Field(field);
    std::size_t index = 0;
    std::size_t bestIndex = 0;
    bool found = false;
    for (const TCell& cell : cells) {
        if (potential[index] > best && cell.kind == kEmpty) {
            best = potential[index];
            bestIndex = index;
            found = true;
        }
        ++index;
    }
    if (found) {
        result.column = static_cast<std::int32_t>(bestIndex % run.columns);
        result.row = static_cast<std::int32_t>(bestIndex / run.columns);
    }
    return result;
}

void CreateAgents(Simulation& sim)
{
    const std::int32_t count = ReadInteger(sim.controls, &ControlState::E_crAgs);
    if (count > 0) MakeRoomForAgents(sim.run.agents, count);
    if (ScansEachPlacement(sim, kPopulationField, count)) {
        // The plain way: each new agent appended, then placed by a scan of its own.
        for (std::int32_t i = 0; i < count; ++i) {
            sim.run.agents.emplace_back();
            PlaceAgent(sim, sim.run.agents.size() - 1, i == 0 ? AgentDrawing::All : AgentDrawing::NewOnly);
        }
        CreateResources(sim);
        return;
    }
    bool first = true;
    PlaceBatch(sim, kPopulationField, count, [&sim, &first](CellPosition at) {
        sim.run.agents.emplace_back();
        PlaceAgentAt(sim, sim.run.agents.size() - 1, at, !first);
        first = false;
    });
    CreateResources(sim);
}

void PlaceAgent(Simulation& sim, std::size_t index, AgentDrawing drawing)
{
    PlaceAgentAt(sim, index, FindMaxPotentialCell(sim, kPopulationField), drawing == AgentDrawing::NewOnly);
}

void MarkHomeCell(Simulation& sim, std::int32_t column, std::int32_t row)
{
    SetCellKind(sim.run.landUse, sim.run.cells(column, row), kResidential);
    AddWeights(sim.run, {column, row}, sim.usage, KindCreated::Home);
    sim.screen().DrawCell(column, row);
}

void CreateResources(Simulation& sim)
{
    const std::int32_t services = ReadInteger(sim.controls, &ControlState::E_crServ);
    PlaceBatch(sim, kServiceField, services,
               [&sim](CellPosition at) { CreateLandUse(sim, at, KindCreated::Service); });
    const std::int32_t industries = ReadInteger(sim.controls, &ControlState::E_crIndu);
    PlaceBatch(sim, kIndustryField, industries,
               [&sim](CellPosition at) { CreateLandUse(sim, at, KindCreated::Industry); });
}
