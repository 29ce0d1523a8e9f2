#pragma once
#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/output_tables.h"
#include "app/params_file.h"
#include "sim/patterns/land_patterns.h"

// The headless runner's command line.
struct RunnerOptions {
    std::optional<std::int64_t> steps;
    std::vector<std::string> paramsFiles;
    std::vector<ControlSetting> sets;  // --set, in order
    std::uint32_t seed = 0;
    std::optional<int> threads;
    // A table goes to stdout when asked for without a file.
    bool agents = false;
    bool cells = false;
    std::string statsFile;
    std::string agentsFile;
    std::string cellsFile;
    std::int64_t cellsEvery = 0;
    std::string cellsDirectory;
    // Run states: one to start from instead of the set-up, one after the last step,
    // one every N steps into a folder.
    std::string loadState;
    std::string saveState;
    std::int64_t saveStateEvery = 0;
    std::string stateDirectory;
    // A picture of the panel at the start and every N steps into the folder; 0: none.
    std::int64_t picturesEvery = 0;
    std::string picturesDirectory;
    // The pattern measures into a file: every N steps, or after the last step alone (0).
    std::string patternsFile;
    std::int64_t patternsEvery = 0;
    double trackThreshold = PatternSettings{}.trackThreshold;
    Tags tags;
    std::optional<bool> progress;  // unset: on when stderr is a terminal
    bool printParams = false;
};

// A command-line mistake: the runner prints it with the usage and exits with 64.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What parsing asks of the runner besides a run.
enum class ParseOutcome { Run, Done };

// Parses the arguments (without the program name). --help and --version print to
// `out` and return Done. Mistakes throw UsageError.
ParseOutcome ParseRunnerOptions(const std::vector<std::string>& arguments, RunnerOptions& options, std::ostream& out);

// How to call the runner, for messages: the synopsis --help opens with, made from
// the option definitions.
std::string RunnerUsage();
