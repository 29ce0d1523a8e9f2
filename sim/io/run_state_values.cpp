#include "sim/io/run_state_values.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "sim/controls/conversion.h"

namespace {

// Beyond this size a usage value may overflow a field within a step.
constexpr double kLargestTameUsage = 1e100;
// Fields are rescaled to 0..10 every step and grow between steps only by whole
// cells' +1; tracks grow by +1 and +10 a visit. Only steps abandoned one after the
// other (a control that does not convert, read after the diffusion) take fields
// further, and then far past this only on the way to overflowing. Below it, a
// step of tame settings stays within double's range.
constexpr double kLargestTameValue = 1e200;

// Whether any of the fifteen usage values meets the condition.
template <typename Condition>
bool AnyUsageValue(const UsageParameters& usage, Condition condition)
{
    for (double d : usage.diffusion)
        if (condition(d)) return true;
    for (const auto& row : usage.weight)
        for (double d : row)
            if (condition(d)) return true;
    for (double d : usage.noise)
        if (condition(d)) return true;
    return false;
}

// Tracks are laid in steps of +1 and +10 and then either rescaled to 0..255 or
// multiplied by the decay factor: only a factor outside 0..1 takes them below 0 or
// beyond any bound.
bool DecayIsTame(const ControlState& controls)
{
    double factor = 0.0;
    return TryStrToFloat(controls.E_decay, factor) && factor >= 0.0 && factor <= 1.0;
}

bool IsTame(double value)
{
    return value >= 0.0 && value <= kLargestTameValue;  // false for NaN
}

// A display range is finite, or the (-inf, +inf) it starts at when no cell is empty.
bool IsDisplayBound(long double value, long double unset)
{
    return std::isfinite(value) || value == unset;
}

bool IsPercent(std::int32_t value)
{
    return value >= 0 && value <= 100;
}

std::string At(std::size_t index, const Run& run)
{
    return " at cell (" + std::to_string(index % static_cast<std::size_t>(run.columns)) + ", " +
           std::to_string(index / static_cast<std::size_t>(run.columns)) + ")";
}

}  // namespace

std::optional<std::string> ImpossibleSavedValue(const ControlState& controls, const UsageParameters& usage,
                                                const Run& run, std::span<const StepStatistics> history)
{
    // The usage values are read from the table's texts, and a text that overflows does not convert.
    if (AnyUsageValue(usage, [](double d) { return !std::isfinite(d); }))
        return std::string("a usage value that is not a finite number");

    // Rescaling leaves no field below 0; only a negative usage value, in a step
    // abandoned before its rescaling, does.
    const bool fieldsMayGoNegative = AnyUsageValue(usage, [](double d) { return d < 0.0; });
    const bool fieldsMayOverflow = AnyUsageValue(usage, [](double d) { return std::fabs(d) > kLargestTameUsage; });
    const bool tracksMayStray = !DecayIsTame(controls);
    const auto& cells = run.cells.InPassOrder();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        for (double value : run.cells.PotentialsAt(i)) {
            if (!fieldsMayGoNegative && value < 0.0) return "a negative potential" + At(i, run);
            if (!fieldsMayOverflow && !(std::fabs(value) <= kLargestTameValue))
                return "a potential that is not a finite number, or beyond 1e200," + At(i, run);
        }
        if (tracksMayStray) continue;
        for (double track : {cells[i].allTracks, cells[i].returnTracks, cells[i].lastDrawnAllTracks})
            if (!IsTame(track)) return "a track value below 0, not finite or beyond 1e200," + At(i, run);
    }

    const auto cellCount = static_cast<std::int64_t>(cells.size());
    for (const StepStatistics& s : history) {
        const std::string row = " in the statistics of step " + std::to_string(s.step);
        if (s.step < 0 || s.step > run.stepCount) return "statistics of step " + std::to_string(s.step) + ", beyond the run's steps";
        if (s.agents < 0 || !IsPercent(s.successful) || !IsPercent(s.migrated) || !IsPercent(s.returning))
            return "a count or a percentage out of range" + row;
        for (std::int32_t count : s.landUse)
            if (count < 0 || count > cellCount) return "a land-use count out of range" + row;
    }

    // The sensing's sums follow from the tracks, the display range from the fields
    // or the tracks: where those may stray, so may these.
    if (tracksMayStray) return std::nullopt;
    for (std::size_t a = 0; a < run.agents.size(); ++a) {
        const TAgent& agent = run.agents[a];
        // A share may overflow where the noise all but cancels a subnormal track; it is never NaN.
        bool numbers = std::isfinite(agent.signalSum);
        for (double share : agent.shares) numbers = numbers && !std::isnan(share);
        if (!numbers) return "sensed signals that are not numbers of agent " + std::to_string(a);
    }
    if (fieldsMayOverflow) return std::nullopt;
    const auto inf = std::numeric_limits<long double>::infinity();
    if (!IsDisplayBound(run.displayMax, -inf) || !IsDisplayBound(run.displayMin, inf) ||
        !IsDisplayBound(run.cellsDisplayRange.max, -inf) || !IsDisplayBound(run.cellsDisplayRange.min, inf))
        return std::string("a display range that is not a finite number");
    for (const StepStatistics& s : history)
        if (!IsDisplayBound(s.maxMark, -std::numeric_limits<double>::infinity()))
            return "a max mark that is not a finite number in the statistics of step " + std::to_string(s.step);
    return std::nullopt;
}
