#include "app/signal_cleanup.h"

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <unistd.h>

namespace {

constexpr std::array<int, 4> kCleanupSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// A slot's path is written before the slot is marked in use, and the handler
// reads only slots in use, so it never sees a path half-copied.
struct TemporaryFileSlot {
    std::atomic<bool> inUse{false};
    char path[PATH_MAX];
};
std::array<TemporaryFileSlot, 16> temporaryFiles;

// While renames are held together, a signal is kept for their end. The handler
// may run on any thread, so this is a flag rather than a signal mask.
std::atomic<bool> holding{false};
std::atomic<int> heldSignal{0};

void RemoveListedFilesAndExit(int signal)
{
    for (TemporaryFileSlot& slot : temporaryFiles)
        if (slot.inUse.load(std::memory_order_acquire)) unlink(slot.path);
    _exit(128 + signal);
}

extern "C" void RemoveAndExit(int signal)
{
    if (holding.load()) {
        heldSignal.store(signal);
        if (holding.load()) return;  // else the holder has already looked
    }
    RemoveListedFilesAndExit(signal);
}

sigset_t CleanupSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kCleanupSignals) sigaddset(&set, signal);
    return set;
}

}  // namespace

void RemoveTemporaryFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = RemoveAndExit;
    action.sa_mask = CleanupSignalSet();  // one handler at a time
    action.sa_flags = SA_RESTART;
    for (const int signal : kCleanupSignals) {
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        // A signal ignored by whoever started the program (nohup's SIGHUP) stays ignored.
        if (previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

int ListTemporaryFile(const std::string& path)
{
    if (path.size() >= PATH_MAX) throw std::runtime_error("the path is too long: " + path);
    for (std::size_t i = 0; i < temporaryFiles.size(); ++i) {
        TemporaryFileSlot& slot = temporaryFiles[i];
        if (slot.inUse.load(std::memory_order_acquire)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.inUse.store(true, std::memory_order_release);
        return static_cast<int>(i);
    }
    throw std::runtime_error("too many temporary files at once");
}

void UnlistTemporaryFile(int slot)
{
    temporaryFiles.at(static_cast<std::size_t>(slot)).inUse.store(false, std::memory_order_release);
}

SignalsHeldBack::SignalsHeldBack() { holding.store(true); }

SignalsHeldBack::~SignalsHeldBack()
{
    holding.store(false);
    if (const int signal = heldSignal.exchange(0)) RemoveListedFilesAndExit(signal);
}
