#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "model/agent.h"
#include "model/cell_grid.h"
#include "model/neighbourhood.h"
#include "model/random_generator.h"
#include "sim/controls/control_state.h"
#include "sim/controls/usage_table.h"
#include "sim/core/land_use.h"
#include "sim/core/run_events.h"
#include "sim/core/screen_hooks.h"
#include "sim/core/step_summaries.h"
#include "sim/fields/diffusion_rows.h"
#include "sim/parallel/row_splitter.h"
#include "sim/phases/max_potential_queue.h"

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
    LandUse landUse{};              // cells of each kind, kept up to date as kinds change
    MaxPotentialQueue growthQueue;  // serves growth's large batches of searches
    HeadingTable homeHeadings;      // returning agents' headings, by offset to home
    DiffusionSummary diffusionSummary;
    TrackSummary trackSummary;

    std::int32_t cellSize = 0;
    std::int32_t halfCell = 0;
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    std::int32_t stepCount = 0;
    std::int32_t stopTime = 0;
    ReturnMode returnMode = ReturnMode::DirectWay;

    long double displayMax = 0.0L;
    long double displayMin = 0.0L;
    std::int32_t shownField = 0;  // last valid selection of the field chooser

    // The copy of the display range that each cell's gray scale uses. Every write
    // of it writes all cells alike (a reset sets display max 1 in every cell, each
    // drawing pass copies the range into every cell), so one copy stands for all.
    struct CellsDisplayRange {
        long double max = 1.0L;
        long double min = 0.0L;
    } cellsDisplayRange;
    // The cells the last drawing pass recorded, for the screen to paint: room for
    // every cell, sized at set-up, so a step's pass allocates nothing.
    std::vector<std::uint32_t> cellsToPaint;
    // Cells whose all-tracks value moved by more than 1 since drawn, as the step's
    // normalisation pass found them, held in cellsToPaint for the step's drawing
    // pass that follows it: each block of rows listed from its own first index.
    struct MovedCells {
        bool listed = false;  // the list is current; the drawing pass takes it once
        int blocks = 0;       // the rows' cut into blocks it was made with
        std::array<std::uint32_t, RowSplitter::kMaxBlocks> count{};
    } movedCells;

    // The generator's state when this run was set up, and whether the world was
    // edited with the mouse since: what a command line needs to set up the same run.
    std::uint32_t startSeed = 0;
    bool editedByHand = false;
    // Whether the cells' drawing fields (gray levels, traffic at the last drawing)
    // follow the run: set up, stepped and edited under a screen that records them.
    // A run stepped without one keeps the drawing of its last recorded step.
    bool drawingRecorded = false;
    // The numbers drawn since set-up: counted up to the state `countedTo`.
    struct DrawCount {
        std::uint64_t counted = 0;
        std::uint32_t countedTo = 0;
    } drawCount;

    // False until a set-up has completed; no step runs on a run that is not ready.
    bool ready = false;
};

// The whole program state: the panel's controls, the one random generator, the
// usage parameters (which outlive set-ups) and the current run. The screen and
// whoever drives the run, if any, are reached only through the hooks and events.
struct Simulation {
    ControlState controls;
    RandomGenerator random;
    UsageParameters usage;
    Run run;
    RowSplitter splitter;  // splits the passes over the grid's rows between two cores

    explicit Simulation(ScreenHooks* screenHooks = nullptr, RunEvents* runEvents = nullptr)
    {
        SetScreen(screenHooks);
        SetEvents(runEvents);
    }
    // Workers of the split passes: 1 (the default) or 2. Every count gives the same run.
    void SetWorkerCount(int count) { splitter.SetWorkerCount(count); }
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    ScreenHooks& screen() { return *screen_; }
    RunEvents& events() { return *events_; }
    void SetScreen(ScreenHooks* screenHooks) { screen_ = screenHooks ? screenHooks : &noScreen_; }
    void SetEvents(RunEvents* runEvents) { events_ = runEvents ? runEvents : &noEvents_; }

private:
    ScreenHooks noScreen_;
    RunEvents noEvents_;
    ScreenHooks* screen_ = &noScreen_;
    RunEvents* events_ = &noEvents_;
};
