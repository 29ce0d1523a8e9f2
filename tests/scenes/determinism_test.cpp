// Every recorded scene, run by the headless runner with one diffusion worker and
// with two, reproduces its recorded output bit for bit.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "app/headless_runner.h"
#include "scenes/scenes.h"

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

// The land-use columns came after the chart's seven: those seven of the default run
// are what they were before (recorded), and the land use of every line counts the
// whole grid.
TEST(Determinism, TheDefaultRunsSevenChartColumnsAreUnchanged)
{
    std::ostringstream out, err;
    ASSERT_EQ(RunHeadless({}, out, err), 0) << err.str();
    std::istringstream lines(out.str());
    std::string seven;
    int lineNumber = 0;
    for (std::string line; std::getline(lines, line); ++lineNumber) {
        std::istringstream fields(line);
        std::vector<std::string> field;
        for (std::string f; std::getline(fields, f, ',');) field.push_back(f);
        ASSERT_EQ(field.size(), 13u) << line;
        for (int i = 0; i < 7; ++i) seven += field[i] + (i < 6 ? "," : "\n");
        if (lineNumber == 0) continue;
        long cells = 0;
        for (int i = 7; i < 13; ++i) cells += std::stol(field[i]);
        ASSERT_EQ(cells, 202 * 202) << line;
    }
    EXPECT_EQ(lineNumber, 801);
    EXPECT_EQ(OutputHash(seven), 0x6b1298ce7f4bcf9eull);
}
