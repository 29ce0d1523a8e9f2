#pragma once
#include <cstdint>
#include <stdexcept>

#include "sim/core/simulation.h"

struct CellPosition {
    std::int32_t column = 0;
    std::int32_t row = 0;
    friend bool operator==(const CellPosition&, const CellPosition&) = default;
};

// What a growth placement creates: the column of the weight table it adds.
enum class KindCreated : std::int32_t { Home = 0, Service = 1, Industry = 2 };

// Raised when a batch of new agents cannot be given memory; nothing of the batch is
// created then.
class GrowthError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A batch of new agents with their homes, then the new service and industry cells.
void CreateAgents(Simulation& sim);
// How PlaceAgent shows the new agent: with every agent drawn again, or alone over
// the agents as drawn (within a batch after its first agent, when nothing moved).
enum class AgentDrawing { All, NewOnly };
// Homes the agent at `index` on the empty cell of greatest population potential.
void PlaceAgent(Simulation& sim, std::size_t index, AgentDrawing drawing = AgentDrawing::All);
void MarkHomeCell(Simulation& sim, std::int32_t column, std::int32_t row);
void CreateResources(Simulation& sim);
// The empty cell with the strictly greatest positive value of the field, first in
// row-major order; (0, 0) when there is none.
CellPosition FindMaxPotentialCell(const Simulation& sim, int field);
