#pragma once
#include <array>
#include <cstdint>

// Facts one phase of the step gathers in its pass over the cells so that a later
// phase need not pass over them again. Each holds only while nothing else has
// changed what it describes; `valid` says so, and every reader falls back to its
// own pass when it is false.

// What the one-pass diffusion learns of the fields it has just written, with the
// changes growth makes afterwards.
struct DiffusionSummary {
    // Largest and smallest value of each field as the normalisation's scan takes
    // them (from field_arithmetic's scan starts, strict comparisons, row-major order).
    std::array<double, 3> max{};
    std::array<double, 3> min{};
    bool extremesValid = false;

    // The best empty cells of each field for the step's growth: value above 0,
    // greatest first, the first in row-major order among equal values. `wanted`
    // is the batch size asked for (at most kMaxCandidates); when `count` is below
    // it, the list holds every empty cell with a value above 0.
    static constexpr int kMaxCandidates = 16;
    struct Candidate {
        double value;
        std::uint32_t index;  // row-major
    };
    std::array<std::array<Candidate, kMaxCandidates>, 3> candidates{};
    std::array<int, 3> candidateCount{};
    std::array<int, 3> wanted{};
    bool candidatesValid = false;

    // The cells growth has given weights since the diffusion, with their fields
    // before and after, in order; when more than fit, the extremes are given up.
    static constexpr int kMaxChanges = 64;
    struct Change {
        std::uint32_t index;
        std::array<double, 3> before;
        std::array<double, 3> after;
    };
    std::array<Change, kMaxChanges> changes{};
    int changeCount = 0;
};

// The track values as the track normalisation left them, kept up to date by the
// movement's +1 and +10. When `known`, every track value is finite and either +0.0
// or above 0, `max` is the largest (0 when none is above 0) and `zeros` counts the
// +0.0 values. It is trusted only in the step after the one that made it
// (`forStep` is that step's count before its increment), so track values written
// any other way than by movement between two normalisations are never missed.
struct TrackSummary {
    struct Values {
        double max = 0.0;
        std::int64_t zeros = 0;
    };
    Values all;
    Values returning;
    bool known = false;
    std::int32_t forStep = -1;
};
