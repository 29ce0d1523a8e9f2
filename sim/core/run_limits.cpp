#include "sim/core/run_limits.h"

StepDecision DecideSteps(std::optional<std::int64_t> requested, std::int32_t stepCount, std::int32_t stopTime)
{
    const std::int64_t left = std::int64_t{kLargestStep} - stepCount;
    if (requested) {
        if (*requested < 0 || *requested > left)
            throw StepCountError("the step count is " + std::to_string(stepCount) + " and ends at " +
                                 std::to_string(kLargestStep) + ": a run takes 0.." + std::to_string(left) +
                                 " steps");
        return {*requested, ""};
    }
    if (stopTime <= 0)
        throw StepCountError("the stop time " + std::to_string(stopTime) +
                             " never stops the run: give the number of steps");
    if (stepCount >= stopTime)
        return {0, "the run is at step " + std::to_string(stepCount) + (stepCount == stopTime ? ", its" : ", past its") +
                       " stop time " + std::to_string(stopTime) + ": no step runs"};
    return {std::int64_t{stopTime} - stepCount, ""};
}
