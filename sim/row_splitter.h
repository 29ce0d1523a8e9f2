#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

// Runs a pass over the grid's rows in two halves at once: the calling thread
// takes the first half and one helper thread the second, and the call returns
// when both are done. The helper starts on first use; between passes it spins
// briefly, then sleeps.
// With one worker the calling thread does all rows itself in one call; a pass
// must give the same result either way.
class RowSplitter {
public:
    // Two workers when the process may use two CPUs or more, else one.
    RowSplitter();
    RowSplitter(const RowSplitter&) = delete;
    RowSplitter& operator=(const RowSplitter&) = delete;
    ~RowSplitter();

    // 1 or 2 (other counts are brought into that range). Takes effect at the next pass.
    void SetWorkerCount(int count);
    int WorkerCount() const { return workers_; }

    // Calls pass(rowBegin, rowEnd) for [0, middle) and [middle, rows) with two
    // workers, for [0, rows) with one.
    template <typename Pass>
    void ForHalves(std::int32_t rows, std::int32_t middle, Pass& pass)
    {
        Run(rows, middle, &CallPass<Pass>, &pass);
    }

private:
    using PassFunction = void (*)(void*, std::int32_t, std::int32_t);

    template <typename Pass>
    static void CallPass(void* pass, std::int32_t begin, std::int32_t end)
    {
        (*static_cast<Pass*>(pass))(begin, end);
    }

    void Run(std::int32_t rows, std::int32_t middle, PassFunction function, void* pass);
    void HelperLoop();

    std::thread helper_;
    int workers_ = 1;
    PassFunction function_ = nullptr;
    void* pass_ = nullptr;
    std::int32_t begin_ = 0;
    std::int32_t end_ = 0;
    std::atomic<std::uint32_t> posted_{0};
    std::atomic<std::uint32_t> finished_{0};
    std::atomic<bool> stopping_{false};
};
