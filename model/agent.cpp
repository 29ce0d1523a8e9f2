#include "model/agent.h"

std::int32_t RandomTurn(std::int32_t maximumTurn, RandomGenerator& random)
{
    const std::int32_t magnitude = random.Random(maximumTurn + 1);
    const std::int32_t side = random.Random(2);
    return magnitude * (2 * side - 1);
}

void TAgent::randomWalk(std::int32_t maximumTurn, RandomGenerator& random)
{
    heading += RandomTurn(maximumTurn, random);
    const Direction step = StepVector(heading);
    SetDX(step.dx);
    SetDY(step.dy);
}

void TAgent::TakeCandidate(int index, std::int32_t wiggleThreshold, RandomGenerator& random)
{
    const Direction chosen = candidates[index];
    heading = HeadingOfDirection(chosen);
    heading += RandomTurn(wiggleThreshold, random);
    // The step follows the chosen candidate, not the wiggled heading.
    SetDX(chosen.dx);
    SetDY(chosen.dy);
}

void TAgent::rouletteWheel(std::int32_t wiggleThreshold, RandomGenerator& random)
{
    if (candidateCount <= 0) return;
    const std::int32_t draw = random.Random(100);
    // Running sum in extended precision; if rounding leaves it below the draw,
    // the walk ends at the last candidate.
    int chosen = 0;
    long double sum = shares[0];
    while (draw > sum && chosen < candidateCount - 1) {
        ++chosen;
        sum += shares[chosen];
    }
    TakeCandidate(chosen, wiggleThreshold, random);
}

void TAgent::hillClimbing(std::int32_t wiggleThreshold, RandomGenerator& random)
{
    double best = 0.0;
    int chosen = -1;
    for (int i = 0; i < candidateCount; ++i) {
        if (shares[i] > best) {
            best = shares[i];
            chosen = i;
        }
    }
    // No positive share: heading and step vector stay as they are.
    if (chosen < 0) return;
    TakeCandidate(chosen, wiggleThreshold, random);
}

void TAgent::ChangeHeading(std::int32_t angleThreshold, ReturnMode returnMode, std::int32_t wiggleThreshold,
                           SniffMethod sniffMethod, std::int32_t returnNoise, RandomGenerator& random)
{
    const bool hasSignal = signalSum > 0.0;  // false for NaN as well
    const auto followTracks = [&] {
        if (sniffMethod == SniffMethod::RouletteWheel) rouletteWheel(wiggleThreshold, random);
        else if (sniffMethod == SniffMethod::HillClimbing) hillClimbing(wiggleThreshold, random);
    };

    if (mode == kSearching) {
        if (hasSignal) followTracks();
        else randomWalk(angleThreshold, random);
    } else if (mode == kReturning) {
        if (returnMode == ReturnMode::UseExistingTracks && hasSignal) {
            followTracks();
        } else {
            heading += RandomTurn(returnNoise, random);
            const Direction step = StepVector(heading);
            SetDX(step.dx);
            SetDY(step.dy);
        }
    }
    NormalizeAngle(heading);
}
