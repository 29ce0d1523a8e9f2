#pragma once
#include <cstdint>

// Degrees and radians are converted with 3.141592654 in place of pi.
inline constexpr double kDegreeFactor = 3.141592654 / 180.0;
inline constexpr double kRadianFactor = 180.0 / 3.141592654;

// One neighbour direction or step vector; each component is -1, 0 or 1.
struct Direction {
    std::int32_t dx = 0;
    std::int32_t dy = 0;
    friend bool operator==(const Direction&, const Direction&) = default;
};

// Bring an angle towards [0, 360] with at most one correction each way:
// below 0 add 360, then above 360 subtract 360. 360 itself stays.
void NormalizeAngle(std::int32_t& angle);
// The same on a real; a NaN also counts as "not >= 0".
void NormalizeAngleF(double& angle);

// Step vector of an integer heading: cos and sin of heading * degree factor,
// each rounded to the nearest integer.
Direction StepVector(std::int32_t heading);

// Heading of a direction vector: atan2(dy, dx) * radian factor, rounded;
// lies in -180..180.
std::int32_t HeadingOf(double dx, double dy);
