#include <gtest/gtest.h>

#include <cmath>

#include "model/agent.h"

namespace {

RandomGenerator GeneratorDrawing(std::int32_t range, std::int32_t wanted)
{
    for (std::uint32_t seed = 0;; ++seed) {
        RandomGenerator probe{seed};
        if (probe.Random(range) == wanted) return RandomGenerator{seed};
    }
}

TAgent WithCandidates(std::initializer_list<std::pair<Direction, double>> candidates)
{
    TAgent agent;
    for (const auto& [direction, share] : candidates) {
        agent.candidates[agent.candidateCount] = direction;
        agent.shares[agent.candidateCount] = share;
        ++agent.candidateCount;
    }
    return agent;
}

}  // namespace

TEST(AgentHeading, RandomWalkWithZeroTurnStillDrawsTwice)
{
    TAgent agent;
    agent.heading = 100;
    RandomGenerator random;
    agent.randomWalk(0, random);
    EXPECT_EQ(agent.heading, 100);
    EXPECT_EQ(random.seed, RandomGenerator{}.JumpedAhead(2).seed);
    EXPECT_EQ(agent.dx, 0);
    EXPECT_EQ(agent.dy, 1);
}

TEST(AgentHeading, RandomTurnUsesMagnitudeThenSide)
{
    // The turn is m * (2s - 1) with m = Random(k + 1) drawn before s = Random(2).
    RandomGenerator random{777u};
    RandomGenerator copy = random;
    const int m = copy.Random(31);
    const int s = copy.Random(2);
    EXPECT_EQ(RandomTurn(30, random), m * (2 * s - 1));
    EXPECT_EQ(random.seed, copy.seed);
}

TEST(AgentHeading, RouletteWheelStopsWhereTheRunningSumReachesTheDraw)
{
    const Direction first{1, 0}, second{0, 1};
    for (auto [draw, expected] : {std::pair{30, first}, std::pair{31, second}, std::pair{0, first}, std::pair{99, second}}) {
        TAgent agent = WithCandidates({{first, 30.0}, {second, 70.0}});
        RandomGenerator random = GeneratorDrawing(100, draw);
        agent.rouletteWheel(0, random);
        EXPECT_EQ((Direction{agent.dx, agent.dy}), expected) << draw;
        EXPECT_EQ(agent.heading, HeadingOf(expected.dx, expected.dy));
    }
    // A single candidate is always taken; shares short of the draw end at the last one.
    TAgent single = WithCandidates({{{-1, -1}, 100.0}});
    RandomGenerator random = GeneratorDrawing(100, 99);
    single.rouletteWheel(0, random);
    EXPECT_EQ(single.heading, -135);
    TAgent shortfall = WithCandidates({{{1, 0}, 10.0}, {{1, 1}, 20.0}});
    random = GeneratorDrawing(100, 99);
    shortfall.rouletteWheel(0, random);
    EXPECT_EQ((Direction{shortfall.dx, shortfall.dy}), (Direction{1, 1}));
}

TEST(AgentHeading, HillClimbingTakesTheFirstStrictlyGreatestShare)
{
    TAgent agent = WithCandidates({{{1, 0}, 40.0}, {{1, 1}, 40.0}, {{0, 1}, 20.0}});
    RandomGenerator random;
    agent.hillClimbing(0, random);
    EXPECT_EQ((Direction{agent.dx, agent.dy}), (Direction{1, 0}));
    EXPECT_EQ(random.seed, RandomGenerator{}.JumpedAhead(2).seed);  // only the wiggle draws

    // No positive share: heading and step stay, and nothing is drawn.
    TAgent flat = WithCandidates({{{1, 0}, 0.0}, {{0, 1}, -5.0}});
    flat.heading = 77;
    flat.dx = -1;
    RandomGenerator untouched;
    flat.hillClimbing(20, untouched);
    EXPECT_EQ(flat.heading, 77);
    EXPECT_EQ(flat.dx, -1);
    EXPECT_EQ(untouched.seed, 0u);
}

