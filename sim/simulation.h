#pragma once
#include <cstdint>
#include <vector>

#include "agent.h"
#include "cell_grid.h"
#include "diffusion_rows.h"
#include "control_state.h"
#include "drawing_hooks.h"
#include "max_potential_queue.h"
#include "neighbourhood.h"
#include "random_generator.h"
#include "row_splitter.h"
#include "step_summaries.h"
#include "usage_table.h"

struct Destination {
    std::int32_t pixelX = 0;
    std::int32_t pixelY = 0;
    std::int32_t arrivals = 0;
};

// Everything one set-up produces, plus the run-wide values that live beside it.
struct Run {
    std::vector<TAgent> agents;
    TCellList cells;
    TLimbo means;                   // the plain diffusion's means
    DiffusionRows diffusionRows;    // the one-pass diffusion's working rows
    std::vector<Destination> destinations;
    MaxPotentialQueue growthQueue;  // serves growth's large batches of searches
    DiffusionSummary diffusionSummary;
    TrackSummary trackSummary;

    std::int32_t cellSize = 0;
    std::int32_t halfCell = 0;
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::int32_t stepCount = 0;
    std::int32_t stopTime = 0;
    std::int32_t returnMode = 0;  // 0 direct way, 1 use existing tracks

    long double displayMax = 0.0L;
    long double displayMin = 0.0L;
    std::int32_t shownField = 0;  // last valid selection of the field chooser

    // False until a set-up has completed; no step runs on a run that is not ready.
    bool ready = false;
};

// The whole program state: the panel's controls, the one random generator, the
// usage parameters (which outlive set-ups) and the current run. The screen, if
// any, is reached only through the hooks.
struct Simulation {
    ControlState controls;
    RandomGenerator random;
    UsageParameters usage;
    Run run;
    RowSplitter splitter;  // splits the diffusion and the normalisation over two cores

    // Workers of the split passes: 1 or 2; by default 2 when the process may use two
    // CPUs. Every count gives the same run.
    void SetWorkerCount(int count) { splitter.SetWorkerCount(count); }

    explicit Simulation(DrawingHooks* drawingHooks = nullptr) : hooks(drawingHooks ? drawingHooks : &noDrawing) {}
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    DrawingHooks& draw() { return *hooks; }
    void SetHooks(DrawingHooks* drawingHooks) { hooks = drawingHooks ? drawingHooks : &noDrawing; }

private:
    DrawingHooks noDrawing;
    DrawingHooks* hooks;
};
