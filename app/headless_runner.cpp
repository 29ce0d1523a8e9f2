#include "app/headless_runner.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

#include "app/fd_stream.h"
#include "app/output_checks.h"
#include "app/output_file.h"
#include "app/output_name.h"
#include "app/output_tables.h"
#include "app/params_file.h"
#include "app/run_state_files.h"
#include "app/runner_options.h"
#include "app/signal_cleanup.h"
#include "png/png_encoding.h"
#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/core/program_start.h"
#include "sim/core/run_limits.h"
#include "sim/core/time_step.h"
#include "sim/drawing/world_picture.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitOtherFailure = 1;
constexpr int kExitConversionError = 2;
constexpr int kExitUsageError = 64;
constexpr int kExitStateFileError = 65;

// Writes every step's statistics as a CSV line, and holds the last step's for the
// history that run states keep (gathered between steps: the step allocates nothing).
class StatisticsWriter : public RunEvents {
public:
    StatisticsWriter(std::ostream& out, const Tags& tags) : out_(out), tagValues_(TagColumns(tags, false)) {}
    void StepDone(const StepStatistics& s) override
    {
        WriteStatisticsLine(out_, tagValues_, s);
        last = s;
    }

    StepStatistics last;
    // The statistics so far, when run states are saved.
    bool keeping = false;
    std::vector<StepStatistics> history;

private:
    std::ostream& out_;
    const std::string tagValues_;
};

// A progress line on stderr, rewritten at most five times a second.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, std::int64_t steps) : err_(err), steps_(steps) {}

    void Show(std::int64_t done)
    {
        const auto now = Clock::now();
        if (done < steps_ && now - shown_ < std::chrono::milliseconds(200)) return;
        shown_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? done / seconds : 0.0;
        char line[160];
        std::snprintf(line, sizeof line, "\rlanduse-headless: step %lld of %lld, %.0f steps/s, %.0f s left   ",
                      static_cast<long long>(done), static_cast<long long>(steps_), rate,
                      rate > 0 ? (steps_ - done) / rate : 0.0);
        err_ << line << std::flush;
    }
    void Finish() { err_ << "\n" << std::flush; }

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& err_;
    std::int64_t steps_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shown_{};
};

// Finds every command-line mistake among the settings before anything runs;
// conversion errors come later, in order, in the real start.
void CheckSettings(const std::vector<ControlSetting>& settings)
{
    for (const ControlSetting& setting : settings) CheckControlValue(setting.name, setting.text);
}

std::vector<ControlSetting> CollectSettings(const RunnerOptions& options)
{
    std::vector<ControlSetting> settings;
    for (const std::string& path : options.paramsFiles) {
        try {
            for (ControlSetting& setting : ReadParamsFile(path)) settings.push_back(std::move(setting));
        } catch (const ParamsFileError& e) {
            throw UsageError(e.what());
        }
    }
    settings.insert(settings.end(), options.sets.begin(), options.sets.end());
    return settings;
}

// The panel as the window would show it after this step, as a PNG file.
void WritePicture(const std::string& directory, const Simulation& sim)
{
    const std::vector<std::uint8_t> png = EncodePng(WorldPixels(sim), kPictureSide, kPictureSide);
    OutputFile picture(StepFileName(directory, "picture", sim.run.stepCount, "png"));
    picture.stream().write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    picture.Commit();
}

// Every path the run will write is checked before anything runs.
void CheckOutputs(const RunnerOptions& options)
{
    std::vector<OutputTarget> targets = {{"--stats", options.statsFile}};
    if (options.agents) targets.push_back({"--agents", options.agentsFile});
    if (options.cells) targets.push_back({"--cells", options.cellsFile});
    if (!options.saveState.empty()) targets.push_back({"--save-state", options.saveState});
    if (!options.patternsFile.empty()) targets.push_back({"--patterns", options.patternsFile});
    CheckOutputTargets(targets);
    if (options.cellsEvery > 0) CheckOutputFolder("--cells-dir", options.cellsDirectory);
    if (options.picturesEvery > 0) CheckOutputFolder("--pictures-dir", options.picturesDirectory);
    if (options.saveStateEvery > 0) CheckOutputFolder("--state-dir", options.stateDirectory);
}

// The program's start, or a loaded run with the settings typed in after it.
// Pictures need the cells' drawing recorded, as the window records it: from the
// set-up on, or from the load. A loaded run that was recording goes on recording
// while it writes states, so they keep their drawing; one without a record,
// asked for pictures, starts one with every cell drawn afresh.
void StartRun(Simulation& sim, DrawingRecorder& recorder, const RunnerOptions& options,
              const std::vector<ControlSetting>& settings, StatisticsWriter& writer)
{
    if (options.loadState.empty()) {
        if (options.picturesEvery > 0) sim.SetScreen(&recorder);
        StartProgram(sim, settings);
        return;
    }
    std::vector<StepStatistics> history = LoadStateFile(sim, options.loadState);
    if (writer.keeping) writer.history = std::move(history);
    const bool savesStates = !options.saveState.empty() || options.saveStateEvery > 0;
    if (options.picturesEvery > 0 || (sim.run.drawingRecorded && savesStates)) {
        sim.SetScreen(&recorder);
        StartDrawingRecord(sim);
    }
    for (const ControlSetting& setting : settings) SetControl(sim, setting.name, setting.text);
}

