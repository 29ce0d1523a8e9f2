#pragma once
#include <cstdint>

struct StepStatistics;

// What a run tells whoever drives it: the owner of the timer, the step label and
// the chart in the window, the output tables of the headless runner. Nothing is
// read back.
class RunEvents {
public:
    virtual ~RunEvents() = default;

    // Set-up and the stop time ask for the timer to stop.
    virtual void StopRequested() {}
    // A new run was set up: its statistics start afresh.
    virtual void RunStarted() {}
    // A step was counted; the step's statistics follow with StepDone.
    virtual void StepCounted(std::int32_t /*stepCount*/) {}
    virtual void StepDone(const StepStatistics& /*statistics*/) {}
};
