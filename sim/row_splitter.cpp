#include "row_splitter.h"

#include <algorithm>

#include "usable_cpus.h"

namespace {

// Waits until value differs from `old`: a short spin first, since the next pass
// or the other half usually follows within microseconds, then asleep.
void AwaitChange(const std::atomic<std::uint32_t>& value, std::uint32_t old)
{
    for (int spin = 0; spin < 2000; ++spin) {
        if (value.load(std::memory_order_acquire) != old) return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
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