// The steps to run, by the engine's one rule: --steps, else those left to the stop time.
StepDecision StepsToRun(const RunnerOptions& options, const Run& run)
{
    try {
        return DecideSteps(options.steps, run.stepCount, run.stopTime);
    } catch (const StepCountError& e) {
        throw UsageError(options.steps ? "--steps " + std::to_string(*options.steps) + ": " + e.what()
                                       : std::string(e.what()) + " with --steps");
    }
}

std::unique_ptr<OutputFile> OpenIfNamed(bool wanted, const std::string& path)
{
    if (!wanted || path.empty()) return nullptr;
    return std::make_unique<OutputFile>(path);
}

// Stops a run whose statistics cannot be written any more, rather than at its end;
// without a file they go to stdout.
void CheckStatisticsWritten(std::ostream& stats, const OutputFile* file)
{
    if (file) file->CheckWrites();
    else if (!stats.good()) throw std::runtime_error("cannot write stdout: " + WriteFailure(stats));
}

// --print-params: the controls as a params file, with the start they go on from.
void PrintParams(std::ostream& out, const ControlState& controls, const RunnerOptions& options)
{
    try {
        // The world of a loaded run is in its file, not in its controls.
        if (!options.loadState.empty()) {
            std::string path = options.loadState;  // on one comment line, whatever it holds
            std::replace(path.begin(), path.end(), '\n', '?');
            std::replace(path.begin(), path.end(), '\r', '?');
            out << "# the controls of the run in " << path << ", which goes on only from that file "
                << "(--load-state)\n";
        }
        WriteParams(out, controls, options.seed);
    } catch (const ParamsFileError& e) {
        throw UsageError(std::string("--print-params: ") + e.what());
    }
}

// One line of pattern measures of the run as it stands.
void WritePatterns(OutputFile& file, const Run& run, const RunnerOptions& options)
{
    WritePatternsLine(file.stream(), TagColumns(options.tags, false), run.stepCount,
                      MeasurePatterns(run, PatternSettings{options.trackThreshold}));
    file.CheckWrites();
}

// What falls due at a step's count: cell tables and states to their folders,
// pictures, lines of pattern measures.
void WriteStepOutputs(const RunnerOptions& options, const Simulation& sim, const std::vector<StepStatistics>& history,
                      OutputFile* patternsFile)
{
    const std::int32_t step = sim.run.stepCount;
    if (options.cellsEvery > 0 && step % options.cellsEvery == 0) {
        OutputFile snapshot(StepFileName(options.cellsDirectory, "cells", step, "csv"));
        WriteCells(snapshot.stream(), sim.run);
        snapshot.Commit();
    }
    if (options.saveStateEvery > 0 && step % options.saveStateEvery == 0) {
        OutputFile snapshot(StepFileName(options.stateDirectory, "state", step, "lus"));
        WriteState(snapshot, sim, history);
        snapshot.Commit();
    }
    if (options.picturesEvery > 0 && step % options.picturesEvery == 0) WritePicture(options.picturesDirectory, sim);
    if (patternsFile && options.patternsEvery > 0 && step % options.patternsEvery == 0)
        WritePatterns(*patternsFile, sim.run, options);
}

// The agents and cells tables of the run's end, to their files or to stdout,
// where tables sharing it are parted by an empty line.
void WriteEndTables(const RunnerOptions& options, const Run& run, OutputFile* agentsFile, OutputFile* cellsFile,
                    std::ostream& out, bool& stdoutUsed)
{
    const auto onStdout = [&](auto write) {
        if (stdoutUsed) out << "\n";
        write(out);
        stdoutUsed = true;
    };
    if (options.agents) {
        if (agentsFile) WriteAgents(agentsFile->stream(), run);
        else onStdout([&](std::ostream& o) { WriteAgents(o, run); });
    }
    if (options.cells) {
        if (cellsFile) WriteCells(cellsFile->stream(), run);
        else onStdout([&](std::ostream& o) { WriteCells(o, run); });
    }
}

// The steps to run by the model's one rule. A run at or past its stop time runs
// none and says why: not a mistake, its tables are written as with --steps 0.
std::int64_t StepsToRunSaid(const RunnerOptions& options, const Run& run, std::ostream& err)
{
    const StepDecision decided = StepsToRun(options, run);
    if (!decided.whyNone.empty()) err << "landuse-headless: " << decided.whyNone << " (--steps N runs N more)\n";
    return decided.steps;
}

// The files of a run appear together: a signal meanwhile waits for the last rename.
void CommitTogether(std::initializer_list<OutputFile*> files)
{
    const SignalsHeldBack heldBack;
    for (OutputFile* file : files)
        if (file) file->Commit();
}

