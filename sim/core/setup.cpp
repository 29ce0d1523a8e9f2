#include "sim/core/setup.h"

#include <algorithm>

#include "sim/controls/control_table.h"
#include "sim/phases/display_range.h"

namespace {

struct SetupValues {
    std::int32_t cellSize;
    std::int32_t stopTime;
};

// Reads what a set-up reads from text before anything is torn down.
SetupValues ReadSetupValues(const ControlState& controls)
{
    SetupValues values{};
    values.cellSize = ReadInteger(controls, &ControlState::Edit_size);
    values.stopTime = ReadInteger(controls, &ControlState::E_stop);
    // The panel keeps the size within 2..10; repeat it so no geometry can divide by zero.
    values.cellSize = std::clamp(values.cellSize, 2, 10);
    return values;
}

void BuildRun(Simulation& sim, const SetupValues& values)
{
    Run& run = sim.run;
    const ControlState& controls = sim.controls;
    run.ready = false;
    run.startSeed = sim.random.seed;
    run.drawCount = {0, sim.random.seed};
    run.editedByHand = false;
    run.drawingRecorded = sim.screen().PaintsCells();
    run.cellSize = values.cellSize;
    run.halfCell = HalfCell(run.cellSize);
    run.columns = CellsAlong(kPanelSize, run.cellSize);
    run.rows = CellsAlong(kPanelSize, run.cellSize);
    run.stopTime = values.stopTime;
    run.agents.clear();
    run.cells = TCellList(run.columns, run.rows);
    SizeRunStorage(run);
    if (controls.rb_direct) run.returnMode = ReturnMode::DirectWay;
    if (controls.rb_hillCl) run.returnMode = ReturnMode::UseExistingTracks;
    sim.screen().CreateLayers();
    CreateCells(sim);
    run.stepCount = 0;
    CreateDestinations(sim);
    sim.events().RunStarted();
    run.ready = true;
}

}  // namespace

void SizeRunStorage(Run& run)
{
    run.means.Resize(run.columns, run.rows);
    run.growthQueue.Reserve(run.cells.InPassOrder().size());
    run.homeHeadings.Resize(run.columns - 1, run.rows - 1);
    run.cellsToPaint.resize(run.cells.InPassOrder().size());
}

void InitRun(Simulation& sim)
{
    sim.events().StopRequested();
    const SetupValues values = ReadSetupValues(sim.controls);
    BuildRun(sim, values);
}

void B_setupClick(Simulation& sim)
{
    sim.events().StopRequested();
    const SetupValues values = ReadSetupValues(sim.controls);  // may refuse, old run untouched
    FreeRun(sim);
    BuildRun(sim, values);
}

void FormCreate(Simulation& sim)
{
    InitRun(sim);
    if (sim.controls.CB_FieldNr < 0 || sim.controls.CB_FieldNr > 2) sim.controls.CB_FieldNr = 0;
    ResetUsageTable(sim.controls, sim.usage);
    ReadUsageTable(sim.controls, sim.usage);
}

void FormDestroy(Simulation& sim)
{
    FreeRun(sim);
}

void FreeRun(Simulation& sim)
{
    Run& run = sim.run;
    run.ready = false;
    run.stepCount = 0;
    run.agents.clear();
    run.agents.shrink_to_fit();
    sim.screen().ReleaseLayers();
    run.cells.Clear();
    run.means.Clear();
}

void CreateCells(Simulation& sim)
{
    Run& run = sim.run;
    for (std::int32_t r = 0; r < run.rows; ++r)
        for (std::int32_t c = 0; c < run.columns; ++c)
            run.cells(c, r) = TCell(c * run.cellSize + run.halfCell, r * run.cellSize + run.halfCell, run.halfCell);
    run.cellsDisplayRange = {0.0L, 0.0L};  // as fresh cells hold it
    ResetCells(sim);
}

void ResetCells(Simulation& sim)
{
    for (TCell& cell : sim.run.cells.InPassOrder()) {
        cell.grayLevel = 255;
        cell.kind = kEmpty;
        cell.allTracks = 0.0;
        cell.returnTracks = 0.0;
        cell.lastDrawnAllTracks = 0.0;
        cell.agentCount = 0;
    }
    sim.run.landUse = {};
    sim.run.landUse[kEmpty] = sim.run.columns * sim.run.rows;
    sim.run.cellsDisplayRange.max = 1.0L;  // display min keeps its last copy
    sim.run.trackSummary.known = false;
    ComputeDisplayRange(sim);
    sim.screen().DrawCells();
}

void CreateDestinations(Simulation& sim)
{
    Run& run = sim.run;
    run.destinations.clear();
    for (std::int32_t i = 0; i < 10; ++i) {
        const std::int32_t c = sim.random.Random(run.columns);
        const std::int32_t r = sim.random.Random(run.rows);
        run.destinations.push_back(
            Destination{c * run.cellSize + run.halfCell, r * run.cellSize + run.halfCell, 0});
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                std::int32_t bc = c + dx;
                std::int32_t br = r + dy;
                WrapCoords(bc, br, run.columns, run.rows);
                TCell& cell = run.cells(bc, br);
                SetCellKind(run.landUse, cell, kDestination);
                cell.destinationIndex = i;
                double& industry = run.cells.Potential(bc, br, kIndustryField);
                industry = industry + 1.0;
                sim.screen().DrawCell(bc, br);
            }
        }
    }
}
