#pragma once
#include <array>
#include <cstdint>
#include <limits>

#include "model/cell.h"
#include "sim/controls/control_state.h"
#include "sim/core/step_summaries.h"

// Growth's candidates, gathered by the one-pass diffusion as it writes the fields:
// for each field, the best empty cells of one block of rows, ranked as growth's
// search ranks them (greatest value above 0 first, the first in row-major order
// among equal values), so the step's growth need not scan the grid.

// How many candidates each field's batch may need: its own placements and those
// of the batches before it in the step (homes, then service cells, then industry),
// each of which may take one of its cells; at most kMaxCandidates.
std::array<int, 3> WantedCandidates(const ControlState& controls);

// One field's list for one block of rows.
struct CandidateList {
    std::array<DiffusionSummary::Candidate, DiffusionSummary::kMaxCandidates> cells;
    int count = 0;
    int wanted = 0;
    double bar = std::numeric_limits<double>::infinity();  // a value must be above this to enter

    void Start(int wantedCount)
    {
        count = 0;
        wanted = wantedCount;
        bar = wanted > 0 ? 0.0 : std::numeric_limits<double>::infinity();
    }

    // Raises the bar to that of the list of an earlier block of rows: a value at or
    // below it is beaten by every cell that list holds, or loses the tie to it.
    void FollowEarlier(const CandidateList& earlier)
    {
        if (earlier.bar > bar) bar = earlier.bar;
    }

    // Offers the empty cells of one row, values[c] being the new value of cells[c]
    // and firstIndex the row-major index of cells[0]; rowMax is the row's largest value.
    void OfferRow(const double* values, const TCell* rowCells, std::uint32_t firstIndex, std::int32_t columns,
                  double rowMax)
    {
        if (rowMax > bar) OfferCells(values, rowCells, firstIndex, columns);
    }

private:
    void OfferCells(const double* values, const TCell* rowCells, std::uint32_t firstIndex, std::int32_t columns);
};

// Joins the lists of a field's blocks, in row order, into the summary's list, as
// one scan in row-major order would have made it: of equal values, the earlier
// block's are kept.
void JoinCandidates(DiffusionSummary& into, int field, const CandidateList* const* blocks, int count);
