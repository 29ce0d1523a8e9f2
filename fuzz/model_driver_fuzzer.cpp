// Drives the simulation as a person at the window could: the input is a
// sequence of actions (texts typed into the edits, hostile ones among them,
// check boxes, radio buttons, scroll bars, the field chooser, usage-table edits,
// mouse gestures anywhere, new set-ups and time steps), each run through the
// handler the window runs for it, with conversion errors caught as the window
// catches them. After every action the run's invariants are checked.
//
// Work per input is bounded: the grid's cell size stays 6..10, at most 50
// agents, services or industry cells are created per step, and at most 24
// time steps run (so at most 1200 agents live).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/controls/control_handlers.h"
#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/controls/usage_table.h"
#include "sim/controls/world_editing.h"
#include "sim/core/setup.h"
#include "sim/core/statistics.h"
#include "sim/core/time_step.h"
#include "sim/phases/display_range.h"

namespace {

constexpr int kMaxSteps = 24;
constexpr std::int32_t kMaxCreatedPerStep = 50;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

void Check(bool holds, const char* what)
{
    if (!holds) Fail(what);
}

bool IsPercent(std::int32_t value) { return value >= 0 && value <= 100; }

// The screen's side of the contract: a drawn cell lies in the grid, and the
// plotted statistics describe the run as it stands.
class CheckingHooks : public ScreenHooks, public RunEvents {
public:
    const Simulation* sim = nullptr;

    void DrawCell(std::int32_t column, std::int32_t row) override
    {
        Check(sim->run.cells.Contains(column, row), "a cell drawn lies in the grid");
    }
    void DrawAgents(std::size_t first, std::size_t count) override
    {
        Check(first + count <= sim->run.agents.size(), "agents drawn are in the list");
    }
    void StepDone(const StepStatistics& s) override
    {
        Check(s.step == sim->run.stepCount, "the plotted step is the step count");
        Check(s.agents == static_cast<std::int32_t>(sim->run.agents.size()), "the plotted agents are the agents");
        Check(IsPercent(s.successful) && IsPercent(s.migrated) && IsPercent(s.returning),
              "plotted shares are percentages");
        Check(s.averageTravel >= 0, "the average travel is not negative");
    }
};

void CheckInvariants(const Simulation& sim)
{
    const Run& run = sim.run;
    for (const TAgent& agent : run.agents) {
        Check(agent.mode == kSearching || agent.mode == kReturning, "an agent searches or returns");
        Check(agent.success == 0 || agent.success == 1, "success is 0 or 1");
        Check(agent.migrated == 0 || agent.migrated == 1, "migrated is 0 or 1");
        Check(agent.travelSteps >= 0, "travel steps are not negative");
    }
    if (!run.ready) {
        Check(run.agents.empty(), "a run that is not ready has no agents");
        return;
    }
    Check(run.cellSize >= 2 && run.cellSize <= 10, "the cell size is 2..10");
    Check(run.columns == CellsAlong(kPanelSize, run.cellSize) && run.rows == run.columns, "the grid fits the panel");
    Check(run.cells.Columns() == run.columns && run.cells.Rows() == run.rows, "the cells are the grid");

    // Each cell counts exactly the agents standing on it.
    std::vector<std::int32_t> standing(run.cells.InPassOrder().size(), 0);
    for (const TAgent& agent : run.agents) {
        Check(run.cells.Contains(agent.column, agent.row), "an agent stands in the grid");
        Check(run.cells.Contains(agent.homeColumn, agent.homeRow), "an agent's home is in the grid");
        Check(agent.pixelX == agent.column * run.cellSize + run.halfCell &&
                  agent.pixelY == agent.row * run.cellSize + run.halfCell,
              "an agent's pixel is its cell's centre");
        standing[static_cast<std::size_t>(agent.row) * run.columns + agent.column] += 1;
    }
    std::size_t index = 0;
    for (const TCell& cell : run.cells.InPassOrder()) {
        Check(cell.kind >= kEmpty && cell.kind <= kIndustry, "a cell is of a defined kind");
        Check(cell.agentCount == standing[index], "a cell's agent count is the agents on it");
        ++index;
    }

    const StepStatistics s = ComputeStatistics(run);
    Check(IsPercent(s.successful) && IsPercent(s.migrated) && IsPercent(s.returning),
          "statistics shares are percentages");
}

// Texts typed into an edit: the usual values, and what a careless or hostile
// hand types.
const std::array<const char*, 32> kTexts = {
    "",    "-",         "+",           "abc",        "1e400",      "-1e400", "2147483647", "2147483648",
    " 12", "12 ",       "nan",         "inf",        "0x10",       "0",      "1",          "-5",
    "1,5", "0,5",       "0.99",        "1e-320",     "-2147483648", "3",     "10",         "180",
    "200", "999999999", "-999999999",  "1,0e2",      " ",          "1.",     ",5",         "1e308",
};

std::string TypedText(FuzzedDataProvider& in)
{
    if (in.ConsumeBool()) return kTexts[in.ConsumeIntegralInRange<std::size_t>(0, kTexts.size() - 1)];
    return in.ConsumeRandomLengthString(24);
}

// A panel pixel: mostly on or near the panel, sometimes anywhere at all.
std::int32_t PanelPixel(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.ConsumeIntegral<std::int32_t>();
    case 1: return in.ConsumeIntegralInRange<std::int32_t>(-30, -1);
    default: return in.ConsumeIntegralInRange<std::int32_t>(0, kPanelSize + 30);
    }
}

