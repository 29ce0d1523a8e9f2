#pragma once
#include <array>

#include "sim/controls/control_state.h"

// The fifteen usage parameters read from the usage table.
struct UsageParameters {
    std::array<double, 3> diffusion{};                // [field]
    std::array<std::array<double, 3>, 3> weight{};    // [receiving field][kind created: home, service, industry]
    std::array<double, 3> noise{};                    // [field]
};

// Writes the header and default texts into the table, then reads it.
void ResetUsageTable(ControlState& controls, UsageParameters& usage);

// Converts the fifteen data cells in reading order, storing each value right
// after its conversion; a cell that does not convert throws ConversionError
// and leaves it and all later parameters unchanged.
void ReadUsageTable(const ControlState& controls, UsageParameters& usage);
