#include "app/run_state_files.h"

#include "app/input_file.h"

std::vector<StepStatistics> LoadStateFile(Simulation& sim, const std::string& path)
{
    std::string bytes;
    try {
        bytes = ReadWholeRegularFile(path, kMaxRunStateBytes, "a run state");
    } catch (const InputFileError& e) {
        throw StateFileError("--load-state " + path + ": " + e.what());
    }
    try {
        return DecodeRunState(sim, bytes);
    } catch (const RunStateError& e) {
        throw StateFileError("--load-state " + path + ": " + e.what());
    }
}

void WriteState(OutputFile& file, const Simulation& sim, std::span<const StepStatistics> history)
{
    const std::string bytes = EncodeRunState(sim, history);
    file.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.CheckWrites();
}
