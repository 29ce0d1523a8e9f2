// Every recorded scene, run by the headless runner with one diffusion worker and
// with two, reproduces its recorded output bit for bit.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "headless_runner.h"
#include "scenes.h"

TEST(Determinism, EveryWorkerCountReproducesTheRecordedScenes)
{
    for (const Scene* scene : AllScenes()) {
        ASSERT_NE(scene->recordedHash, 0u) << scene->name;
        for (const char* workers : {"1", "2"}) {
            std::vector<std::string> arguments = RunnerArguments(*scene, true);
            arguments.insert(arguments.end(), {"--threads", workers});
            std::ostringstream out, err;
            ASSERT_EQ(RunHeadless(arguments, out, err), 0) << err.str();
            EXPECT_EQ(OutputHash(out.str()), scene->recordedHash) << scene->name << " with " << workers << " worker(s)";
        }
    }
}

// The same with two workers when the helper starts every block late (so the caller
// waits for it) and when it never runs: the split of the rows is no part of the result.
TEST(Determinism, AHelperThatIsLateOrAbsentChangesNothing)
{
    for (const auto delay : {std::chrono::microseconds(150), std::chrono::microseconds(-1)}) {
        RowSplitter::DelayHelperForTesting(delay);
        for (const Scene* scene : AllScenes()) {
            std::vector<std::string> arguments = RunnerArguments(*scene, true);
            arguments.insert(arguments.end(), {"--threads", "2"});
            std::ostringstream out, err;
            ASSERT_EQ(RunHeadless(arguments, out, err), 0) << err.str();
            EXPECT_EQ(OutputHash(out.str()), scene->recordedHash) << scene->name << " with helper delay " << delay.count();
        }
    }
    RowSplitter::DelayHelperForTesting(std::chrono::microseconds(0));
}

TEST(Determinism, WorkerCountIsOneOrTwo)
{
    Simulation sim;
    EXPECT_GE(sim.splitter.WorkerCount(), 1);
    EXPECT_LE(sim.splitter.WorkerCount(), 2);
    sim.SetWorkerCount(5);
    EXPECT_EQ(sim.splitter.WorkerCount(), 2);
    sim.SetWorkerCount(0);
    EXPECT_EQ(sim.splitter.WorkerCount(), 1);
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless({"--threads", "3"}, out, err), 64);
}
