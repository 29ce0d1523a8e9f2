#include "row_splitter.h"

#include <algorithm>
#include <chrono>

#include "usable_cpus.h"

namespace {

// How long a worker spins before it sleeps: longer than the serial phases
// between two passes of a step (movement, tracks, statistics), so that a run going
// flat out never pays for waking a sleeping thread, and short beside a step, so
// that a paced or stopped run soon leaves the core idle.
constexpr auto kSpinTime = std::chrono::microseconds(300);

// Waits until value differs from `old`: a spin first, since the next pass or the
// other half usually follows within microseconds, then asleep.
void AwaitChange(const std::atomic<std::uint32_t>& value, std::uint32_t old)
{
    const auto giveUp = std::chrono::steady_clock::now() + kSpinTime;
    for (;;) {
        // The clock is read once every 64 checks; a check is a pause long.
        for (int spin = 0; spin < 64; ++spin) {
            if (value.load(std::memory_order_acquire) != old) return;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= giveUp) break;
    }
    value.wait(old, std::memory_order_acquire);
}

}  // namespace

RowSplitter::RowSplitter() : workers_(std::min(UsableCpuCount(), 2)) {}

void RowSplitter::SetWorkerCount(int count)
{
    workers_ = std::clamp(count, 1, 2);
}

RowSplitter::~RowSplitter()
{
    if (helper_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        posted_.fetch_add(1, std::memory_order_release);
        posted_.notify_one();
        helper_.join();
    }
}

void RowSplitter::Run(std::int32_t rows, std::int32_t middle, PassFunction function, void* pass)
{
    if (workers_ < 2) {
        function(pass, 0, rows);
        return;
    }
    if (!helper_.joinable()) helper_ = std::thread([this] { HelperLoop(); });
    function_ = function;
    pass_ = pass;
    begin_ = middle;
    end_ = rows;
    const std::uint32_t ticket = posted_.fetch_add(1, std::memory_order_release) + 1;
    posted_.notify_one();
    function(pass, 0, middle);
    for (std::uint32_t seen = finished_.load(std::memory_order_acquire); seen != ticket;
         seen = finished_.load(std::memory_order_acquire))
        AwaitChange(finished_, seen);
}

void RowSplitter::HelperLoop()
{
    std::uint32_t done = 0;
    for (;;) {
        AwaitChange(posted_, done);
        const std::uint32_t ticket = posted_.load(std::memory_order_acquire);
        if (ticket == done) continue;
        if (stopping_.load(std::memory_order_acquire)) return;
        function_(pass_, begin_, end_);
        done = ticket;
        finished_.store(ticket, std::memory_order_release);
        finished_.notify_one();
    }
}
