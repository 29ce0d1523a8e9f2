#include "sim/parallel/row_splitter.h"

#include <algorithm>
#include <limits>
#include <system_error>

#include "sim/core/run_limits.h"

namespace {

// How long the caller spins for a block the helper has claimed before it sleeps:
// about one block of the diffusion, so a running helper is met without a wake-up,
// while a helper that lost its core leaves the caller's core to it soon.
constexpr auto kBlockWaitSpin = std::chrono::microseconds(60);

// A wait this long for a block the helper holds means the helper lost its core
// mid-block (a block takes tens of microseconds): the machine is busy, and the
// caller then runs this many passes alone before it asks the helper again.
constexpr auto kHelperStalled = std::chrono::microseconds(500);
constexpr int kBenchedPasses = 256;

// A helper that ran fewer blocks than this over a window of passes arrives too late
// to help (its core is taken): the caller then runs the next passes alone, sparing
// the wake-ups, and asks the helper again after them.
constexpr int kYieldWindow = 32;
constexpr int kLeastHelperBlocks = 32;
constexpr int kLowYieldBenchedPasses = 224;

std::atomic<std::int64_t> helperDelayForTesting{0};  // microseconds; negative: never claim

// Waits until value differs from `old`: a spin first, then asleep.
void AwaitChange(const std::atomic<std::uint32_t>& value, std::uint32_t old, std::chrono::microseconds spin)
{
    const auto giveUp = std::chrono::steady_clock::now() + spin;
    for (;;) {
        // The clock is read once every 64 checks; a check is a pause long.
        for (int check = 0; check < 64; ++check) {
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

// One worker by default: the single worker's passes are now so short that handing
// blocks to a helper costs more than it saves, alone, beside other runs and in CPU time.
RowSplitter::RowSplitter() : workers_(1) {}

void RowSplitter::SetWorkerCount(int count)
{
    workers_ = std::clamp(count, kFewestWorkers, kMostWorkers);
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

void RowSplitter::DelayHelperForTesting(std::chrono::microseconds delay)
{
    helperDelayForTesting.store(delay.count(), std::memory_order_relaxed);
}

int RowSplitter::BlockCount(std::int32_t rows) const
{
    if (rows <= 0) return 0;
    if (workers_ < 2) return 1;
    return static_cast<int>(std::min<std::int32_t>(rows, kMaxBlocks));
}

std::int32_t RowSplitter::BlockBegin(std::int32_t rows, int count, int index)
{
    return static_cast<std::int32_t>(static_cast<std::int64_t>(rows) * index / count);
}

std::uint64_t RowSplitter::ClaimWord(std::uint32_t pass, int front, int back)
{
    return (std::uint64_t{pass} << 32) | (static_cast<std::uint64_t>(front) << 16) | static_cast<std::uint64_t>(back);
}

void RowSplitter::Run(std::int32_t rows, PassFunction function, void* pass)
{
    const int count = BlockCount(rows);
    if (count == 0) return;
    if (count > 1 && !helper_.joinable()) {
        try {
            helper_ = std::thread([this] { HelperLoop(); });
        } catch (const std::system_error&) {
            benchedPasses_ = std::numeric_limits<int>::max();  // no thread to be had: the caller works alone
        }
    }
    if (count == 1 || benchedPasses_ > 0) {
        if (count > 1) --benchedPasses_;
        // The same blocks, one after the other on the calling thread.
        for (int index = 0; index < count; ++index)
            function(pass, RowBlock{index, 0, BlockBegin(rows, count, index), BlockBegin(rows, count, index + 1), index > 0});
        return;
    }
    // The previous pass is over (its last helper block was waited for), so nothing
    // reads these until the claim word below publishes them.
    function_ = function;
    pass_ = pass;
    rows_ = rows;
    blockCount_ = count;
    failed_.store(false, std::memory_order_relaxed);
    helperError_ = nullptr;
    helperFinished_.store(0, std::memory_order_relaxed);
    claims_.store(ClaimWord(++passNumber_, 0, count), std::memory_order_release);
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();

    std::exception_ptr error;
    const int mine = RunBlocks(0, error);
    // Every block is claimed now; wait for those the helper holds.
    const auto helperBlocks = static_cast<std::uint32_t>(count - mine);
    if (helperFinished_.load(std::memory_order_acquire) != helperBlocks) {
        const auto waitStart = std::chrono::steady_clock::now();
        for (std::uint32_t done = helperFinished_.load(std::memory_order_acquire); done != helperBlocks;
             done = helperFinished_.load(std::memory_order_acquire))
            AwaitChange(helperFinished_, done, kBlockWaitSpin);
        if (std::chrono::steady_clock::now() - waitStart > kHelperStalled) benchedPasses_ = kBenchedPasses;
    }
    NoteHelperYield(static_cast<int>(helperBlocks));
    if (!error) error = helperError_;
    if (error) std::rethrow_exception(error);
}

bool RowSplitter::Claim(int worker, Claimed& claimed)
{
    std::uint64_t word = claims_.load(std::memory_order_acquire);
    for (;;) {
        const int front = static_cast<int>((word >> 16) & 0xffff);
        const int back = static_cast<int>(word & 0xffff);
        if (front >= back) return false;
        const std::uint64_t pass = word >> 32;
        const std::uint64_t next = worker == 0 ? ClaimWord(static_cast<std::uint32_t>(pass), front + 1, back)
                                               : ClaimWord(static_cast<std::uint32_t>(pass), front, back - 1);
        if (claims_.compare_exchange_weak(word, next, std::memory_order_acq_rel, std::memory_order_acquire)) {
            claimed = {pass, worker == 0 ? front : back - 1};
            return true;
        }
    }
}

void RowSplitter::NoteHelperYield(int helperBlocks)
{
    windowHelperBlocks_ += helperBlocks;
    if (++windowPasses_ < kYieldWindow) return;
    if (windowHelperBlocks_ < kLeastHelperBlocks && benchedPasses_ == 0) benchedPasses_ = kLowYieldBenchedPasses;
    windowPasses_ = 0;
    windowHelperBlocks_ = 0;
}

int RowSplitter::RunBlocks(int worker, std::exception_ptr& error)
{
    int claimedCount = 0;
    Claimed last{0, -2};  // passes count from 1
    Claimed claimed{};
    while (Claim(worker, claimed)) {
        ++claimedCount;
        if (worker == 1) {
            const std::int64_t delay = helperDelayForTesting.load(std::memory_order_relaxed);
            if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
        }
        // After a failure the remaining blocks are claimed but not run, which ends the pass.
        if (!failed_.load(std::memory_order_relaxed)) {
            try {
                const std::int32_t rows = rows_;
                const int count = blockCount_;
                const int index = claimed.index;
                const RowBlock block{index, worker, BlockBegin(rows, count, index), BlockBegin(rows, count, index + 1),
                                     claimed.pass == last.pass && last.index == index - 1};
                function_(pass_, block);
                last = claimed;
            } catch (...) {
                if (!error) error = std::current_exception();
                failed_.store(true, std::memory_order_relaxed);
            }
        }
        if (worker == 1) {
            helperFinished_.fetch_add(1, std::memory_order_release);
            helperFinished_.notify_one();
        }
    }
    return claimedCount;
}

void RowSplitter::HelperLoop()
{
    std::uint32_t seen = 0;
    for (;;) {
        posted_.wait(seen, std::memory_order_acquire);
        seen = posted_.load(std::memory_order_acquire);
        if (stopping_.load(std::memory_order_acquire)) return;
        if (helperDelayForTesting.load(std::memory_order_relaxed) < 0) continue;
        RunBlocks(1, helperError_);
    }
}
