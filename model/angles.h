#pragma once
#include <cstdint>
#include <vector>

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
// each rounded to the nearest integer. Headings from -1080 to 1080 come from a
// table made once from the same expression.
Direction StepVector(std::int32_t heading);
Direction ComputeStepVector(std::int32_t heading);

// Heading of a direction vector: atan2(dy, dx) * radian factor, rounded;
// lies in -180..180.
std::int32_t HeadingOf(double dx, double dy);

// HeadingOf for the eight neighbour directions and (0, 0), from a table.
std::int32_t HeadingOfDirection(Direction direction);

// HeadingOf for whole-number offsets up to a grid's size, each computed on its
// first use and kept: atan2 costs more than the rest of an agent's move. Sized at
// set-up, so looking up allocates nothing; larger offsets are computed each time.
class HeadingTable {
public:
    void Resize(std::int32_t maxDx, std::int32_t maxDy);
    std::int32_t Of(std::int32_t dx, std::int32_t dy)
    {
        if (dx < -maxDx_ || dx > maxDx_ || dy < -maxDy_ || dy > maxDy_)
            return HeadingOf(static_cast<double>(dx), static_cast<double>(dy));
        std::int16_t& kept = headings_[static_cast<std::size_t>(dy + maxDy_) * (2 * maxDx_ + 1) + (dx + maxDx_)];
        if (kept == kUnknown) kept = static_cast<std::int16_t>(HeadingOf(static_cast<double>(dx), static_cast<double>(dy)));
        return kept;
    }

private:
    static constexpr std::int16_t kUnknown = INT16_MIN;
    std::int32_t maxDx_ = -1;
    std::int32_t maxDy_ = -1;
    std::vector<std::int16_t> headings_;
};
