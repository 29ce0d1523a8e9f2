// The pattern measures: once on the default run's last step, and the default run
// measured every 10 steps, to set beside the plain default run (DefaultRun).
#include <benchmark/benchmark.h>

#include "scenes/scenes.h"
#include "sim/core/time_step.h"
#include "sim/patterns/land_patterns.h"

namespace {

void BM_MeasurePatterns(benchmark::State& state)
{
    static const auto finished = [] {
        auto sim = SetUpScene(DefaultRunScene(), 1);
        for (int i = 0; i < DefaultRunScene().steps; ++i) TimeStep(*sim);
        return sim;
    }();
    for (auto _ : state) benchmark::DoNotOptimize(MeasurePatterns(finished->run));
}
BENCHMARK(BM_MeasurePatterns)->Name("Patterns/MeasurePatterns (default run, step 800)")->Unit(benchmark::kMicrosecond)->Iterations(50);

void BM_DefaultRunMeasured(benchmark::State& state)
{
    const Scene& scene = DefaultRunScene();
    for (auto _ : state) {
        state.PauseTiming();
        auto sim = SetUpScene(scene, 1);
        state.ResumeTiming();
        for (int i = 1; i <= scene.steps; ++i) {
            TimeStep(*sim);
            if (i % 10 == 0) benchmark::DoNotOptimize(MeasurePatterns(sim->run));
        }
    }
}
BENCHMARK(BM_DefaultRunMeasured)->Name("Patterns/DefaultRun measured every 10 steps")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
