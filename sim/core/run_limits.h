#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// The numeric limits of a run, named once here for the engine, the headless
// runner, the window and the Python package, and the one rule for how many
// steps a run takes.

// The step counter is a 32-bit signed integer: no run goes past this step.
inline constexpr std::int32_t kLargestStep = 2147483647;
// A seed is a state of the 32-bit generator: 0..kLargestSeed.
inline constexpr std::uint32_t kLargestSeed = 4294967295u;
// The diffusion runs on 1..kMostWorkers workers; every count gives the same run.
inline constexpr int kFewestWorkers = 1;
inline constexpr int kMostWorkers = 2;

// A number of steps that cannot run, or no number where the stop time gives none.
class StepCountError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The steps a run takes, and why none run when the stop time leaves none.
struct StepDecision {
    std::int64_t steps = 0;
    std::string whyNone;  // "" unless a run at or past its stop time runs no step
};

// How many steps run from `stepCount`: `requested` when given (0.. the steps left
// before kLargestStep), else those left to the stop time. A run at or past its
// stop time runs none and says why. A stop time of 0 or less never stops a run
// (the step that would stop it never comes), so it gives no number: that, and a
// requested count out of range, throw StepCountError.
StepDecision DecideSteps(std::optional<std::int64_t> requested, std::int32_t stepCount, std::int32_t stopTime);
