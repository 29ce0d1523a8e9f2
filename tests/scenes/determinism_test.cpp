// Every recorded scene, run by the headless runner with one diffusion worker and
// with two, reproduces its recorded output bit for bit.
#include <gtest/gtest.h>

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
