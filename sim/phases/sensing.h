#pragma once
#include <cstdint>

#include "sim/core/simulation.h"

// The sector 1..8 of a rounded bounding angle; angles outside 0..360 are first
// reduced modulo 360 into 0..359.
std::int32_t SectorOfAngle(std::int32_t angle);

// Finds the neighbour directions in the agent's sensing cone (heading +/- the
// angle threshold), reads their return tracks with a little noise, and stores
// the candidates, the signal sum and each candidate's share in percent.
void SenseDirections(Simulation& sim, std::size_t agentIndex, std::int32_t angleThreshold);
