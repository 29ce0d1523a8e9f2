// The scenes of scenes/ as whole runs (the default run with one and with two
// diffusion workers, the large first batch), and each phase of the time step on
// the default run's state half-way through, restored before every iteration so
// that each phase meets the state it meets in the run. Then the run state's
// encoding and the pictures: one picture painted and encoded, and the default run
// with a picture every 10 steps beside the plain run.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "png/png_encoding.h"
#include "scenes/scenes.h"
#include "sim/core/program_start.h"
#include "sim/core/statistics.h"
#include "sim/core/time_step.h"
#include "sim/drawing/world_picture.h"
#include "sim/fields/field_normalisation.h"
#include "sim/fields/plain_diffusion.h"
#include "sim/fields/potential_fields.h"
#include "sim/io/run_state.h"
#include "sim/phases/display_range.h"
#include "sim/phases/growth.h"
#include "sim/phases/movement.h"
#include "sim/phases/tracks.h"

namespace {

void RunScene(benchmark::State& state, const Scene& scene, int workers)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto sim = SetUpScene(scene, workers);
        state.ResumeTiming();
        for (int i = 0; i < scene.steps; ++i) TimeStep(*sim);
        benchmark::DoNotOptimize(sim->run.agents.size());
    }
    // Seconds per step, shown with its SI prefix (m for milliseconds).
    state.counters["per_step"] = benchmark::Counter(static_cast<double>(state.iterations()) * scene.steps,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DefaultRun(benchmark::State& state)
{
    RunScene(state, DefaultRunScene(), static_cast<int>(state.range(0)));
}
BENCHMARK(BM_DefaultRun)->ArgName("workers")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A fresh default run asking for 100,000 agents, service cells and industry cells
// at once: growth takes every empty cell with a positive field and puts the rest
// of each batch on (0, 0).
void BM_LargeBatch(benchmark::State& state)
{
    RunScene(state, LargeBatchScene(), 0);
}
BENCHMARK(BM_LargeBatch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The default run after half its steps, and a working copy a phase may change.
struct HalfWay {
    std::unique_ptr<Simulation> saved;
    std::unique_ptr<Simulation> work;

    HalfWay() : saved(SetUpScene(DefaultRunScene(), 1)), work(SetUpScene(DefaultRunScene(), 1))
    {
        for (int i = 0; i < DefaultRunScene().steps / 2; ++i) TimeStep(*saved);
    }
    // Back to the saved state.
    Simulation& Restore()
    {
        work->controls = saved->controls;
        work->usage = saved->usage;
        work->random = saved->random;
        work->run = saved->run;
        return *work;
    }
};

HalfWay& HalfWayState()
{
    static HalfWay state;
    return state;
}

// `Before` runs first, untimed, where the phase needs its state (the fused
// normalisation reads the diffusion's summary, growth its candidates, the track
// normalisation the movement's tracks). Restoring the state takes milliseconds, so
// each phase runs a fixed number of times.
template <void (*Phase)(Simulation&), void (*Before)(Simulation&) = nullptr>
void BM_Phase(benchmark::State& state)
{
    HalfWay& halfWay = HalfWayState();
    for (auto _ : state) {
        state.PauseTiming();
        Simulation& sim = halfWay.Restore();
        if constexpr (Before != nullptr) Before(sim);
        state.ResumeTiming();
        Phase(sim);
    }
}

// A screen that paints cells: the normalisation pass then lists the moved cells.
struct PaintingScreen : ScreenHooks {
    bool PaintsCells() const override { return true; }
};

void NormalizeForPaintingScreen(Simulation& sim)
{
    static PaintingScreen screen;
    sim.SetScreen(&screen);
    NormalizePotentialsAndDisplayRange(sim);
    sim.SetScreen(nullptr);
}

void Growth(Simulation& sim) { CreateAgents(sim); }
void DiffusionAndGrowth(Simulation& sim)
{
    DiffusePotentials(sim);
    CreateAgents(sim);
}
void PlainDiffusionAndGrowth(Simulation& sim)
{
    DiffusePotentialsPlain(sim);
    CreateAgents(sim);
}
void PlainNormalisationAndDisplayRange(Simulation& sim)
{
    NormalizePotentials(sim);
    ComputeDisplayRange(sim);
}
void Statistics(Simulation& sim) { benchmark::DoNotOptimize(ComputeStatistics(sim.run)); }
void NormalizeTrackValues(Simulation& sim) { NormalizeTracks(sim.run); }
void NormalizeTrackValuesPlain(Simulation& sim) { NormalizeTracksPlain(sim.run); }

BENCHMARK(BM_Phase<DiffusePotentials>)->Name("Phase/DiffusePotentials")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<DiffusePotentialsPlain>)->Name("Phase/DiffusePotentialsPlain")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<Growth, DiffusePotentials>)->Name("Phase/CreateAgents (from the diffusion's candidates)")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<Growth, DiffusePotentialsPlain>)->Name("Phase/CreateAgents (five scans)")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<NormalizePotentialsAndDisplayRange, DiffusionAndGrowth>)->Name("Phase/NormalizePotentialsAndDisplayRange")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<NormalizeForPaintingScreen, DiffusionAndGrowth>)->Name("Phase/NormalizePotentialsAndDisplayRange (listing moved cells)")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<PlainNormalisationAndDisplayRange, PlainDiffusionAndGrowth>)->Name("Phase/NormalizePotentials + ComputeDisplayRange")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<MoveAgents>)->Name("Phase/MoveAgents (1200 agents)")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<NormalizeTrackValues, MoveAgents>)->Name("Phase/NormalizeTracks")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<NormalizeTrackValuesPlain, MoveAgents>)->Name("Phase/NormalizeTracksPlain")->Unit(benchmark::kMicrosecond)->Iterations(100);
BENCHMARK(BM_Phase<Statistics>)->Name("Phase/CollectStatistics")->Unit(benchmark::kMicrosecond)->Iterations(100);

