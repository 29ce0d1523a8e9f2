#include "app/runner_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "sim/controls/control_table.h"
#include "sim/core/random_streams.h"
#include "sim/core/version.h"
#include "sim/io/statistics_csv.h"

namespace {

const std::string kVersion = std::string("landuse-headless ") + LandUseVersion();

// Every control of the table with its meaning, default and range, by panel page.
std::string ControlsHelp()
{
    std::ostringstream text;
    text << "\nWhole numbers are read in decimal; leading zeros are allowed (010 is ten).\n"
            "\nExit codes: 0 the run finished; 1 a batch of agents larger than the memory this process\n"
            "may use, or a file (stdout included) that cannot be written, checked before the first step\n"
            "where it can be; 2 a text that does not convert (the run ends there); 64 a mistake on the\n"
            "command line or in a params file, found before anything runs; 65 a --load-state file that\n"
            "cannot be loaded (unreadable, not a run state, damaged, another format version), found\n"
            "before any step; 128 + N the run was ended by signal N (SIGINT 130, SIGTERM 143, SIGHUP\n"
            "129), with its temporary files removed.\n"
            "\nControls (--set NAME=TEXT, or NAME=TEXT lines in a --params file). Edits take their text\n"
            "as typed, check boxes 0 or 1, radio buttons 1, scroll bars a position, usage-table cells\n"
            "StringGrid1.C.R (column C, row R) a real text:\n";
    std::optional<PanelPage> page;
    for (const ControlDefinition& control : ControlTable()) {
        if (page != control.page) {
            page = control.page;
            text << "\n  page \"" << PageTitle(control.page) << "\":\n";
        }
        text << "    " << control.name << " (" << KindName(control.kind) << ", default " << control.defaultValue;
        if (*control.range) text << ", " << control.range;
        text << ")\n        " << control.meaning << "\n";
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

// The ranges of the whole-number options.
constexpr std::uint64_t kMaxSteps = 2147483647;  // the step counter is a 32-bit integer
constexpr std::uint64_t kMaxSeed = 4294967295;   // a state of the 32-bit generator
constexpr std::uint64_t kMaxThreads = 2;

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
        every = app.add_option(everyName, everyText, what + " every N steps, 1..2147483647...")->type_name("N");
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

// What the command line gives as it was typed: the texts of the options read
// here rather than by CLI11, and the options whose presence counts.
struct TypedOptions {
    // Whole numbers are taken as text and read in decimal here: CLI11 would read
    // "010" as octal.
    std::string steps, seedText, replicateText, threads, patternsEvery, trackThreshold;
    std::vector<std::string> sets, tags;
    bool progressFlag = false, quietFlag = false;
    CLI::Option *seed = nullptr, *replicate = nullptr, *agents = nullptr, *cells = nullptr, *patterns = nullptr;
    CLI::Option *load = nullptr, *save = nullptr, *progress = nullptr, *quiet = nullptr;
    std::optional<PeriodicOutput> cellTables, pictures, states;
};

// The options of what runs, into `options` where CLI11 reads them, else into `raw`.
void AddRunOptions(CLI::App& app, RunnerOptions& options, TypedOptions& raw)
{
    app.add_option("--steps", raw.steps,
                   "time steps to run, 0..2147483647 (default: the stop time E_stop, or with --load-state\n"
                   "the steps left to it)")
        ->type_name("N");
    app.add_option("--params", options.paramsFiles, "NAME=TEXT lines applied in order before any --set")
        ->type_name("FILE")
        ->allow_extra_args(false);
    app.add_option("--set", raw.sets, "a control's value, as if typed into it (its change handler runs)")
        ->type_name("NAME=TEXT")
        ->allow_extra_args(false);
    raw.seed = app.add_option("--seed", raw.seedText,
                              "the generator's starting state, 0..4294967295 (default 0); seeds give no\n"
                              "guarantee that runs share no random numbers: use --replicate")
                   ->type_name("S");
    raw.replicate =
        app.add_option("--replicate", raw.replicateText,
                       "replicate K, 0..4294967295: the run starts bitreverse32(K) draws into the generator's\n"
                       "cycle (K = 0: seed 0), so N replicates share no random number while each run draws\n"
                       "fewer than 2^32 / 2N numbers (the first 64 lie 2^26 draws apart); runs with the same\n"
                       "K share their numbers on purpose")
            ->type_name("K");
    raw.seed->excludes(raw.replicate);
    app.add_option("--threads", raw.threads, "workers of the diffusion, 1..2 (default: 1)")
        ->type_name("N");
}

// The options of what a run writes and of where it starts, after those of
// AddRunOptions (--load-state excludes --seed and --replicate).
void AddOutputOptions(CLI::App& app, RunnerOptions& options, TypedOptions& raw)
{
    app.add_option("--stats", options.statsFile, "the statistics to FILE instead of stdout")->type_name("FILE");
    raw.agents =
        app.add_option("--agents", options.agentsFile, "the agents after the last step (to FILE if given)")
            ->type_name("[FILE]")
            ->expected(0, 1);
    raw.cells =
        app.add_option("--cells", options.cellsFile, "every cell after the last step (to FILE if given)")
            ->type_name("[FILE]")
            ->expected(0, 1);
    raw.cellTables.emplace(app, "--cells-every", "a cell table", "--cells-dir", "cells-STEP.csv", options.cellsDirectory);
    raw.pictures.emplace(app, "--pictures-every", "a picture of the drawing panel (404 x 404 PNG) at the start and",
                         "--pictures-dir", "picture-STEP.png", options.picturesDirectory);
    raw.patterns =
        app.add_option("--patterns", options.patternsFile,
                       "the pattern measures (patches, edges, aggregation, distances, track networks, arrivals)\n"
                       "to FILE, one row per measured step")
            ->type_name("FILE");
    app.add_option("--patterns-every", raw.patternsEvery, "measure the pattern every N steps, 1..2147483647 (default: after\n"
                                                      "the last step only)")
        ->type_name("N")
        ->needs(raw.patterns);
    app.add_option("--track-threshold", raw.trackThreshold,
                   "the all-tracks value from which a cell counts as a track cell (default " +
                       DefaultText(PatternSettings{}.trackThreshold) + ")")
        ->type_name("T")
        ->needs(raw.patterns);
    raw.load =
        app.add_option("--load-state", options.loadState,
                       "start from the run state in FILE instead of the set-up; --params and --set then change\n"
                       "controls as if typed into the panel (the generator's state is the file's)")
            ->type_name("FILE");
    raw.load->excludes(raw.seed);
    raw.load->excludes(raw.replicate);
    raw.save =
        app.add_option("--save-state", options.saveState, "the run state after the last step to FILE")->type_name("FILE");
    raw.states.emplace(app, "--save-state-every", "a run state", "--state-dir", "state-STEP.lus", options.stateDirectory);
    app.add_option("--tag", raw.tags, "a leading column KEY on every statistics row (each KEY once, no statistics column)")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
    raw.progress =
        app.add_flag("--progress", raw.progressFlag, "a progress line on stderr (default: when it is a terminal)");
    raw.quiet = app.add_flag("--no-progress", raw.quietFlag, "no progress line");
    raw.progress->excludes(raw.quiet);
    app.add_flag("--print-params", options.printParams,
                 "print every control's value in effect as a params file instead of running");
}

// The typed texts read and checked into `options`.
void ReadTypedOptions(const CLI::App& app, const TypedOptions& raw, RunnerOptions& options)
{
    if (app.count("--steps")) options.steps = static_cast<std::int64_t>(ParseDecimal("--steps", raw.steps, 0, kMaxSteps));
    raw.cellTables->Read(options.cellsEvery, options.cellsDirectory);
    raw.pictures->Read(options.picturesEvery, options.picturesDirectory);
    raw.states->Read(options.saveStateEvery, options.stateDirectory);
    if (raw.patterns->count() && options.patternsFile.empty()) throw UsageError("--patterns must name a file, found ''");
    if (app.count("--patterns-every"))
        options.patternsEvery = static_cast<std::int64_t>(ParseDecimal("--patterns-every", raw.patternsEvery, 1, kMaxSteps));
    if (app.count("--track-threshold")) options.trackThreshold = ParseFiniteReal("--track-threshold", raw.trackThreshold);
    if (raw.load->count() && options.loadState.empty()) throw UsageError("--load-state must name a file, found ''");
    if (raw.save->count() && options.saveState.empty()) throw UsageError("--save-state must name a file, found ''");
    for (const std::string& set : raw.sets) {
        ControlSetting setting;
        if (!SplitSetting(set, setting)) throw UsageError("--set takes NAME=TEXT, found '" + set + "'");
        options.sets.push_back(std::move(setting));
    }
    for (const std::string& tag : raw.tags) options.tags.push_back(SplitTag(tag));
    CheckTagKeys(options.tags);
    if (raw.replicate->count())
        options.seed = ReplicateSeed(static_cast<std::uint32_t>(ParseDecimal("--replicate", raw.replicateText, 0, kMaxSeed)));
    if (raw.seed->count()) options.seed = static_cast<std::uint32_t>(ParseDecimal("--seed", raw.seedText, 0, kMaxSeed));
    if (app.count("--threads")) options.threads = static_cast<int>(ParseDecimal("--threads", raw.threads, 1, kMaxThreads));
    options.agents = raw.agents->count() > 0;
    options.cells = raw.cells->count() > 0;
    if (raw.progress->count()) options.progress = true;
    if (raw.quiet->count()) options.progress = false;
}

}  // namespace

const char* const kRunnerUsage =
    "usage: landuse-headless [--steps N] [--params FILE]... [--set NAME=TEXT]... [--seed S | --replicate K]\n"
    "                        [--threads N] [--stats FILE] [--agents [FILE]] [--cells [FILE]]\n"
    "                        [--cells-every N --cells-dir DIR] [--pictures-every N --pictures-dir DIR]\n"
    "                        [--patterns FILE [--patterns-every N] [--track-threshold T]]\n"
    "                        [--load-state FILE] [--save-state FILE] [--save-state-every N --state-dir DIR]\n"
    "                        [--tag KEY=VALUE]... [--progress | --no-progress]\n"
    "                        [--print-params] [--help] [--version]\n";

ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options, std::ostream& out)
{
    CLI::App app("Runs the land-use model without the window and writes its statistics as CSV.", "landuse-headless");
    app.footer(ControlsHelp());
    app.set_version_flag("--version", kVersion);
    TypedOptions raw;
    AddRunOptions(app, options, raw);
    AddOutputOptions(app, options, raw);

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

    ReadTypedOptions(app, raw, options);
    return ParseOutcome::Run;
}
