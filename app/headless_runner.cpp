#include "headless_runner.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>

#include "control_handlers.h"
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
    "usage: landuse-headless [--steps N] [--set NAME=TEXT]... [--agents] [--cells] [--workers 1|2]\n";

// Prints every plotted step as a CSV line; everything else stays undrawn.
class StatisticsPrinter : public DrawingHooks {
public:
    explicit StatisticsPrinter(std::ostream& out) : out_(out) {}
    void PlotStatistics(const StepStatistics& s) override
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
    std::optional<int> workers;
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
        } else if (a == "--workers") {
            if (i + 1 >= arguments.size() || (arguments[i + 1] != "1" && arguments[i + 1] != "2"))
                throw UsageError("--workers takes 1 or 2");
            options.workers = arguments[++i] == "1" ? 1 : 2;
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

bool ParseFlag(const std::string& name, const std::string& text)
{
    if (text == "0") return false;
    if (text == "1") return true;
    throw UsageError(name + " takes 0 or 1");
}

std::int32_t ParseWhole(const std::string& name, const std::string& text)
{
    std::int32_t value = 0;
    if (!TryStrToInt(text, value)) throw UsageError(name + " takes a whole number");
    return value;
}

using UsageOverride = std::pair<std::pair<int, int>, std::string>;

// Applies one --set as if the user had changed that control, running its change handler.
void ApplySet(Simulation& sim, const std::string& name, const std::string& text, std::vector<UsageOverride>& overrides)
{
    ControlState& c = sim.controls;
    std::map<std::string, std::string*> plainEdits = {
        {"Edit_anzAg", &c.Edit_anzAg}, {"E_crAgs", &c.E_crAgs}, {"E_decay", &c.E_decay},
        {"E_CProbab", &c.E_CProbab}, {"E_migTh", &c.E_migTh},  {"E_grav", &c.E_grav},
    };
    std::map<std::string, bool*> checkBoxes = {
        {"CB_decay", &c.CB_decay},     {"CB_migrate", &c.CB_migrate}, {"CB_showAB", &c.CB_showAB},
        {"CB_potField", &c.CB_potField}, {"cb_noDesti", &c.cb_noDesti}, {"CB_noTracks", &c.CB_noTracks},
        {"CB_showOrig", &c.CB_showOrig}, {"CB_showAg", &c.CB_showAg},   {"Cb_allBlack", &c.Cb_allBlack},
        {"CB_gravity", &c.CB_gravity},
    };

    if (auto edit = plainEdits.find(name); edit != plainEdits.end()) {
        *edit->second = text;
    } else if (name == "Edit_size" || name == "E_crServ" || name == "E_crIndu") {
        (name == "Edit_size" ? c.Edit_size : name == "E_crServ" ? c.E_crServ : c.E_crIndu) = text;
        Edit_sizeChange(c);
    } else if (name == "E_noise") {
        c.E_noise = text;
        E_noiseChange(c);
    } else if (name == "E_stop") {
        c.E_stop = text;
        E_stopChange(sim);
    } else if (auto box = checkBoxes.find(name); box != checkBoxes.end()) {
        *box->second = ParseFlag(name, text);
    } else if (name == "rb_rulette" || name == "rb_hill" || name == "rb_direct" || name == "rb_hillCl") {
        if (text != "1") throw UsageError(name + " takes 1");
        if (name == "rb_rulette" || name == "rb_hill") {
            c.rb_rulette = name == "rb_rulette";
            c.rb_hill = !c.rb_rulette;
        } else {
            c.rb_direct = name == "rb_direct";
            c.rb_hillCl = !c.rb_direct;
            RadioGroup2Click(sim);
        }
    } else if (name == "TrB_thresh" || name == "SB_wiggle") {
        // A scroll bar holds only positions within its range.
        const std::int32_t position = ParseWhole(name, text);
        if (position < kScrollMinimum || position > kScrollMaximum)
            throw UsageError(name + " takes a position 0..180");
        (name == "TrB_thresh" ? c.TrB_thresh : c.SB_wiggle) = position;
    } else if (name == "CB_FieldNr") {
        const std::int32_t item = ParseWhole(name, text);
        if (item < 0 || item > 2) throw UsageError("CB_FieldNr takes an item index 0..2");
        c.CB_FieldNr = item;
    } else if (name.rfind("StringGrid1.", 0) == 0) {
        int column = 0, row = 0;
        char tail = 0;
        if (std::sscanf(name.c_str(), "StringGrid1.%d.%d%c", &column, &row, &tail) != 2 || column < 1 ||
            column > 5 || row < 1 || row > 3)
            throw UsageError("usage-table cells are StringGrid1.C.R with C 1..5 and R 1..3");
        overrides.push_back({{column, row}, text});
    } else {
        throw UsageError("unknown control '" + name + "'");
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

void SetUpFromSettings(Simulation& sim, const std::vector<std::pair<std::string, std::string>>& settings)
{
    std::vector<UsageOverride> overrides;
    for (const auto& [name, text] : settings) ApplySet(sim, name, text, overrides);
    FormCreate(sim);
    if (!overrides.empty()) {
        for (const auto& [cell, text] : overrides) sim.controls.StringGrid1[cell.first][cell.second] = text;
        ReadUsageTable(sim.controls, sim.usage);
    }
}

int RunHeadless(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    StatisticsPrinter printer(out);
    Simulation sim(&printer);
    try {
        const Options options = ParseOptions(arguments);
        CheckSets(options.sets);
        if (options.workers) sim.SetWorkerCount(*options.workers);
        SetUpFromSettings(sim, options.sets);

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
