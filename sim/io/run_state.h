#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/simulation.h"
#include "sim/core/statistics.h"

// A whole run as one block of bytes, to go on with later bit for bit: the version
// of the program that wrote it, every control's text (the usage table's too), the
// generator's state, the usage parameters, the run-wide values, every field of
// every cell, the agents in list order, the destinations, and the statistics of
// the steps so far. Numbers are little-endian, reals are the very bits of their
// doubles and 80-bit extended values, and a CRC-32 of the payload closes the
// header, so a cut or changed file is refused, never run. Every record is
// described once, field by field, in run_state_records.h; the format's reference
// page (docs/reference/run-state-format.md) is made from it.

// Version 2 added whether the cells' drawing was recorded; version 1 files load as
// runs without a drawing record. Version 3 added the version of the program that
// wrote the file, first in the payload.
inline constexpr std::uint32_t kRunStateVersion = 3;
inline constexpr std::uint32_t kOldestRunStateVersion = 1;
inline constexpr std::size_t kRunStateHeaderSize = 24;
// The largest state file a loader reads: far above any grid's state (a 202 x 202
// grid with 100 000 agents takes 23 MiB), so a device or a huge file is refused.
inline constexpr std::size_t kMaxRunStateBytes = std::size_t{1} << 30;

// A file that is no run state this program can continue: cut short, changed,
// from another format version, or not a state file at all. The message says which.
class RunStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The run's state with the statistics of its steps so far. A run that is not set
// up (no first set-up yet, or torn down) throws RunStateError.
std::string EncodeRunState(const Simulation& sim, std::span<const StepStatistics> history);

// Replaces the simulation's controls, generator, usage parameters and run with
// those of the state and returns the saved statistics. Nothing is drawn and no
// event is sent: the caller shows the run as it needs. A state that cannot be
// read throws RunStateError and leaves the simulation as it was.
std::vector<StepStatistics> DecodeRunState(Simulation& sim, std::string_view bytes);

// The CRC-32 (as zlib and PNG compute it) the header holds for a payload.
std::uint32_t RunStateChecksum(std::string_view payload);
