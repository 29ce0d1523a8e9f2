#pragma once
#include <array>
#include <cstdint>

#include "model/angles.h"
#include "model/random_generator.h"

enum AgentMode : std::int32_t {
    kSearching = 0,
    kReturning = 1,
};

// How an agent follows the return tracks it senses; None when neither button is on.
enum class SniffMethod : std::int32_t {
    None = 0,
    RouletteWheel = 1,
    HillClimbing = 2,
};

// How returning agents find home: straight for it, or along the return tracks.
enum class ReturnMode : std::int32_t {
    DirectWay = 0,
    UseExistingTracks = 1,
};

// One resident of the world. The candidate arrays have room for all eight
// neighbour directions, so sensing never allocates.
struct TAgent {
    static constexpr int kMaxCandidates = 8;

    std::int32_t column = 0;
    std::int32_t row = 0;
    std::int32_t homeColumn = 0;
    std::int32_t homeRow = 0;
    std::int32_t migrated = 0;
    std::int32_t travelSteps = 0;
    std::int32_t mode = kSearching;
    std::int32_t foundDestinationIndex = 0;
    std::int32_t success = 0;
    std::int32_t pixelX = 0;
    std::int32_t pixelY = 0;
    std::int32_t heading = 0;
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    std::array<Direction, kMaxCandidates> candidates{};
    std::array<double, kMaxCandidates> shares{};
    std::int32_t candidateCount = 0;
    double signalSum = 0.0;

    void SetHeading(std::int32_t value) { heading = value; }
    void SetDX(std::int32_t value) { dx = value; }
    void SetDY(std::int32_t value) { dy = value; }
    void SetPixelX(std::int32_t value) { pixelX = value; }
    void SetPixelY(std::int32_t value) { pixelY = value; }

    // Sets heading and step vector for this step from the sensed candidates
    // (searching or returning along tracks) or by a random turn.
    void ChangeHeading(std::int32_t angleThreshold, ReturnMode returnMode, std::int32_t wiggleThreshold,
                       SniffMethod sniffMethod, std::int32_t returnNoise, RandomGenerator& random);
    void randomWalk(std::int32_t maximumTurn, RandomGenerator& random);
    void rouletteWheel(std::int32_t wiggleThreshold, RandomGenerator& random);
    void hillClimbing(std::int32_t wiggleThreshold, RandomGenerator& random);

private:
    void TakeCandidate(int index, std::int32_t wiggleThreshold, RandomGenerator& random);
};

// A random turn of at most maximumTurn degrees either way: m = Random(k + 1),
// then s = Random(2); the turn is m * (2s - 1).
std::int32_t RandomTurn(std::int32_t maximumTurn, RandomGenerator& random);
