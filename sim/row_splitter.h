#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

// Runs a pass over the grid's rows in two halves at once: the calling thread
// takes the first half and one helper thread the second, and the call returns
// when both are done. The helper starts on first use and sleeps between passes;
// on a single-core machine the calling thread does both halves itself.
class RowSplitter {
public:
    RowSplitter() = default;
    RowSplitter(const RowSplitter&) = delete;
    RowSplitter& operator=(const RowSplitter&) = delete;
    ~RowSplitter();

    // Calls pass(rowBegin, rowEnd) for [0, middle) and [middle, rows).
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
    bool started_ = false;
    bool useHelper_ = false;
    PassFunction function_ = nullptr;
    void* pass_ = nullptr;
    std::int32_t begin_ = 0;
    std::int32_t end_ = 0;
    std::atomic<std::uint32_t> posted_{0};
    std::atomic<std::uint32_t> finished_{0};
    std::atomic<bool> stopping_{false};
};
