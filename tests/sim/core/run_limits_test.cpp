#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "sim/core/run_limits.h"

// The one rule for how many steps a run takes, case by case: a requested count
// runs as asked within the step counter's range; without one a run goes to its
// stop time, and one at or past it runs none and says why.
TEST(RunLimits, StepsDecidedForNewAndLoadedRuns)
{
    constexpr std::int64_t kNone = -1;  // the decision throws
    const struct {
        const char* what;
        std::optional<std::int64_t> requested;
        std::int32_t stepCount, stopTime;
        std::int64_t steps;
        bool saysWhyNone;
    } cases[] = {
        {"a new run to its stop time", std::nullopt, 0, 800, 800, false},
        {"loaded before its stop time", std::nullopt, 4, 9, 5, false},
        {"loaded at its stop time", std::nullopt, 5, 5, 0, true},
        {"loaded past its stop time", std::nullopt, 8, 5, 0, true},
        {"a stop time of 0 never stops", std::nullopt, 0, 0, kNone, false},
        {"a negative stop time never stops", std::nullopt, 3, -3, kNone, false},
        {"requested, past the stop time", 7, 8, 5, 7, false},
        {"requested 0", 0, 8, 5, 0, false},
        {"requested with no stop time", 2, 0, 0, 2, false},
        {"requested to the last step", kLargestStep - 8, 8, 5, kLargestStep - 8, false},
        {"requested one past the last step", kLargestStep - 7, 8, 5, kNone, false},
        {"requested from the last step", 1, kLargestStep, 5, kNone, false},
        {"requested negative", -1, 0, 800, kNone, false},
        {"requested beyond 32 bits", std::numeric_limits<std::int64_t>::max(), 0, 800, kNone, false},
    };
    for (const auto& c : cases) {
        if (c.steps == kNone) {
            EXPECT_THROW(DecideSteps(c.requested, c.stepCount, c.stopTime), StepCountError) << c.what;
            continue;
        }
        const StepDecision decided = DecideSteps(c.requested, c.stepCount, c.stopTime);
        EXPECT_EQ(decided.steps, c.steps) << c.what;
        EXPECT_EQ(!decided.whyNone.empty(), c.saysWhyNone) << c.what;
        if (c.saysWhyNone) {
            EXPECT_NE(decided.whyNone.find("stop time " + std::to_string(c.stopTime)), std::string::npos) << c.what;
        }
    }
}
