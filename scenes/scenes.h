#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/program_start.h"
#include "sim/core/simulation.h"

// Named runs shared by the tests and the benchmarks: each is a list of control
// settings (as the headless runner's --set NAME=TEXT) and a number of steps.
struct Scene {
    std::string name;
    std::vector<ControlSetting> settings;
    int steps = 0;
    // FNV-1a of the headless runner's whole output for the scene with --agents
    // --cells, recorded from a plain single-threaded build of the model.
    std::uint64_t recordedHash = 0;
};

// The defaults: 800 steps, 202 x 202 cells, up to 2400 agents.
const Scene& DefaultRunScene();
// Cell size 6, migration and the roulette wheel, 120 steps.
const Scene& RecordedRunScene();
// One step of a fresh default run that asks for 100,000 agents, service cells and
// industry cells at once.
const Scene& LargeBatchScene();
// Every scene above.
std::vector<const Scene*> AllScenes();

// The runner's arguments for the scene, with the final state when asked.
std::vector<std::string> RunnerArguments(const Scene& scene, bool withFinalState);
// A program state set up for the scene, before its first step; workers 0 keeps the default count.
std::unique_ptr<Simulation> SetUpScene(const Scene& scene, int workers = 0);

// FNV-1a, 64 bits.
std::uint64_t OutputHash(const std::string& output);