TEST(AgentHeading, WiggleTurnsTheHeadingButNotTheStep)
{
    // One candidate straight down (heading 90) and a wiggle threshold of 180. The
    // expected headings were worked out by hand from the generator's sequence
    // (python3 integer arithmetic): m = Random(181), then s = Random(2), heading
    // 90 + m * (2s - 1), brought into 0..360 by one addition of 360.
    struct Case {
        std::uint32_t seed;
        SniffMethod sniffMethod;
        std::int32_t heading;
    };
    const Case cases[] = {
        {8, SniffMethod::HillClimbing, 135},   // m 45, s 1
        {9, SniffMethod::HillClimbing, 39},    // m 51, s 0
        {23, SniffMethod::HillClimbing, 320},  // m 130, s 0: -40 + 360
        {30, SniffMethod::HillClimbing, 260},  // m 170, s 1
        // The roulette wheel draws Random(100) first (25, 31 and 21 here), then the turn.
        {8, SniffMethod::RouletteWheel, 211},  // m 121, s 1
        {10, SniffMethod::RouletteWheel, 31},  // m 59, s 0
        {7, SniffMethod::RouletteWheel, 299},  // m 151, s 0: -61 + 360
    };
    for (const Case& c : cases) {
        TAgent agent = WithCandidates({{{0, 1}, 100.0}});
        agent.signalSum = 1.0;
        RandomGenerator random{c.seed};
        agent.ChangeHeading(22, ReturnMode::UseExistingTracks, 180, c.sniffMethod, 30, random);
        EXPECT_EQ(agent.heading, c.heading) << c.seed << " " << static_cast<int>(c.sniffMethod);
        // The step follows the candidate even where the heading points elsewhere.
        EXPECT_EQ((Direction{agent.dx, agent.dy}), (Direction{0, 1})) << c.seed;
        const std::uint64_t draws = c.sniffMethod == SniffMethod::RouletteWheel ? 3 : 2;
        EXPECT_EQ(random.seed, RandomGenerator{c.seed}.JumpedAhead(draws).seed) << c.seed;
    }

    // Over many states the wiggle turns the heading both ways (towards larger and
    // smaller angles) in about equal numbers and keeps it in 0..360.
    int turnedBack = 0, turnedOn = 0;
    for (std::uint32_t seed = 0; seed < 1000; ++seed) {
        TAgent trial = WithCandidates({{{0, 1}, 100.0}});
        trial.signalSum = 1.0;
        RandomGenerator random{seed};
        trial.ChangeHeading(22, ReturnMode::UseExistingTracks, 180, SniffMethod::HillClimbing, 30, random);
        EXPECT_EQ((Direction{trial.dx, trial.dy}), (Direction{0, 1}));
        EXPECT_GE(trial.heading, 0);
        EXPECT_LE(trial.heading, 360);
        if (trial.heading > 90 && trial.heading <= 270) ++turnedOn;
        if (trial.heading < 90 || trial.heading > 270) ++turnedBack;
    }
    EXPECT_GT(turnedBack, 400);
    EXPECT_GT(turnedOn, 400);
}

TEST(AgentHeading, ChangeHeadingChoosesTheRuleByModeAndSignal)
{
    // Searching without a signal: a random walk bounded by the angle threshold only.
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        TAgent agent;
        agent.heading = 180;
        agent.signalSum = 0.0;
        RandomGenerator random{seed};
        agent.ChangeHeading(10, ReturnMode::UseExistingTracks, 170, SniffMethod::HillClimbing, 170, random);
        EXPECT_LE(std::abs(agent.heading - 180), 10);
    }
    // Returning in track mode with a signal of exactly 0 takes the return-noise turn.
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        TAgent agent = WithCandidates({{{1, 0}, 0.0}});
        agent.mode = kReturning;
        agent.heading = 90;
        agent.signalSum = 0.0;
        RandomGenerator random{seed};
        agent.ChangeHeading(170, ReturnMode::UseExistingTracks, 170, SniffMethod::HillClimbing, 5, random);
        EXPECT_LE(std::abs(agent.heading - 90), 5);
        EXPECT_EQ((Direction{agent.dx, agent.dy}), StepVector(agent.heading));
    }
    // Returning the direct way ignores even a strong signal.
    TAgent direct = WithCandidates({{{1, 0}, 100.0}});
    direct.mode = kReturning;
    direct.heading = 270;
    direct.signalSum = 50.0;
    RandomGenerator random;
    direct.ChangeHeading(22, ReturnMode::DirectWay, 20, SniffMethod::HillClimbing, 0, random);
    EXPECT_EQ(direct.heading, 270);
    EXPECT_EQ((Direction{direct.dx, direct.dy}), (Direction{0, -1}));
    // A NaN signal counts as no signal.
    TAgent nan;
    nan.signalSum = std::nan("");
    RandomGenerator r2;
    nan.ChangeHeading(0, ReturnMode::UseExistingTracks, 20, SniffMethod::RouletteWheel, 0, r2);
    EXPECT_EQ(nan.heading, 0);
    EXPECT_EQ(r2.seed, RandomGenerator{}.JumpedAhead(2).seed);
}
