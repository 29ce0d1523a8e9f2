#include "angles.h"

#include <cmath>

#include "rounding.h"

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

Direction StepVector(std::int32_t heading)
{
    const double theta = static_cast<double>(heading) * kDegreeFactor;
    return Direction{RoundHalfEven(std::cos(theta)), RoundHalfEven(std::sin(theta))};
}

std::int32_t HeadingOf(double dx, double dy)
{
    return RoundHalfEven(std::atan2(dy, dx) * kRadianFactor);
}