// Saving and loading the whole run state of the default run at its last step (800),
// in memory: what a file's write or read adds is the disk's.
struct FinishedDefaultRun {
    FinishedDefaultRun() : sim(SetUpScene(DefaultRunScene(), 1))
    {
        for (int i = 0; i < DefaultRunScene().steps; ++i) TimeStep(*sim);
        bytes = EncodeRunState(*sim, {});
    }
    std::unique_ptr<Simulation> sim;
    std::string bytes;
};

FinishedDefaultRun& Finished()
{
    static FinishedDefaultRun run;
    return run;
}

void BM_SaveRunState(benchmark::State& state)
{
    FinishedDefaultRun& run = Finished();
    for (auto _ : state) benchmark::DoNotOptimize(EncodeRunState(*run.sim, {}));
    state.counters["bytes"] = static_cast<double>(run.bytes.size());
}
BENCHMARK(BM_SaveRunState)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_LoadRunState(benchmark::State& state)
{
    FinishedDefaultRun& run = Finished();
    Simulation loaded;
    for (auto _ : state) benchmark::DoNotOptimize(DecodeRunState(loaded, run.bytes));
}
BENCHMARK(BM_LoadRunState)->Unit(benchmark::kMillisecond)->Iterations(20);

// The default run with its cells' drawing recorded from the set-up on, as the
// runner records it for pictures, and the panel's pixels at steps 400 and 800.
struct RecordedDefaultRun {
    RecordedDefaultRun() : recorder(sim)
    {
        sim.SetScreen(&recorder);
        StartProgram(sim, DefaultRunScene().settings);
        for (int step = 1; step <= DefaultRunScene().steps; ++step) {
            TimeStep(sim);
            if (step == 400) halfWay = WorldPixels(sim);
        }
        last = WorldPixels(sim);
    }
    Simulation sim;
    DrawingRecorder recorder;
    std::vector<Pixel> halfWay, last;
};

RecordedDefaultRun& Recorded()
{
    static RecordedDefaultRun run;
    return run;
}

// Encoding alone, of the picture at the step given; the file's size as a counter.
void BM_EncodePicture(benchmark::State& state)
{
    const std::vector<Pixel>& pixels = state.range(0) == 400 ? Recorded().halfWay : Recorded().last;
    std::size_t bytes = 0;
    for (auto _ : state) bytes = EncodePng(pixels, kPictureSide, kPictureSide).size();
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodePicture)->ArgName("step")->Arg(400)->Arg(800)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_PaintPicture(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(WorldPixels(Recorded().sim));
}
BENCHMARK(BM_PaintPicture)->Unit(benchmark::kMillisecond)->Iterations(50);

// What the runner does for one picture of step 800, short of writing the file.
void BM_PaintAndEncodePicture(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(EncodePng(WorldPixels(Recorded().sim), kPictureSide, kPictureSide));
}
BENCHMARK(BM_PaintAndEncodePicture)->Unit(benchmark::kMillisecond)->Iterations(50);

// The default run plain, with the drawing recorded, and recorded with a picture
// painted and encoded every 10 steps (to memory: the file's write is the disk's).
void BM_DefaultRunPictures(benchmark::State& state)
{
    const bool recorded = state.range(0) != 0;
    const int every = static_cast<int>(state.range(1));
    const Scene& scene = DefaultRunScene();
    for (auto _ : state) {
        state.PauseTiming();
        Simulation sim;
        DrawingRecorder recorder(sim);
        if (recorded) sim.SetScreen(&recorder);
        state.ResumeTiming();
        StartProgram(sim, scene.settings);
        for (int step = 1; step <= scene.steps; ++step) {
            TimeStep(sim);
            if (every > 0 && step % every == 0)
                benchmark::DoNotOptimize(EncodePng(WorldPixels(sim), kPictureSide, kPictureSide));
        }
    }
}
BENCHMARK(BM_DefaultRunPictures)
    ->ArgNames({"recorded", "pictures_every"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 10})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
