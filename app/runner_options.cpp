#include "app/runner_options.h"

#include "app/runner_help_formatter.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>

#include "sim/controls/control_table.h"
#include "sim/core/random_streams.h"
#include "sim/core/run_limits.h"
#include "sim/core/version.h"
#include "sim/io/statistics_csv.h"

namespace {

const std::string kVersion = std::string("landuse-headless ") + LandUseVersion();

// Every control of the table with its meaning, default and range, by panel page.
std::string ControlsHelp()
{
    std::ostringstream text;
    text << "Whole numbers are read in decimal; leading zeros are allowed (010 is ten).\n"
            "\nExit codes: 0 the run finished; 1 a batch of agents larger than the memory this process\n"
            "may use, or a file (stdout included) that cannot be written, checked before the first step\n"
            "where it can be; 2 a text that does not convert (the run ends there); 64 a mistake on the\n"
            "command line or in a params file, found before anything runs; 65 a --load-state file that\n"
            "cannot be loaded (unreadable, not a run state, damaged, another format version), found\n"
            "before any step; 128 + N the run was ended by signal N (SIGINT 130, SIGTERM 143, SIGHUP\n"
            "129), with its temporary files removed.\n"
            "\nControls (--set NAME=TEXT, or NAME=TEXT lines in a --params file). Edits take their text\n"
            "as typed, check boxes 0 or 1, radio buttons 1, scroll bars a position, usage-table cells\n"
            "StringGrid1.C.R (column C, row R) a real text. Ranges marked \"refused\" are enforced: a value\n"
            "outside is refused when set (exit 64), or when the model reads it (exit 2). Ranges marked\n"
            "\"typically\" are the values the model is meant for and are not enforced: E_CProbab=5 runs\n"
            "and exits 0, as the window's panel would run it.\n";
    std::optional<PanelPage> page;
    for (const ControlDefinition& control : ControlTable()) {
        if (page != control.page) {
            page = control.page;
            text << "\n  page \"" << PageTitle(control.page) << "\":\n";
        }
        text << "    " << control.name << " (" << KindName(control.kind) << ", default " << control.defaultValue;
        if (*control.unit) text << "; unit: " << control.unit;
        text << ")\n        " << control.meaning << "\n";
        if (const std::string range = RangeText(control); !range.empty()) text << "        " << range << "\n";
    }
    return text.str();
}

std::pair<std::string, std::string> SplitTag(const std::string& argument)
{
    const auto eq = argument.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("--tag takes KEY=VALUE, found '" + argument + "'");
    return {argument.substr(0, eq), argument.substr(eq + 1)};
}

// A tag is a column of its own: a key that repeats, or names a column of the
// statistics, would leave two columns of one name (readers rename one of them).
void CheckTagKeys(const Tags& tags)
{
    std::vector<std::string> columns;
    std::istringstream header(kStatisticsCsvHeader);
    for (std::string column; std::getline(header, column, ',');) {
        if (!column.empty() && column.back() == '\n') column.pop_back();
        columns.push_back(column);
    }
    std::vector<std::string> keys;
    for (const auto& [key, value] : tags) {
        if (std::find(columns.begin(), columns.end(), key) != columns.end())
            throw UsageError("--tag " + key + "=...: the statistics already have a column '" + key + "'");
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            throw UsageError("--tag " + key + "=...: the key is given twice");
        keys.push_back(key);
    }
}

// The ranges of the whole-number options, as the engine names them.
constexpr std::uint64_t kMaxSteps = kLargestStep;
constexpr std::uint64_t kMaxSeed = kLargestSeed;
const std::string kStepsRange = "1.." + std::to_string(kMaxSteps);

// A whole number written in decimal, leading zeros allowed ("010" is ten), within
// min..max; anything else is refused with the option's range.
std::uint64_t ParseDecimal(const std::string& option, const std::string& text, std::uint64_t min, std::uint64_t max)
{
    const auto refuse = [&] {
        return UsageError(option + " must be " + std::to_string(min) + ".." + std::to_string(max) + ", found '" +
                          text + "'");
    };
    if (text.empty()) throw refuse();
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') throw refuse();
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > max || value > (max - digit) / 10) throw refuse();
        value = value * 10 + digit;
    }
    if (value < min) throw refuse();
    return value;
}

