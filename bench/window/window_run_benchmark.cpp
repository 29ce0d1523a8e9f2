// The default 800-step run as a person runs it: the real window, shown on the
// offscreen platform, started with "start / stop" and left to its timer until
// the stop time ends the run. Three configurations:
//   Window/DefaultRun        the "Graphic" page as it opens (changed cells only);
//   Window/FullRepaintRun    "show potential field nr." on: every cell every step;
//   Headless/DefaultRun      the same run without a screen, for comparison.
// The timer makes at most one step a millisecond, so a run of 800 steps takes at
// least 800 ms in the window however fast its steps are. The Unpaced runs set the
// timer's interval to 0 and show what the window's drawing costs beyond the steps.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "scenes/scenes.h"
#include "sim/core/time_step.h"
#include "ui/CellForm.h"

namespace {

// The window opens with the default run's controls; its timer stops at the stop time.
const int kDefaultSteps = DefaultRunScene().steps;

// Runs one window until its timer stops; returns the steps it made.
int RunWindowToStop(TForm1& form)
{
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(2);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (!form.timer()->isActive()) loop.quit();
    });
    form.panel().B_stop->click();
    watch.start();
    loop.exec();
    return form.simulation().run.stepCount;
}

void RunWindow(benchmark::State& state, const std::function<void(TForm1&)>& configure)
{
    int errors = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<TForm1>();
        form->SetMessageSink([&errors](const QString&) { ++errors; });
        configure(*form);
        form->show();
        QCoreApplication::processEvents();
        state.ResumeTiming();

        const int steps = RunWindowToStop(*form);

        state.PauseTiming();
        if (steps != kDefaultSteps || errors != 0) state.SkipWithError("the run did not reach its stop time");
        form.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["per_step"] = benchmark::Counter(static_cast<double>(state.iterations()) * kDefaultSteps,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_WindowDefaultRun(benchmark::State& state)
{
    RunWindow(state, [](TForm1&) {});
}

void BM_WindowFullRepaintRun(benchmark::State& state)
{
    RunWindow(state, [](TForm1& form) { form.panel().CB_potField->setChecked(true); });
}

void BM_WindowDefaultRunUnpaced(benchmark::State& state)
{
    RunWindow(state, [](TForm1& form) { form.timer()->setInterval(0); });
}

void BM_WindowFullRepaintRunUnpaced(benchmark::State& state)
{
    RunWindow(state, [](TForm1& form) {
        form.timer()->setInterval(0);
        form.panel().CB_potField->setChecked(true);
    });
}

void BM_HeadlessDefaultRun(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto sim = SetUpScene(DefaultRunScene());
        state.ResumeTiming();
        for (int i = 0; i < kDefaultSteps; ++i) TimeStep(*sim);
        benchmark::DoNotOptimize(sim->run.agents.size());
    }
    state.counters["per_step"] = benchmark::Counter(static_cast<double>(state.iterations()) * kDefaultSteps,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_HeadlessDefaultRun)->Name("Headless/DefaultRun")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WindowDefaultRun)->Name("Window/DefaultRun")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WindowFullRepaintRun)->Name("Window/FullRepaintRun")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WindowDefaultRunUnpaced)->Name("Window/DefaultRunUnpaced")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WindowFullRepaintRunUnpaced)->Name("Window/FullRepaintRunUnpaced")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    // The window is drawn on the offscreen platform unless another is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