int RunWithOptions(const RunnerOptions& options, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    const std::vector<ControlSetting> settings = CollectSettings(options);
    CheckSettings(settings);
    if (!options.printParams) CheckOutputs(options);

    // The statistics go to their file, or to stdout ahead of the other tables.
    const std::unique_ptr<OutputFile> statsFile = OpenIfNamed(!options.printParams, options.statsFile);
    std::ostream& stats = statsFile ? statsFile->stream() : out;
    StatisticsWriter writer(stats, options.tags);
    writer.keeping = !options.saveState.empty() || options.saveStateEvery > 0;
    Simulation sim(nullptr, &writer);
    // Without pictures nothing is recorded and nothing painted.
    DrawingRecorder recorder(sim);
    sim.random.seed = options.seed;
    if (options.threads) sim.SetWorkerCount(*options.threads);
    StartRun(sim, recorder, options, settings, writer);

    if (options.printParams) {
        PrintParams(out, sim.controls, options);
        return kExitSuccess;
    }
    const std::int64_t steps = StepsToRunSaid(options, sim.run, err);

    const std::unique_ptr<OutputFile> agentsFile = OpenIfNamed(options.agents, options.agentsFile);
    const std::unique_ptr<OutputFile> cellsFile = OpenIfNamed(options.cells, options.cellsFile);
    const std::unique_ptr<OutputFile> stateFile = OpenIfNamed(!options.saveState.empty(), options.saveState);
    const std::unique_ptr<OutputFile> patternsFile = OpenIfNamed(true, options.patternsFile);
    if (patternsFile) WritePatternsHeader(patternsFile->stream(), options.tags);

    WriteStatisticsHeader(stats, options.tags);
    bool stdoutUsed = !statsFile;
    std::optional<ProgressLine> progress;
    if (options.progress.value_or(errIsTerminal)) progress.emplace(err, steps);
    // A movie opens on the world as the run starts (set up, or as loaded). Cell
    // tables and states keep to their multiples of N: --cells and --save-state
    // with --steps 0 give the start's.
    if (options.picturesEvery > 0) WritePicture(options.picturesDirectory, sim);
    for (std::int64_t i = 0; i < steps; ++i) {
        TimeStep(sim);
        CheckStatisticsWritten(stats, statsFile.get());
        if (writer.keeping) writer.history.push_back(writer.last);
        WriteStepOutputs(options, sim, writer.history, patternsFile.get());
        if (progress) progress->Show(i + 1);
    }
    if (progress) progress->Finish();
    if (patternsFile && options.patternsEvery == 0) WritePatterns(*patternsFile, sim.run, options);
    WriteEndTables(options, sim.run, agentsFile.get(), cellsFile.get(), out, stdoutUsed);
    if (stateFile) WriteState(*stateFile, sim, writer.history);
    // A run whose stdout failed is no finished run: its files are not committed.
    out.flush();
    CheckStatisticsWritten(out, nullptr);
    CommitTogether({statsFile.get(), agentsFile.get(), cellsFile.get(), stateFile.get(), patternsFile.get()});
    return kExitSuccess;
}

int RunAndReport(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    try {
        RunnerOptions options;
        if (ParseRunnerOptions(arguments, options, out) == ParseOutcome::Done) return kExitSuccess;
        return RunWithOptions(options, out, err, errIsTerminal);
    } catch (const ControlValueError& e) {
        out.flush();
        err << "landuse-headless: " << e.what() << "\n" << RunnerUsage() << "Run with --help for more.\n";
        return kExitUsageError;
    } catch (const UsageError& e) {
        out.flush();
        err << "landuse-headless: " << e.what() << "\n" << RunnerUsage() << "Run with --help for more.\n";
        return kExitUsageError;
    } catch (const StateFileError& e) {
        out.flush();
        err << "landuse-headless: " << e.what() << "\n";
        return kExitStateFileError;
    } catch (const ConversionError& e) {
        // The message the window would show, with the control that held the text;
        // the lines printed before it stay.
        out.flush();
        err << "landuse-headless: ";
        if (!e.control().empty()) err << e.control() << ": ";
        err << e.what() << "\n";
        return kExitConversionError;
    } catch (const std::exception& e) {
        // Any other failure of a step (a batch of agents too large for memory) or of
        // a file ends the run the same way, with its own exit code.
        out.flush();
        err << "landuse-headless: " << e.what() << "\n";
        return kExitOtherFailure;
    }
}
}  // namespace

int RunHeadless(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    const int code = RunAndReport(arguments, out, err, errIsTerminal);
    // What was printed counts only once it is out: a full disk or a closed stdout
    // fails the run, whatever it printed. A run that failed already has said why.
    out.flush();
    if (out.good() || code != kExitSuccess) return code;
    err << "landuse-headless: cannot write stdout: " << WriteFailure(out) << "\n";
    return kExitOtherFailure;
}