template <typename Handler>
void Guarded(Handler&& handler)
{
    try {
        handler();
    } catch (const ConversionError&) {
        // The window shows the message and goes on.
    }
}

bool ConvertsAbove(const std::string& text, std::int32_t limit)
{
    std::int32_t value = 0;
    return TryStrToInt(text, value) && value > limit;
}

bool ConvertsBelow(const std::string& text, std::int32_t limit)
{
    std::int32_t value = 0;
    return TryStrToInt(text, value) && value < limit;
}

// The cell-size check: a whole number ends within 2..10; any other text stays as typed.
void CheckCellSizeChange(const ControlState& c, const std::string& typed, bool failed)
{
    if (failed) {
        Check(c.Edit_size == typed, "a cell size that does not convert stays as typed");
        return;
    }
    const std::int32_t size = StrToInt(c.Edit_size);
    Check(size >= 2 && size <= 10, "the cell size text ends within 2..10");
    Check(c.Edit_size == typed || c.Edit_size == "2" || c.Edit_size == "10", "only a size out of range is replaced");
}

// Types a text into an edit of the control table, through the table as the window
// and the runner do, and checks what its change handler promises.
void TypeIntoEdit(Simulation& sim, const ControlDefinition& control, FuzzedDataProvider& in)
{
    ControlState& c = sim.controls;
    const std::string text = TypedText(in);
    const bool cellSizeCheck = control.onChange == &Edit_sizeChange;
    if (control.text == &ControlState::Edit_size && ConvertsBelow(text, 6)) return;  // a finer grid is too slow to fuzz
    if ((control.text == &ControlState::E_crAgs || (cellSizeCheck && control.text != &ControlState::Edit_size)) &&
        ConvertsAbove(text, kMaxCreatedPerStep))
        return;
    const std::string sizeBefore = control.text == &ControlState::Edit_size ? text : c.Edit_size;
    const std::int32_t stopBefore = sim.run.stopTime;
    bool failed = false;
    try {
        SetControlText(sim, control, text);
    } catch (const ConversionError&) {
        failed = true;
    }
    if (cellSizeCheck) CheckCellSizeChange(c, sizeBefore, failed);
    if (control.text == &ControlState::E_noise) Check(!c.E_noise.empty(), "the return noise is never empty");
    if (control.text == &ControlState::E_stop) {
        if (failed) Check(sim.run.stopTime == stopBefore, "a stop time that does not convert leaves the old one");
        else Check(sim.run.stopTime == StrToInt(text), "the stop time follows its text");
    }
}

// Changes one control of the table other than a usage cell, as a user would.
void ChangeControl(Simulation& sim, FuzzedDataProvider& in)
{
    std::vector<const ControlDefinition*> controls;
    for (const ControlDefinition& control : ControlTable())
        if (control.kind != ControlKind::UsageCell) controls.push_back(&control);
    const ControlDefinition& control = *controls[in.ConsumeIntegralInRange<std::size_t>(0, controls.size() - 1)];
    switch (control.kind) {
    case ControlKind::IntegerEdit:
    case ControlKind::RealEdit:
        TypeIntoEdit(sim, control, in);
        break;
    case ControlKind::CheckBox:
        Guarded([&] { SetControlChecked(sim, control, !(sim.controls.*control.checked)); });
        if (control.checked == &ControlState::Cb_allBlack)
            for (const TCell& cell : sim.run.cells.InPassOrder())
                Check(cell.allBlack == sim.controls.Cb_allBlack, "every cell holds the all-black flag");
        break;
    case ControlKind::RadioButton:
        Guarded([&] { SetControlChecked(sim, control, true); });
        Check(sim.controls.rb_rulette != sim.controls.rb_hill && sim.controls.rb_direct != sim.controls.rb_hillCl,
              "one button of each pair is on");
        break;
    case ControlKind::ScrollBar:
        SetControlNumber(sim, control, in.ConsumeIntegralInRange(kScrollMinimum, kScrollMaximum));
        break;
    case ControlKind::FieldChooser: {
        // The chooser: an item 0..2, or -1 once text is typed into it.
        const std::int32_t shown = sim.run.shownField;
        const std::int32_t item = in.ConsumeIntegralInRange(-1, 2);
        SetControlNumber(sim, control, item);
        Check(sim.run.shownField == (item >= 0 ? item : shown), "the last valid selection is the shown field");
        break;
    }
    case ControlKind::UsageCell:
        break;
    }
}

