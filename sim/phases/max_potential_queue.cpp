#include "sim/phases/max_potential_queue.h"

#include <algorithm>

void MaxPotentialQueue::Reserve(std::size_t cellCount)
{
    heap_.clear();
    heap_.reserve(cellCount);
}

bool MaxPotentialQueue::ComesAfter(const Candidate& a, const Candidate& b)
{
    if (a.value != b.value) return a.value < b.value;
    return a.index > b.index;
}

void MaxPotentialQueue::Fill(const TCellList& cells, int field)
{
    heap_.clear();
    const std::vector<TCell>& all = cells.InPassOrder();
    const double* potential = cells.Field(field);
    for (std::size_t i = 0; i < all.size(); ++i) {
        // "> 0.0" also leaves out a value that is not a number, as the scan's test does.
        if (all[i].kind == kEmpty && potential[i] > 0.0) heap_.push_back({potential[i], i});
    }
    std::make_heap(heap_.begin(), heap_.end(), ComesAfter);
}

bool MaxPotentialQueue::Next(const TCellList& cells, std::size_t& index)
{
    const std::vector<TCell>& all = cells.InPassOrder();
    while (!heap_.empty()) {
        std::pop_heap(heap_.begin(), heap_.end(), ComesAfter);
        const Candidate top = heap_.back();
        heap_.pop_back();
        if (all[top.index].kind == kEmpty) {
            index = top.index;
            return true;
        }
    }
    return false;
}
