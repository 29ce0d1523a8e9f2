#include <gtest/gtest.h>

#include <vector>

#include "sim/phases/sensing.h"
#include "tests/sim/sim_test_support.h"

namespace {

std::vector<Direction> CandidatesFor(std::int32_t heading, std::int32_t threshold)
{
    Simulation sim;
    MakeEmptyRun(sim, 10, 10);
    AddAgentAt(sim, 5, 5, heading);
    SenseDirections(sim, 0, threshold);
    const TAgent& agent = sim.run.agents[0];
    return {agent.candidates.begin(), agent.candidates.begin() + agent.candidateCount};
}

using Dirs = std::vector<Direction>;

}  // namespace

TEST(Sensing, ConeOfTheDefaultThreshold)
{
    EXPECT_EQ(CandidatesFor(90, 22), (Dirs{{0, 1}}));
    EXPECT_EQ(CandidatesFor(100, 22), (Dirs{{0, 1}, {-1, 1}}));
    EXPECT_EQ(CandidatesFor(0, 22), (Dirs{{1, 0}}));
    EXPECT_EQ(CandidatesFor(10, 22), (Dirs{{1, 0}, {1, 1}}));
    EXPECT_EQ(CandidatesFor(44, 22), (Dirs{{1, 0}, {1, 1}}));
    EXPECT_EQ(CandidatesFor(45, 22), (Dirs{{1, 1}}));
    EXPECT_EQ(CandidatesFor(46, 22), (Dirs{{1, 1}, {0, 1}}));
    EXPECT_EQ(CandidatesFor(540, 22), (Dirs{{-1, 0}}));
    int one = 0, two = 0;
    for (int h = 0; h <= 360; ++h) {
        const auto n = CandidatesFor(h, 22).size();
        one += n == 1;
        two += n == 2;
    }
    EXPECT_EQ(one, 9);
    EXPECT_EQ(two, 352);
}

TEST(Sensing, ConeOfOtherThresholds)
{
    for (int h = 0; h <= 360; h += 7) EXPECT_EQ(CandidatesFor(h, 0).size(), 1u) << h;
    EXPECT_EQ(CandidatesFor(0, 90), (Dirs{{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}}));
    EXPECT_EQ(CandidatesFor(0, 157), (Dirs{{-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}}));
    for (int t = 158; t <= 180; ++t) EXPECT_EQ(CandidatesFor(0, t), (Dirs{{-1, 0}})) << t;
    EXPECT_EQ(CandidatesFor(60, 180), (Dirs{{-1, -1}}));
    EXPECT_EQ(CandidatesFor(-158, 180).size(), 8u);
    // A bounding angle still below 0 after one correction is reduced modulo 360.
    EXPECT_EQ(SectorOfAngle(-22), 8);
    EXPECT_EQ(SectorOfAngle(-50), 7);
    EXPECT_EQ(SectorOfAngle(-400), 8);
    EXPECT_EQ(SectorOfAngle(405), 1);
    EXPECT_EQ(SectorOfAngle(0), 1);
    EXPECT_EQ(SectorOfAngle(360), 8);
    EXPECT_FALSE(CandidatesFor(-180, 180).empty());
}

TEST(Sensing, SignalIsTracksPlusOneNoisePerCandidateAcrossEdges)
{
    Simulation sim;
    MakeEmptyRun(sim, 10, 10);
    AddAgentAt(sim, 9, 0, 100);  // candidates (0, 1) and (-1, 1)
    sim.run.cells(9, 1).returnTracks = 30.0;
    sim.run.cells(8, 1).returnTracks = 10.0;
    RandomGenerator expected = sim.random;
    SenseDirections(sim, 0, 22);
    const TAgent& agent = sim.run.agents[0];
    const double n1 = (expected.RandomReal() - 0.5) * 0.1;
    const double n2 = (expected.RandomReal() - 0.5) * 0.1;
    EXPECT_EQ(agent.signalSum, ((0.0 + 30.0) + n1 + 10.0) + n2);
    EXPECT_EQ(agent.shares[0], (30.0 + n1) / agent.signalSum * 100.0);
    EXPECT_EQ(agent.shares[1], (10.0 + n2) / agent.signalSum * 100.0);
    EXPECT_EQ(sim.random.seed, expected.seed);

    // Across the bottom edge: the agent at row 9 heading down reads row 0.
    Simulation edge;
    MakeEmptyRun(edge, 4, 10);
    AddAgentAt(edge, 2, 9, 90);
    edge.run.cells(2, 0).returnTracks = 100.0;
    SenseDirections(edge, 0, 22);
    EXPECT_GT(edge.run.agents[0].signalSum, 99.0);
}

TEST(Sensing, ZeroSignalGivesZeroShares)
{
    Simulation sim;
    MakeEmptyRun(sim, 10, 10);
    AddAgentAt(sim, 5, 5, 90);  // one candidate, (0, 1)
    // A draw of exactly 0.5 makes the noise exactly 0.
    sim.random = GeneratorDrawingOneHalf();
    SenseDirections(sim, 0, 22);
    EXPECT_EQ(sim.run.agents[0].signalSum, 0.0);
    EXPECT_EQ(sim.run.agents[0].shares[0], 0.0);
}