void EditUsageTable(Simulation& sim, FuzzedDataProvider& in)
{
    const int column = in.ConsumeIntegralInRange(1, 5);
    const int row = in.ConsumeIntegralInRange(1, 3);
    const std::string name = "StringGrid1." + std::to_string(column) + "." + std::to_string(row);
    WriteControl(sim.controls, *FindControl(name), TypedText(in));
    // The key release reads the table: each parameter takes its cell's value in
    // reading order, up to the first cell that does not convert.
    UsageParameters expected = sim.usage;
    const auto& grid = sim.controls.StringGrid1;
    std::vector<double*> order;
    std::vector<const std::string*> cells;
    for (int f = 0; f < 3; ++f) order.push_back(&expected.diffusion[f]), cells.push_back(&grid[1][f + 1]);
    for (int f = 0; f < 3; ++f)
        for (int k = 0; k < 3; ++k) order.push_back(&expected.weight[f][k]), cells.push_back(&grid[k + 2][f + 1]);
    for (int f = 0; f < 3; ++f) order.push_back(&expected.noise[f]), cells.push_back(&grid[5][f + 1]);
    bool allConvert = true;
    for (std::size_t i = 0; i < order.size() && allConvert; ++i) allConvert = TryStrToFloat(*cells[i], *order[i]);
    bool read = true;
    try {
        StringGrid1KeyUp(sim);
    } catch (const ConversionError&) {
        read = false;
    }
    Check(read == allConvert, "the table reads when every cell converts");
    Check(std::memcmp(&expected, &sim.usage, sizeof expected) == 0,
          "the parameters read before a failing cell change, it and the later ones do not");
}

// "new Setup": a refused set-up leaves the run as it was; a new one starts afresh.
void NewSetup(Simulation& sim)
{
    const Run& run = sim.run;
    const std::size_t agents = run.agents.size();
    const std::int32_t columns = run.columns, steps = run.stepCount;
    const bool ready = run.ready;
    try {
        B_setupClick(sim);
        Check(run.ready && run.agents.empty() && run.stepCount == 0, "a new set-up starts without agents at step 0");
        Check(run.destinations.size() == 10, "a new set-up has ten destinations");
    } catch (const ConversionError&) {
        Check(run.ready == ready && run.agents.size() == agents && run.columns == columns && run.stepCount == steps,
              "a refused set-up leaves the run as it was");
    }
}

void RunSteps(Simulation& sim, FuzzedDataProvider& in, int& stepsLeft)
{
    const int steps = std::min(stepsLeft, in.ConsumeIntegralInRange(1, 4));
    for (int i = 0; i < steps; ++i) {
        --stepsLeft;
        const std::size_t agents = sim.run.agents.size();
        const std::int32_t stepCount = sim.run.stepCount;
        try {
            TimeStep(sim);
        } catch (const ConversionError&) {
            Check(sim.run.stepCount == stepCount, "a failing step is not counted");
            break;  // the window stops its timer
        }
        if (sim.run.ready) {
            Check(sim.run.stepCount == stepCount + 1, "a step is counted once");
            // Agents are created only below the maximum, E_crAgs of them.
            const std::int64_t created =
                static_cast<std::int64_t>(agents) < StrToInt(sim.controls.Edit_anzAg)
                    ? std::max<std::int64_t>(StrToInt(sim.controls.E_crAgs), 0)
                    : 0;
            Check(static_cast<std::int64_t>(sim.run.agents.size()) == static_cast<std::int64_t>(agents) + created,
                  "a step creates E_crAgs agents below the maximum, none at it");
        }
        CheckInvariants(sim);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    CheckingHooks hooks;
    Simulation sim(&hooks, &hooks);
    hooks.sim = &sim;
    sim.controls.Edit_size = std::to_string(in.ConsumeIntegralInRange(6, 10));
    FormCreate(sim);
    CheckInvariants(sim);

    MouseEditingState mouse;
    int stepsLeft = kMaxSteps;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 12)) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: ChangeControl(sim, in); break;
        case 5: EditUsageTable(sim, in); break;
        case 6: Guarded([&] { ResetUsageTable(sim.controls, sim.usage); }); break;
        case 7: {
            const MouseButton button = static_cast<MouseButton>(in.ConsumeIntegralInRange(0, 2));
            const bool ctrl = in.ConsumeBool();
            const std::int32_t x = PanelPixel(in);
            MouseDown(sim, mouse, button, ctrl, x, PanelPixel(in));
            break;
        }
        case 8: {
            const std::int32_t x = PanelPixel(in);
            MouseMove(sim, mouse, x, PanelPixel(in));
            break;
        }
        case 9: MouseUp(mouse); break;
        case 10: NewSetup(sim); break;
        case 11: Guarded([&] { B_repaintClick(sim); }); break;
        default: RunSteps(sim, in, stepsLeft); break;
        }
        CheckInvariants(sim);
    }
    FormDestroy(sim);
    CheckInvariants(sim);
    return 0;
}
