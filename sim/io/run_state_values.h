#pragma once
#include <optional>
#include <span>
#include <string>

#include "sim/controls/control_state.h"
#include "sim/controls/usage_table.h"
#include "sim/core/simulation.h"
#include "sim/core/statistics.h"

// The values a saved run can hold, judged by the settings saved with it. A file
// whose checksum is right may still hold what no run writes (a NaN in a field, a
// negative track, a percentage of 300): loaded, such a value spreads over the
// grid and the run goes on silently wrong, so it is refused instead.
//
// Reals that only extreme settings reach are let through where the state's
// settings are extreme: potentials beyond 1e200 or not finite with a usage value
// beyond 1e100, negative ones with a negative usage value, tracks below 0 or beyond
// 1e200 with a decay factor outside 0..1 (or one that does not convert). A state
// that passes stays one that passes after a completed step.
//
// Returns what is wrong, or nothing when every value is one a run can write.
std::optional<std::string> ImpossibleSavedValue(const ControlState& controls, const UsageParameters& usage,
                                                const Run& run, std::span<const StepStatistics> history);