// A real as --help shows a default: its shortest form ("22", "0.5").
std::string DefaultText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A finite real in C's notation ("22", "0.5", "1e3"); anything else is refused.
double ParseFiniteReal(const std::string& option, const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value))
        throw UsageError(option + " must be a finite number, found '" + text + "'");
    return value;
}

// A table or file written every N steps into a folder: --X-every N with --X-dir DIR,
// each needing the other.
struct PeriodicOutput {
    std::string everyText;
    CLI::Option* every = nullptr;
    CLI::Option* folder = nullptr;

    PeriodicOutput(CLI::App& app, const std::string& everyName, const std::string& what, const std::string& folderName,
                   const std::string& fileNames, std::string& folderPath)
    {
        every = app.add_option(everyName, everyText, what + " every N steps, " + kStepsRange + "...")->type_name("N");
        folder = app.add_option(folderName, folderPath, "...into DIR, as " + fileNames)->type_name("DIR");
        every->needs(folder);
        folder->needs(every);
    }

    void Read(std::int64_t& steps, const std::string& folderPath) const
    {
        if (every->count())
            steps = static_cast<std::int64_t>(ParseDecimal(every->get_name(), everyText, 1, kMaxSteps));
        if (folder->count() && folderPath.empty()) throw UsageError(folder->get_name() + " must name a folder, found ''");
    }
};

// The groups of --help, in order.
const char* const kRunGroup = "Run";
const char* const kTablesGroup = "Statistics and tables";
const char* const kDuringGroup = "Files every N steps";
const char* const kStatesGroup = "Run states";
const char* const kProgramGroup = "Program";

// The runner's command line: every option with its description and group, bound
// to the texts and fields parsing fills.
struct RunnerCommandLine {
    CLI::App app{"Runs the land-use model without the window and writes its statistics as CSV.", "landuse-headless"};
    // Whole numbers are taken as text and read in decimal here: CLI11 would read
    // "010" as octal.
    std::string steps, seed, replicate, threads, patternsEvery, trackThreshold;
    std::vector<std::string> sets, tags;
    bool progress = false, quiet = false;
    CLI::Option *seedOption, *replicateOption, *agentsOption, *cellsOption, *patternsOption, *loadOption, *saveOption,
        *progressOption, *quietOption;
    std::optional<PeriodicOutput> cellTables, pictures, states;

