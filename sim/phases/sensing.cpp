#include "sim/phases/sensing.h"

#include "model/rounding.h"

namespace {

// Direction of each sector, 1..8 in increasing angle.
constexpr Direction kSectorDirection[9] = {
    {0, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0},
};

std::int32_t SectorOfBound(double bound)
{
    NormalizeAngleF(bound);
    return SectorOfAngle(RoundHalfEven(bound));
}

}  // namespace

std::int32_t SectorOfAngle(std::int32_t angle)
{
    if (angle < 0 || angle > 360) angle = ((angle % 360) + 360) % 360;
    if (angle == 0) return 1;
    return (angle + 44) / 45;  // 1..45 -> 1, 46..90 -> 2, ..., 316..360 -> 8
}

void SenseDirections(Simulation& sim, std::size_t agentIndex, std::int32_t angleThreshold)
{
    Run& run = sim.run;
    TAgent& agent = run.agents[agentIndex];
    const std::int32_t first = SectorOfBound((static_cast<double>(agent.heading) - angleThreshold) - 22.5);
    const std::int32_t last = SectorOfBound((static_cast<double>(agent.heading) + angleThreshold) - 22.5);

    agent.candidateCount = 0;
    std::int32_t sector = first - 1;
    do {
        sector += 1;
        if (sector > 8) sector = 1;
        agent.candidates[agent.candidateCount++] = kSectorDirection[sector];
    } while (sector != last);

    std::array<double, TAgent::kMaxCandidates> sensed{};
    agent.signalSum = 0.0;
    for (int j = 0; j < agent.candidateCount; ++j) {
        const double noise = (sim.random.RandomReal() - 0.5) * 0.1;
        std::int32_t c = agent.column + agent.candidates[j].dx;
        std::int32_t r = agent.row + agent.candidates[j].dy;
        WrapCoords(c, r, run.columns, run.rows);
        const double value = run.cells(c, r).returnTracks;
        agent.signalSum = agent.signalSum + value + noise;
        sensed[j] = value + noise;
    }
    // A signal sum of exactly 0 gives no shares to speak of: they are 0.
    for (int j = 0; j < agent.candidateCount; ++j)
        agent.shares[j] = agent.signalSum == 0.0 ? 0.0 : sensed[j] / agent.signalSum * 100.0;
}
