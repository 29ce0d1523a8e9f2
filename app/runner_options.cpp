#include "runner_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "control_table.h"
#include "random_streams.h"
#include "version.h"

namespace {

const std::string kVersion = std::string("landuse-headless ") + LandUseVersion();

// Every control of the table with its meaning, default and range, by panel page.
std::string ControlsHelp()
{
    std::ostringstream text;
    text << "\nExit codes: 0 the run finished, 1 a batch of agents too large for memory or a file that\n"
            "cannot be written, 2 a text that does not convert (the run ends there), 64 a mistake on\n"
            "the command line.\n"
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

}  // namespace

const char* const kRunnerUsage =
    "usage: landuse-headless [--steps N] [--params FILE]... [--set NAME=TEXT]... [--seed S | --replicate K]\n"
    "                        [--threads N] [--stats FILE] [--agents [FILE]] [--cells [FILE]]\n"
    "                        [--cells-every N --cells-dir DIR] [--tag KEY=VALUE]... [--progress | --no-progress]\n"
    "                        [--print-params] [--help] [--version]\n";

ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options, std::ostream& out)
{
    CLI::App app("Runs the land-use model without the window and writes its statistics as CSV.", "landuse-headless");
    app.footer(ControlsHelp());
    app.set_version_flag("--version", kVersion);

    std::int64_t steps = 0;
    std::vector<std::string> sets;
    std::vector<std::string> tags;
    std::uint32_t seed = 0;
    std::uint32_t replicate = 0;
    int threads = 0;
    app.add_option("--steps", steps, "time steps to run (default: the stop time E_stop)")
        ->type_name("N")->check(CLI::NonNegativeNumber);
    app.add_option("--params", options.paramsFiles, "NAME=TEXT lines applied in order before any --set")
        ->type_name("FILE")
        ->allow_extra_args(false);
    app.add_option("--set", sets, "a control's value, as if typed into it (its change handler runs)")
        ->type_name("NAME=TEXT")
        ->allow_extra_args(false);
    auto* seedOption = app.add_option("--seed", seed, "the generator's starting state, 0..4294967295 (default 0)")
                           ->type_name("S");
    auto* replicateOption =
        app.add_option("--replicate", replicate, "replicate K: the seed is a well-mixing hash of K (K = 0: seed 0)")
            ->type_name("K");
    seedOption->excludes(replicateOption);
    app.add_option("--threads", threads, "workers of the diffusion, 1 or 2 (default: the CPUs this process may use)")
        ->type_name("N")
        ->check(CLI::Range(1, 2));
    app.add_option("--stats", options.statsFile, "the statistics to FILE instead of stdout")->type_name("FILE");
    auto* agentsOption =
        app.add_option("--agents", options.agentsFile, "the agents after the last step (to FILE if given)")
            ->type_name("[FILE]")
            ->expected(0, 1);
    auto* cellsOption =
        app.add_option("--cells", options.cellsFile, "every cell after the last step (to FILE if given)")
            ->type_name("[FILE]")
            ->expected(0, 1);
    auto* everyOption = app.add_option("--cells-every", options.cellsEvery, "a cell table every N steps...")
                            ->type_name("N")
                            ->check(CLI::PositiveNumber);
    auto* directoryOption =
        app.add_option("--cells-dir", options.cellsDirectory, "...into DIR, as cells-STEP.csv")->type_name("DIR");
    everyOption->needs(directoryOption);
    directoryOption->needs(everyOption);
    app.add_option("--tag", tags, "a leading column KEY on every statistics row")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false);
    bool progress = false;
    bool quiet = false;
    auto* progressOption =
        app.add_flag("--progress", progress, "a progress line on stderr (default: when it is a terminal)");
    auto* quietOption = app.add_flag("--no-progress", quiet, "no progress line");
    progressOption->excludes(quietOption);
    app.add_flag("--print-params", options.printParams,
                 "print every control's value in effect as a params file instead of running");

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

    if (app.count("--steps")) options.steps = steps;
    for (const std::string& set : sets) {
        ControlSetting setting;
        if (!SplitSetting(set, setting)) throw UsageError("--set takes NAME=TEXT, found '" + set + "'");
        options.sets.push_back(std::move(setting));
    }
    for (const std::string& tag : tags) options.tags.push_back(SplitTag(tag));
    options.seed = replicateOption->count() ? ReplicateSeed(replicate) : seed;
    if (app.count("--threads")) options.threads = threads;
    options.agents = agentsOption->count() > 0;
    options.cells = cellsOption->count() > 0;
    if (progressOption->count()) options.progress = true;
    if (quietOption->count()) options.progress = false;
    return ParseOutcome::Run;
}
