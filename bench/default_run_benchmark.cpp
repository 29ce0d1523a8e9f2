// The default run (800 steps, 202 x 202 cells, up to 2400 agents) as a whole,
// and each phase of its time step on the state of the run half-way through.
#include <benchmark/benchmark.h>

#include <memory>

#include "display_range.h"
#include "growth.h"
#include "movement.h"
#include "potential_fields.h"
#include "setup.h"
#include "statistics.h"
#include "time_step.h"
#include "tracks.h"

namespace {

constexpr int kDefaultSteps = 800;

std::unique_ptr<Simulation> DefaultRunAt(int steps)
{
    auto sim = std::make_unique<Simulation>();
    FormCreate(*sim);
    for (int i = 0; i < steps; ++i) TimeStep(*sim);
    return sim;
}

Simulation& HalfWay()
{
    static std::unique_ptr<Simulation> sim = DefaultRunAt(kDefaultSteps / 2);
    return *sim;
}

void BM_DefaultRun(benchmark::State& state)
{
    for (auto _ : state) {
        auto sim = DefaultRunAt(kDefaultSteps);
        benchmark::DoNotOptimize(sim->run.agents.size());
    }
    // Seconds per step, shown with its SI prefix (m for milliseconds).
    state.counters["per_step"] = benchmark::Counter(static_cast<double>(state.iterations()) * kDefaultSteps,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DefaultRun)->Unit(benchmark::kMillisecond)->Iterations(3);

template <void (*Phase)(Simulation&)>
void BM_Phase(benchmark::State& state)
{
    Simulation& sim = HalfWay();
    for (auto _ : state) Phase(sim);
}

void FindMaxPopulation(Simulation& sim) { benchmark::DoNotOptimize(FindMaxPotentialCell(sim, kPopulationField)); }
void Statistics(Simulation& sim) { benchmark::DoNotOptimize(ComputeStatistics(sim.run)); }
void NormalizeTrackValues(Simulation& sim) { NormalizeTracks(sim.run.cells); }

BENCHMARK(BM_Phase<DiffusePotentials>)->Name("Phase/DiffusePotentials")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Phase<NormalizePotentials>)->Name("Phase/NormalizePotentials")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Phase<FindMaxPopulation>)->Name("Phase/FindMaxPotentialCell (growth makes 5 a step)")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Phase<ComputeDisplayRange>)->Name("Phase/ComputeDisplayRange")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Phase<MoveAgents>)->Name("Phase/MoveAgents (1200 agents)")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Phase<NormalizeTrackValues>)->Name("Phase/NormalizeTracks")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Phase<Statistics>)->Name("Phase/CollectStatistics")->Unit(benchmark::kMicrosecond);

}  // namespace

// The first step of a fresh default run with 100,000 agents, service cells and
// industry cells asked for at once: growth takes every empty cell with a positive
// field and puts the rest of each batch on (0, 0).
void BM_FirstStepWithHundredThousandPlacements(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto sim = std::make_unique<Simulation>();
        sim->controls.E_crAgs = "100000";
        sim->controls.E_crServ = "100000";
        sim->controls.E_crIndu = "100000";
        FormCreate(*sim);
        state.ResumeTiming();
        TimeStep(*sim);
        benchmark::DoNotOptimize(sim->run.agents.size());
    }
}
BENCHMARK(BM_FirstStepWithHundredThousandPlacements)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
