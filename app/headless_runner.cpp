#include "headless_runner.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "control_handlers.h"
#include "control_table.h"
#include "conversion.h"
#include "setup.h"
#include "statistics.h"
#include "time_step.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitOtherFailure = 1;
constexpr int kExitConversionError = 2;
constexpr int kExitUsageError = 64;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char* const kUsage =
    "usage: landuse-headless [--steps N] [--set NAME=TEXT]... [--agents] [--cells]\n";

// Prints every plotted step as a CSV line; everything else stays undrawn.
class StatisticsPrinter : public RunEvents {
public:
    explicit StatisticsPrinter(std::ostream& out) : out_(out) {}
    void StepDone(const StepStatistics& s) override
    {
        char line[160];
        std::snprintf(line, sizeof line, "%d,%d,%d,%d,%.17g,%d,%d\n", s.step, s.agents, s.successful,
                      s.averageTravel, s.maxMark, s.migrated, s.returning);
        out_ << line;
    }
private:
    std::ostream& out_;
};

struct Options {
    std::optional<std::int64_t> steps;
    std::vector<std::pair<std::string, std::string>> sets;
    bool agents = false;
    bool cells = false;
};

Options ParseOptions(const std::vector<std::string>& arguments)
{
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--agents") {
            options.agents = true;
        } else if (a == "--cells") {
            options.cells = true;
        } else if (a == "--steps" || a == "--set") {
            if (i + 1 >= arguments.size()) throw UsageError(a + " needs a value");
            const std::string& value = arguments[++i];
            if (a == "--steps") {
                std::int32_t n = 0;
                if (!TryStrToInt(value, n) || n < 0) throw UsageError("--steps takes a whole number of 0 or more");
                options.steps = n;
            } else {
                const auto eq = value.find('=');
                if (eq == std::string::npos || eq == 0) throw UsageError("--set takes NAME=TEXT");
                options.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
            }
        } else {
            throw UsageError("unknown argument '" + a + "'");
        }
    }
    return options;
}

using UsageOverride = std::pair<const ControlDefinition*, std::string>;

// Applies one --set as if the user had changed that control, running its change
// handler. Usage-table cells are kept back: the program's start writes the default
// table, so they are written after it and the table is read once.
void ApplySet(Simulation& sim, const std::string& name, const std::string& text, std::vector<UsageOverride>& overrides)
{
    const ControlDefinition* control = FindControl(name);
    if (!control) throw UsageError("unknown control '" + name + "'");
    try {
        if (control->kind == ControlKind::UsageCell) {
            WriteControl(sim.controls, *control, text);  // only to check the value
            overrides.emplace_back(control, text);
        } else {
            SetControl(sim, *control, text);
        }
    } catch (const ControlValueError& e) {
        throw UsageError(e.what());
    }
}

// Finds every command-line mistake among the --set arguments before anything runs,
// by applying them to a scratch program state; conversion errors come later, in order.
void CheckSets(const std::vector<std::pair<std::string, std::string>>& sets)
{
    Simulation scratch;
    std::vector<UsageOverride> overrides;
    for (const auto& [name, text] : sets) {
        try {
            ApplySet(scratch, name, text, overrides);
        } catch (const ConversionError&) {
        }
    }
}

void PrintAgents(const Run& run, std::ostream& out)
{
    out << "\nindex,column,row,home_column,home_row,mode,heading,travel_steps,success,migrated\n";
    char line[200];
    for (std::size_t i = 0; i < run.agents.size(); ++i) {
        const TAgent& a = run.agents[i];
        std::snprintf(line, sizeof line, "%zu,%d,%d,%d,%d,%d,%d,%d,%d,%d\n", i, a.column, a.row, a.homeColumn,
                      a.homeRow, a.mode, a.heading, a.travelSteps, a.success, a.migrated);
        out << line;
    }
}

void PrintCells(const Run& run, std::ostream& out)
{
    out << "\ncolumn,row,kind,all_tracks,return_tracks,population,service,industry,agents\n";
    char line[256];
    for (std::int32_t r = 0; r < run.rows; ++r) {
        for (std::int32_t c = 0; c < run.columns; ++c) {
            const TCell& cell = run.cells(c, r);
            std::snprintf(line, sizeof line, "%d,%d,%d,%.17g,%.17g,%.17g,%.17g,%.17g,%d\n", c, r, cell.kind,
                          cell.allTracks, cell.returnTracks, cell.potential[0], cell.potential[1],
                          cell.potential[2], cell.agentCount);
            out << line;
        }
    }
}

}  // namespace

int RunHeadless(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    StatisticsPrinter printer(out);
    Simulation sim(nullptr, &printer);
    try {
        const Options options = ParseOptions(arguments);
        CheckSets(options.sets);
        std::vector<UsageOverride> overrides;
        for (const auto& [name, text] : options.sets) ApplySet(sim, name, text, overrides);

        FormCreate(sim);
        if (!overrides.empty()) {
            for (const auto& [cell, text] : overrides) WriteControl(sim.controls, *cell, text);
            StringGrid1KeyUp(sim);
        }

        std::int64_t steps = sim.run.stopTime;
        if (options.steps) {
            steps = *options.steps;
        } else if (steps <= 0) {
            throw UsageError("the stop time " + std::to_string(steps) + " never stops the run: give --steps");
        }

        out << "step,agents,successful,avg_travel,max_mark,migrated,returning\n";
        for (std::int64_t i = 0; i < steps; ++i) TimeStep(sim);
        if (options.agents) PrintAgents(sim.run, out);
        if (options.cells) PrintCells(sim.run, out);
        out.flush();
        return kExitSuccess;
    } catch (const UsageError& e) {
        out.flush();
        err << "landuse-headless: " << e.what() << "\n" << kUsage;
        return kExitUsageError;
    } catch (const ConversionError& e) {
        // The message the window would show; the lines printed before it stay.
        out.flush();
        err << e.what() << "\n";
        return kExitConversionError;
    } catch (const std::exception& e) {
        // Any other failure of a step (a batch of agents too large for memory) ends the
        // run the same way, with its own exit code.
        out.flush();
        err << "landuse-headless: " << e.what() << "\n";
        return kExitOtherFailure;
    }
}
