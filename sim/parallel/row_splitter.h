#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <thread>

// One block of consecutive rows of a split pass.
struct RowBlock {
    int index = 0;             // 0 .. count-1, in row order
    int worker = 0;            // 0 the calling thread, 1 the helper
    std::int32_t begin = 0;    // rows [begin, end), never empty
    std::int32_t end = 0;
    bool continues = false;    // this worker ran block index-1 just before, in this pass
};

// Runs a pass over the grid's rows in blocks. The rows are cut into a fixed number
// of blocks that depends only on the row count and the worker count; the calling
// thread takes blocks from the first on, one helper thread from the last back,
// both from one shared claim word, so the caller takes every block the helper has
// not started and never waits for a helper that is not running: it waits only for
// a block the helper has claimed. Each worker thus keeps much the same rows from
// one pass to the next, and the caller's blocks follow one another. A pass must
// give the same result for any assignment of blocks to workers. With one worker
// the calling thread runs all rows as one block. When the caller has waited long
// for a block of a helper that lost its core, or the helper ran hardly any blocks
// of the last passes, the caller runs the next passes' blocks alone.
class RowSplitter {
public:
    // Most blocks a pass is cut into: per-block results fit arrays of this size.
    static constexpr int kMaxBlocks = 8;

    // One worker until SetWorkerCount asks for two.
    RowSplitter();
    RowSplitter(const RowSplitter&) = delete;
    RowSplitter& operator=(const RowSplitter&) = delete;
    ~RowSplitter();

    // kFewestWorkers..kMostWorkers (other counts are brought into that range). Takes
    // effect at the next pass.
    void SetWorkerCount(int count);
    int WorkerCount() const { return workers_; }

    // How many blocks the next pass over `rows` rows is cut into (0 for no rows),
    // and the rows of block `index` of that cut.
    int BlockCount(std::int32_t rows) const;
    static std::int32_t BlockBegin(std::int32_t rows, int count, int index);

    // Calls pass(const RowBlock&) once for every block of BlockCount(rows). Returns
    // when every block is done; when a block throws, the blocks not yet started are
    // skipped, the other worker's block is waited for, and the first exception is
    // rethrown.
    template <typename Pass>
    void ForBlocks(std::int32_t rows, Pass& pass)
    {
        Run(rows, &CallPass<Pass>, &pass);
    }

    // For tests, for every splitter of the process: the helper sleeps this long
    // after claiming each block, before it runs it; a negative delay keeps the
    // helper from ever claiming one. Zero restores normal running.
    static void DelayHelperForTesting(std::chrono::microseconds delay);

private:
    using PassFunction = void (*)(void*, const RowBlock&);

    template <typename Pass>
    static void CallPass(void* pass, const RowBlock& block)
    {
        (*static_cast<Pass*>(pass))(block);
    }

    // One pass's claim word: the pass's number (high 32 bits), the caller's next
    // block (bits 16..31) and one past the helper's next (low 16 bits); the blocks
    // between are unclaimed.
    static std::uint64_t ClaimWord(std::uint32_t pass, int front, int back);
    struct Claimed {
        std::uint64_t pass;
        int index;
    };
    // Takes the caller's next block (worker 0) or the helper's (worker 1); false when none is left.
    bool Claim(int worker, Claimed& claimed);

    void Run(std::int32_t rows, PassFunction function, void* pass);
    // Claims and runs blocks until none is left; returns how many this worker
    // claimed. A block's exception is kept in `error` (the first one only).
    int RunBlocks(int worker, std::exception_ptr& error);
    void HelperLoop();
    // Counts the helper's blocks of a pass; benches a helper that hardly helps.
    void NoteHelperYield(int helperBlocks);

    std::thread helper_;
    int workers_ = 1;
    int benchedPasses_ = 0;  // passes the caller runs alone before it asks the helper again
    int windowPasses_ = 0;   // passes, and the helper's blocks in them, since the last yield check
    int windowHelperBlocks_ = 0;
    // The posted pass; written by the caller before the claim word is published,
    // read by a worker only after it has claimed a block of it.
    PassFunction function_ = nullptr;
    void* pass_ = nullptr;
    std::int32_t rows_ = 0;
    int blockCount_ = 0;
    std::uint32_t passNumber_ = 0;
    std::atomic<std::uint64_t> claims_{0};
    std::atomic<std::uint32_t> posted_{0};          // wakes the helper
    std::atomic<std::uint32_t> helperFinished_{0};  // blocks the helper finished in this pass
    std::atomic<bool> failed_{false};               // a block threw: start no more
    std::exception_ptr helperError_;
    std::atomic<bool> stopping_{false};
};
