#include "model/angles.h"

#include <array>
#include <cmath>

#include "model/rounding.h"

void NormalizeAngle(std::int32_t& angle)
{
    if (angle < 0) angle += 360;
    if (angle > 360) angle -= 360;
}

void NormalizeAngleF(double& angle)
{
    if (!(angle >= 0.0)) angle += 360.0;
    if (angle > 360.0) angle -= 360.0;
}

Direction ComputeStepVector(std::int32_t heading)
{
    const double theta = static_cast<double>(heading) * kDegreeFactor;
    return Direction{RoundHalfEven(std::cos(theta)), RoundHalfEven(std::sin(theta))};
}

namespace {

constexpr std::int32_t kTabledHeading = 1080;

struct StepVectors {
    std::array<Direction, 2 * kTabledHeading + 1> of;
    StepVectors()
    {
        for (std::int32_t h = -kTabledHeading; h <= kTabledHeading; ++h) of[h + kTabledHeading] = ComputeStepVector(h);
    }
};

struct DirectionHeadings {
    std::array<std::int32_t, 9> of;  // [dy + 1][dx + 1]
    DirectionHeadings()
    {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) of[(dy + 1) * 3 + dx + 1] = HeadingOf(dx, dy);
    }
};

}  // namespace

Direction StepVector(std::int32_t heading)
{
    static const StepVectors table;
    if (heading < -kTabledHeading || heading > kTabledHeading) return ComputeStepVector(heading);
    return table.of[heading + kTabledHeading];
}

std::int32_t HeadingOfDirection(Direction direction)
{
    static const DirectionHeadings table;
    if (direction.dx < -1 || direction.dx > 1 || direction.dy < -1 || direction.dy > 1)
        return HeadingOf(direction.dx, direction.dy);
    return table.of[(direction.dy + 1) * 3 + direction.dx + 1];
}

void HeadingTable::Resize(std::int32_t maxDx, std::int32_t maxDy)
{
    // Without a grid no offset is in range, so every heading is computed.
    const bool empty = maxDx < 0 || maxDy < 0;
    maxDx_ = empty ? -1 : maxDx;
    maxDy_ = empty ? -1 : maxDy;
    headings_.assign(empty ? 0 : static_cast<std::size_t>(2 * maxDx_ + 1) * (2 * maxDy_ + 1), kUnknown);
}

std::int32_t HeadingOf(double dx, double dy)
{
    return RoundHalfEven(std::atan2(dy, dx) * kRadianFactor);
}