    explicit RunnerCommandLine(RunnerOptions& options)
    {
        app.formatter(std::make_shared<RunnerHelpFormatter>());
        app.footer(ControlsHelp());
        // --help and --version come last, in the group of the program's own options.
        app.set_help_flag();
        AddRunOptions(options);
        AddTableOptions(options);
        AddStateOptions(options);
        AddProgramOptions(options);
    }

private:
    void AddRunOptions(RunnerOptions& options)
    {
        app.add_option("--steps", steps,
                       "time steps to run, 0.." + std::to_string(kMaxSteps) +
                           " (default: those left to the stop time E_stop;\n"
                           "a run, loaded or new, at or past its stop time runs none and says so on stderr)")
            ->type_name("N")
            ->group(kRunGroup);
        app.add_option("--params", options.paramsFiles, "NAME=TEXT lines applied in order before any --set")
            ->type_name("FILE")
            ->allow_extra_args(false)
            ->group(kRunGroup);
        app.add_option("--set", sets, "a control's value, as if typed into it (its change handler runs)")
            ->type_name("NAME=TEXT")
            ->allow_extra_args(false)
            ->group(kRunGroup);
        seedOption = app.add_option("--seed", seed,
                                    "the generator's starting state, 0.." + std::to_string(kMaxSeed) +
                                        " (default 0); seeds give no\n"
                                        "guarantee that runs share no random numbers: use --replicate")
                         ->type_name("S")
                         ->group(kRunGroup);
        replicateOption =
            app.add_option("--replicate", replicate,
                           "replicate K, 0.." + std::to_string(kMaxSeed) +
                               ": the run starts bitreverse32(K) draws into the generator's\n"
                               "cycle (K = 0: seed 0). The first N replicates start at least 2^32 / M draws\n"
                               "apart, M being N rounded up to a power of two (the first 64 exactly 2^26 apart),\n"
                               "so they share no random number while each run draws at most 2^32 / M numbers\n"
                               "(2^32 / 2N always suffices). The default run draws 36.4 million: 64 replicates of\n"
                               "it share none, 128 would. Runs with the same K share their numbers on purpose")
                ->type_name("K")
                ->group(kRunGroup);
        seedOption->excludes(replicateOption);
        app.add_option("--threads", threads,
                       "workers of the diffusion, " + std::to_string(kFewestWorkers) + ".." +
                           std::to_string(kMostWorkers) + " (default: 1); every count gives the same run")
            ->type_name("N")
            ->group(kRunGroup);
    }

    void AddTableOptions(RunnerOptions& options)
    {
        app.add_option("--stats", options.statsFile, "the statistics to FILE instead of stdout")
            ->type_name("FILE")
            ->group(kTablesGroup);
        agentsOption = app.add_option("--agents", options.agentsFile, "the agents after the last step (to FILE if given)")
                           ->type_name("[FILE]")
                           ->expected(0, 1)
                           ->group(kTablesGroup);
        cellsOption = app.add_option("--cells", options.cellsFile, "every cell after the last step (to FILE if given)")
                          ->type_name("[FILE]")
                          ->expected(0, 1)
                          ->group(kTablesGroup);
        patternsOption =
            app.add_option("--patterns", options.patternsFile,
                           "the pattern measures (patches, edges, aggregation, distances, track networks,\n"
                           "arrivals) to FILE, one row per measured step")
                ->type_name("FILE")
                ->group(kTablesGroup);
        app.add_option("--patterns-every", patternsEvery,
                       "measure the pattern every N steps, " + kStepsRange + " (default: after the last step only)")
            ->type_name("N")
            ->needs(patternsOption)
            ->group(kTablesGroup);
        app.add_option("--track-threshold", trackThreshold,
                       "the all-tracks value from which a cell counts as a track cell (default " +
                           DefaultText(PatternSettings{}.trackThreshold) + ")")
            ->type_name("T")
            ->needs(patternsOption)
            ->group(kTablesGroup);
        app.add_option("--tag", tags, "a leading column KEY on every statistics row (each KEY once, no statistics\n"
                                      "column)")
            ->type_name("KEY=VALUE")
            ->allow_extra_args(false)
            ->group(kTablesGroup);
        cellTables.emplace(app, "--cells-every", "a cell table", "--cells-dir", "cells-STEP.csv",
                           options.cellsDirectory);
        pictures.emplace(app, "--pictures-every", "a picture of the drawing panel (404 x 404 PNG) at the start\nand",
                         "--pictures-dir", "picture-STEP.png", options.picturesDirectory);
        for (CLI::Option* o : {cellTables->every, cellTables->folder, pictures->every, pictures->folder})
            o->group(kDuringGroup);
    }

