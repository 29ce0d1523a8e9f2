#pragma once
#include <cstdint>

#include "sim/core/simulation.h"

// Parameters the movement pass reads from the panel once, before the first agent.
struct MovementParameters {
    std::int32_t angleThreshold = 0;
    std::int32_t wiggleThreshold = 0;
    std::int32_t returnNoise = 0;  // rounded and kept within 0..180
    double consumeProbability = 0.0;
    SniffMethod sniffMethod = SniffMethod::None;
};

MovementParameters ReadMovementParameters(const ControlState& controls);

// One step of every agent, in list order: sense, turn, lay tracks, arrive,
// consume, then move or turn away from an obstacle, and perhaps migrate.
void MoveAgents(Simulation& sim);
// Moves the agent's home to the empty cell it stands on when enough other agents are near.
void TryMigrate(Simulation& sim, TAgent& agent);
