#pragma once
#include <cstdint>

struct Simulation;

// Where runs sit on the generator's one cycle of 2^32 states, and how far they go.

// The generator's starting seed for replicate K of an experiment: the state
// reached after bitreverse32(K) draws from state 0. Replicate 0 is the program's
// own start; the first N replicates lie as far apart on the cycle as N allows
// (the first 2^k are exactly 2^(32-k) draws apart; any N at least 2^32 / M apart,
// M being N rounded up to a power of two), so N replicates share no random
// number while each run draws at most 2^32 / M numbers (2^32 / 2N always suffices).
std::uint32_t ReplicateSeed(std::uint32_t replicate);

// How many draws lead from state `from` to state `to`, 0 .. 2^32 - 1 (the
// generator has full period, so every state is reached exactly once a cycle).
std::uint32_t DrawsBetween(std::uint32_t from, std::uint32_t to);

// Whether the stretches of the cycle that two runs drew from share a state: run
// A drew `drawsA` numbers after starting at `startA`, run B likewise.
bool StreamsOverlap(std::uint32_t startA, std::uint64_t drawsA, std::uint32_t startB, std::uint64_t drawsB);

// The numbers the current run has drawn since it was set up, set-up included.
std::uint64_t DrawsSoFar(const Simulation& sim);

// Adds the draws made since the last call to the run's count. Called once a step,
// while the draws since the last call are surely fewer than 2^32.
void CountDraws(Simulation& sim);