    void AddStateOptions(RunnerOptions& options)
    {
        loadOption =
            app.add_option("--load-state", options.loadState,
                           "start from the run state in FILE instead of the set-up; --params and --set then\n"
                           "change controls as if typed into the panel (the generator's state is the file's)")
                ->type_name("FILE")
                ->group(kStatesGroup);
        loadOption->excludes(seedOption);
        loadOption->excludes(replicateOption);
        saveOption = app.add_option("--save-state", options.saveState, "the run state after the last step to FILE")
                         ->type_name("FILE")
                         ->group(kStatesGroup);
        states.emplace(app, "--save-state-every", "a run state", "--state-dir", "state-STEP.lus",
                       options.stateDirectory);
        states->every->group(kStatesGroup);
        states->folder->group(kStatesGroup);
    }

    void AddProgramOptions(RunnerOptions& options)
    {
        progressOption = app.add_flag("--progress", progress, "a progress line on stderr (default: when it is a terminal)")
                             ->group(kProgramGroup);
        quietOption = app.add_flag("--no-progress", quiet, "no progress line")->group(kProgramGroup);
        progressOption->excludes(quietOption);
        app.add_flag("--print-params", options.printParams,
                     "print every control's value in effect as a params file instead of running")
            ->group(kProgramGroup);
        app.set_help_flag("-h,--help", "this text, then exit")->group(kProgramGroup);
        app.set_version_flag("--version", kVersion, "the program's version, then exit")->group(kProgramGroup);
    }
};

}  // namespace

std::string RunnerUsage()
{
    RunnerOptions options;
    const RunnerCommandLine commandLine(options);
    return RunnerHelpFormatter::UsageSynopsis(commandLine.app, commandLine.app.get_name());
}

ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options, std::ostream& out)
{
    RunnerCommandLine commandLine(options);
    CLI::App& app = commandLine.app;
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return ParseOutcome::Done;
    } catch (const CLI::CallForVersion&) {
        out << kVersion << "\n";
        return ParseOutcome::Done;
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }

    const RunnerCommandLine& c = commandLine;
    if (app.count("--steps")) options.steps = static_cast<std::int64_t>(ParseDecimal("--steps", c.steps, 0, kMaxSteps));
    c.cellTables->Read(options.cellsEvery, options.cellsDirectory);
    c.pictures->Read(options.picturesEvery, options.picturesDirectory);
    c.states->Read(options.saveStateEvery, options.stateDirectory);
    if (c.patternsOption->count() && options.patternsFile.empty())
        throw UsageError("--patterns must name a file, found ''");
    if (app.count("--patterns-every"))
        options.patternsEvery = static_cast<std::int64_t>(ParseDecimal("--patterns-every", c.patternsEvery, 1, kMaxSteps));
    if (app.count("--track-threshold")) options.trackThreshold = ParseFiniteReal("--track-threshold", c.trackThreshold);
    if (c.loadOption->count() && options.loadState.empty()) throw UsageError("--load-state must name a file, found ''");
    if (c.saveOption->count() && options.saveState.empty()) throw UsageError("--save-state must name a file, found ''");
    for (const std::string& set : c.sets) {
        ControlSetting setting;
        if (!SplitSetting(set, setting)) throw UsageError("--set takes NAME=TEXT, found '" + set + "'");
        options.sets.push_back(std::move(setting));
    }
    for (const std::string& tag : c.tags) options.tags.push_back(SplitTag(tag));
    CheckTagKeys(options.tags);
    if (c.replicateOption->count())
        options.seed = ReplicateSeed(static_cast<std::uint32_t>(ParseDecimal("--replicate", c.replicate, 0, kMaxSeed)));
    if (c.seedOption->count()) options.seed = static_cast<std::uint32_t>(ParseDecimal("--seed", c.seed, 0, kMaxSeed));
    if (app.count("--threads"))
        options.threads = static_cast<int>(ParseDecimal("--threads", c.threads, kFewestWorkers, kMostWorkers));
    options.agents = c.agentsOption->count() > 0;
    options.cells = c.cellsOption->count() > 0;
    if (c.progressOption->count()) options.progress = true;
    if (c.quietOption->count()) options.progress = false;
    return ParseOutcome::Run;
}
