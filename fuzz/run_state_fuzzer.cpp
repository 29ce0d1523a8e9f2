// Loads arbitrary bytes as a run state. The first byte picks how: even, the rest
// is taken as a whole file; odd, the rest is a payload given a correct header
// (magic, version, length, checksum), so that the checks of the payload itself
// are reached rather than stopped by the checksum, values as well as structure. A
// state that loads must save to the very bytes it was loaded from (but for the
// writer's version, which a save makes this program's; a file of an older format
// version saves as the current one, which must then save to itself), and run two
// time steps without fault into a run that holds only values a state may hold: a
// value the loader let through that a step turns into a NaN or an overflow shows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/controls/control_table.h"
#include "sim/controls/conversion.h"
#include "sim/core/statistics.h"
#include "sim/core/time_step.h"
#include "sim/core/version.h"
#include "sim/io/run_state.h"
#include "sim/io/run_state_values.h"
#include "sim/phases/growth.h"

namespace {

std::string WithHeader(const std::uint8_t* payload, std::size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(payload), size);
    const std::uint32_t version = kRunStateVersion, checksum = RunStateChecksum(body);
    const std::uint64_t length = size;
    std::string file("\x89LUS\r\n\x1a\n", 8);
    file.append(reinterpret_cast<const char*>(&version), 4);
    file.append(reinterpret_cast<const char*>(&length), 8);
    file.append(reinterpret_cast<const char*>(&checksum), 4);
    file.append(body);
    return file;
}

// The state as this program saves it: its writer's version text, first in the
// payload, made this program's.
std::string AsSavedHere(const std::string& state)
{
    std::uint32_t writerBytes;
    std::memcpy(&writerBytes, state.data() + kRunStateHeaderSize, sizeof writerBytes);
    const std::string writer = LandUseVersion();
    const auto size = static_cast<std::uint32_t>(writer.size());
    std::string payload(reinterpret_cast<const char*>(&size), sizeof size);
    payload += writer;
    payload.append(state, kRunStateHeaderSize + sizeof writerBytes + writerBytes);
    return WithHeader(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::string bytes = data[0] % 2 == 0 ? std::string(reinterpret_cast<const char*>(data + 1), size - 1)
                                               : WithHeader(data + 1, size - 1);
    Simulation sim;
    try {
        const std::vector<StepStatistics> history = DecodeRunState(sim, bytes);
        const std::string saved = EncodeRunState(sim, history);
        std::uint32_t version;
        std::memcpy(&version, bytes.data() + 8, sizeof version);
        Simulation again;
        const std::vector<StepStatistics> back = DecodeRunState(again, saved);
        if ((version == kRunStateVersion && saved != AsSavedHere(bytes)) || EncodeRunState(again, back) != saved) {
            std::fprintf(stderr, "a loaded state saves to other bytes\n");
            std::abort();
        }
    } catch (const RunStateError&) {
        return 0;
    }
    // Bounded work per input: a few new agents and cells a step.
    for (const char* name : {"E_crAgs", "E_crServ", "E_crIndu"}) SetControl(sim, name, "2");
    bool stepsCompleted = true;
    std::vector<StepStatistics> history;
    for (int i = 0; i < 2; ++i) {
        try {
            TimeStep(sim);
            history.push_back(ComputeStatistics(sim.run));
        } catch (const ConversionError&) {
            stepsCompleted = false;
        } catch (const GrowthError&) {
            stepsCompleted = false;
        }
    }
    // A step abandoned halfway leaves its fields unscaled, as it would in any run.
    if (stepsCompleted) {
        if (const auto impossible = ImpossibleSavedValue(sim.controls, sim.usage, sim.run, history)) {
            std::fprintf(stderr, "a loaded state stepped into %s\n", impossible->c_str());
            std::abort();
        }
    }
    return 0;
}
