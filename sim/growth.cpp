#include "growth.h"

#include "conversion.h"

namespace {

// Adds one column of the weight table to the cell's three fields, in extended precision.
void AddWeights(TCell& cell, const UsageParameters& usage, int kindCreated)
{
    for (int f = 0; f < 3; ++f)
        cell.potential[f] = static_cast<double>(static_cast<long double>(cell.potential[f]) +
                                                static_cast<long double>(usage.weight[f][kindCreated]));
}

void CreateLandUse(Simulation& sim, int field, std::int32_t kind, int kindCreated)
{
    const CellPosition at = FindMaxPotentialCell(sim, field);
    TCell& cell = sim.run.cells(at.column, at.row);
    cell.kind = kind;
    AddWeights(cell, sim.usage, kindCreated);
    sim.draw().DrawCell(at.column, at.row);
}

}  // namespace

CellPosition FindMaxPotentialCell(const Simulation& sim, int field)
{
    const Run& run = sim.run;
    double best = 0.0;
    CellPosition result;
    const std::vector<TCell>& cells = run.cells.InPassOrder();
    std::size_t index = 0;
    std::size_t bestIndex = 0;
    bool found = false;
    for (const TCell& cell : cells) {
        if (cell.potential[field] > best && cell.kind == kEmpty) {
            best = cell.potential[field];
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
    const std::int32_t count = StrToInt(sim.controls.E_crAgs);
    for (std::int32_t i = 0; i < count; ++i) {
        sim.run.agents.emplace_back();
        PlaceAgent(sim, sim.run.agents.size() - 1);
    }
    CreateResources(sim);
}

void PlaceAgent(Simulation& sim, std::size_t index)
{
    Run& run = sim.run;
    const CellPosition at = FindMaxPotentialCell(sim, kPopulationField);
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
    sim.draw().DrawAgents();
    MarkHomeCell(sim, agent.homeColumn, agent.homeRow);
}

void MarkHomeCell(Simulation& sim, std::int32_t column, std::int32_t row)
{
    TCell& cell = sim.run.cells(column, row);
    cell.kind = kResidential;
    AddWeights(cell, sim.usage, 0);
    sim.draw().DrawCell(column, row);
}

void CreateResources(Simulation& sim)
{
    const std::int32_t services = StrToInt(sim.controls.E_crServ);
    for (std::int32_t i = 0; i < services; ++i) CreateLandUse(sim, kServiceField, kService, 1);
    const std::int32_t industries = StrToInt(sim.controls.E_crIndu);
    for (std::int32_t i = 0; i < industries; ++i) CreateLandUse(sim, kIndustryField, kIndustry, 2);
}
