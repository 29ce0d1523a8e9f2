#pragma once
#include <cstdint>
#include <vector>

#include "model/cell_grid.h"

// Hands out, one by one, the cells that repeated searches for the empty cell with
// the strictly greatest positive value of one potential field would find, when
// each found cell is made non-empty before the next search (as growth does).
// Such a batch of searches only ever removes cells from the candidates and never
// changes a candidate's value, so one heap of the candidates, ordered by value and
// then by row-major position, gives the same cells as a full scan per search at a
// fraction of the cost for a large batch.
class MaxPotentialQueue {
public:
    // Makes room for a grid of that many cells, so filling the queue allocates nothing.
    void Reserve(std::size_t cellCount);

    // Collects the empty cells whose value of the field is above 0.
    void Fill(const TCellList& cells, int field);

    // The row-major index of the next cell a search would find, skipping cells that
    // are no longer empty; false when no candidate is left (the search's (0, 0) case).
    bool Next(const TCellList& cells, std::size_t& index);

private:
    struct Candidate {
        double value;
        std::size_t index;
    };
    // Orders the heap so that its top is the greatest value, and among equal values
    // the first cell in row-major order.
    static bool ComesAfter(const Candidate& a, const Candidate& b);

    std::vector<Candidate> heap_;
};
