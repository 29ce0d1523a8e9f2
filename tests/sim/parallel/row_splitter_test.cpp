#include "sim/parallel/row_splitter.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using std::chrono::microseconds;

// Sets the helper's test delay for one scope.
struct HelperDelay {
    explicit HelperDelay(microseconds delay) { RowSplitter::DelayHelperForTesting(delay); }
    ~HelperDelay() { RowSplitter::DelayHelperForTesting(microseconds(0)); }
};

// What one pass saw of its blocks, each block writing only its own entry.
struct BlockRecord {
    RowBlock block;
    int calls = 0;
};

std::vector<BlockRecord> RecordPass(RowSplitter& splitter, std::int32_t rows)
{
    std::vector<BlockRecord> seen(RowSplitter::kMaxBlocks);
    auto pass = [&](const RowBlock& block) {
        seen[block.index].block = block;
        ++seen[block.index].calls;
    };
    splitter.ForBlocks(rows, pass);
    seen.resize(splitter.BlockCount(rows));
    return seen;
}

}  // namespace

// Every row is visited once, by blocks that cut the rows in order, for any worker
// count, grid height and helper timing; a block that says it continues its
// worker's previous block does.
TEST(RowSplitter, BlocksCoverEveryRowOnceWhateverTheHelperDoes)
{
    for (const auto delay : {microseconds(0), microseconds(300), microseconds(-1)}) {
        const HelperDelay helperDelay(delay);
        for (const int workers : {1, 2}) {
            RowSplitter splitter;
            splitter.SetWorkerCount(workers);
            for (const std::int32_t rows : {0, 1, 2, 3, 7, 8, 9, 202}) {
                SCOPED_TRACE(testing::Message() << "delay " << delay.count() << " workers " << workers << " rows " << rows);
                const std::vector<BlockRecord> seen = RecordPass(splitter, rows);
                const int expectedBlocks = rows == 0 ? 0 : workers == 1 ? 1 : std::min(rows, RowSplitter::kMaxBlocks);
                ASSERT_EQ(static_cast<int>(seen.size()), expectedBlocks);
                std::int32_t next = 0;
                std::array<int, 2> lastOfWorker{-1, -1};
                std::array<int, 2> ranBy{0, 0};
                for (int b = 0; b < expectedBlocks; ++b) {
                    const RowBlock& block = seen[b].block;
                    EXPECT_EQ(seen[b].calls, 1);
                    EXPECT_EQ(block.index, b);
                    EXPECT_EQ(block.begin, next);
                    EXPECT_LT(block.begin, block.end);
                    next = block.end;
                    ++ranBy[block.worker];
                    if (block.continues) {
                        EXPECT_EQ(lastOfWorker[block.worker], b - 1);
                    }
                    if (delay.count() < 0 || workers == 1) {
                        EXPECT_EQ(block.worker, 0);
                    }
                    lastOfWorker[block.worker] = b;
                }
                EXPECT_EQ(next, rows);
                // Without a helper the caller runs the blocks back to back.
                if (ranBy[1] == 0) {
                    for (int b = 1; b < expectedBlocks; ++b) EXPECT_TRUE(seen[b].block.continues);
                }
            }
        }
    }
}

namespace {

std::atomic<int> blocksRunning{0};

// Runs a pass whose state lives in this frame and throws from block `throwAt`
// (or from every block the helper runs, for -1); returns whether it threw, and
// counts in `helperRan` whether the helper ran a block.
bool RunThrowingPass(RowSplitter& splitter, int throwAt, bool& helperRan)
{
    std::array<int, RowSplitter::kMaxBlocks> visits{};
    std::atomic<bool> helperSeen{false};
    auto pass = [&](const RowBlock& block) {
        // Every block lingers, the helper's longest, so a running helper holds one
        // when the caller's throws.
        ++blocksRunning;
        if (block.worker == 1) helperSeen = true;
        std::this_thread::sleep_for(microseconds(block.worker == 1 ? 2000 : 500));
        visits[block.index] += 1;
        --blocksRunning;
        if (block.index == throwAt || (throwAt < 0 && block.worker == 1)) throw std::runtime_error("block failed");
    };
    bool threw = false;
    try {
        splitter.ForBlocks(202, pass);
    } catch (const std::runtime_error&) {
        threw = true;
    }
    EXPECT_EQ(blocksRunning.load(), 0) << "a block still runs after the pass returned";
    helperRan = helperSeen;
    return threw;
}

}  // namespace

// A block that throws, on either worker, ends the pass only after the other
// worker's block is done (under AddressSanitizer a helper left running would use
// this frame after it is gone); the splitter works on afterwards. Each case has a
// splitter of its own, as a long wait leaves the helper out of the next passes.
TEST(RowSplitter, AThrowingBlockWaitsForTheOtherWorker)
{
    for (const auto delay : {microseconds(0), microseconds(3000)}) {
        const HelperDelay helperDelay(delay);
        for (const int workers : {1, 2}) {
            for (const int throwAt : {0, 3, 7, -1}) {
                RowSplitter splitter;
                splitter.SetWorkerCount(workers);
                bool helperRan = false;
                const bool threw = RunThrowingPass(splitter, throwAt, helperRan);
                if (throwAt >= 0) {
                    EXPECT_EQ(threw, throwAt < splitter.BlockCount(202)) << throwAt;
                } else {
                    // Thrown only by the helper's blocks: the pass throws exactly when it ran one.
                    EXPECT_EQ(threw, helperRan);
                }
                if (workers == 1) {
                    EXPECT_FALSE(helperRan);
                }
                const std::vector<BlockRecord> after = RecordPass(splitter, 202);
                for (const BlockRecord& record : after) EXPECT_EQ(record.calls, 1);
            }
        }
    }
}

// After a long wait for a block the helper held, the caller runs the next pass's
// blocks alone, back to back.
TEST(RowSplitter, AHelperThatKeptTheCallerWaitingIsLeftOutOfTheNextPasses)
{
    // The helper holds its block far longer than the caller's own blocks take, even
    // on a loaded machine, so the caller surely waits past its limit.
    const HelperDelay helperDelay(microseconds(50000));
    RowSplitter splitter;
    splitter.SetWorkerCount(2);
    std::array<int, RowSplitter::kMaxBlocks> worker{};
    auto slow = [&](const RowBlock& block) {
        worker[block.index] = block.worker;
        std::this_thread::sleep_for(microseconds(200));
    };
    splitter.ForBlocks(202, slow);
    bool helperRan = false;
    for (const int w : worker) helperRan |= w == 1;
    if (!helperRan) GTEST_SKIP() << "the helper did not wake during the first pass";
    for (int pass = 0; pass < 3; ++pass) {
        const std::vector<BlockRecord> next = RecordPass(splitter, 202);
        for (const BlockRecord& record : next) {
            EXPECT_EQ(record.block.worker, 0);
            EXPECT_EQ(record.block.continues, record.block.index > 0);
        }
    }
}
