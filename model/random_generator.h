#pragma once
#include <cstddef>
#include <cstdint>

// The program's single random generator: a 32-bit linear congruential
// generator, seed := seed * 134775813 + 1 (mod 2^32), starting at 0.
// The seed is advanced before every draw.
struct RandomGenerator {
    static constexpr std::uint32_t kMultiplier = 134775813u;
    static constexpr std::uint32_t kIncrement = 1u;

    std::uint32_t seed = 0;

    void Advance() { seed = seed * kMultiplier + kIncrement; }

    // Integer draw in 0..n-1: the high 32 bits of seed * n. Callers pass n >= 1;
    // n <= 0 still advances the seed and yields 0.
    std::int32_t Random(std::int32_t n)
    {
        Advance();
        if (n <= 0) return 0;
        return static_cast<std::int32_t>((static_cast<std::uint64_t>(seed) * static_cast<std::uint32_t>(n)) >> 32);
    }

    // Real draw in [0, 1): seed * 2^-32, exact in a double.
    double RandomReal()
    {
        Advance();
        return static_cast<double>(seed) * (1.0 / 4294967296.0);
    }

    // The generator as it stands after `steps` more advances, computed in
    // O(log steps): lets a pass hand a later stretch of draws to another thread.
    RandomGenerator JumpedAhead(std::uint64_t steps) const;

    // The seeds of the next `count` draws, in order, and the generator advanced
    // past them. Four interleaved streams, each seed four advances after the one
    // four places before it: the same seeds without one long chain of multiplies.
    void FillSeeds(std::uint32_t* seeds, std::size_t count);
};
