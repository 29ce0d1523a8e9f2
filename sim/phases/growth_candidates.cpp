#include "sim/phases/growth_candidates.h"

#include <algorithm>
#include <string>

#include "sim/controls/conversion.h"

std::array<int, 3> WantedCandidates(const ControlState& controls)
{
    std::array<int, 3> wanted{};
    const std::string* texts[3] = {&controls.E_crAgs, &controls.E_crServ, &controls.E_crIndu};
    std::int64_t before = 0;
    for (int f = 0; f < 3; ++f) {
        std::int32_t n = 0;
        if (!TryStrToInt(*texts[f], n)) break;  // growth stops at this text
        if (n <= 0) continue;
        before += n;
        wanted[f] = static_cast<int>(std::min<std::int64_t>(before, DiffusionSummary::kMaxCandidates));
    }
    return wanted;
}

void CandidateList::OfferCells(const double* values, const TCell* rowCells, std::uint32_t firstIndex,
                               std::int32_t columns)
{
    for (std::int32_t c = 0; c < columns; ++c) {
        const double value = values[c];
        if (!(value > bar) || rowCells[c].kind != kEmpty) continue;
        // Met after every cell already listed: it goes behind those of equal value.
        int at = count < wanted ? count++ : wanted - 1;
        while (at > 0 && cells[at - 1].value < value) {
            cells[at] = cells[at - 1];
            --at;
        }
        cells[at] = {value, firstIndex + static_cast<std::uint32_t>(c)};
        if (count == wanted) bar = cells[count - 1].value;
    }
}

void JoinCandidates(DiffusionSummary& into, int field, const CandidateList* const* blocks, int count)
{
    auto& joined = into.candidates[field];
    int joinedCount = 0;
    into.wanted[field] = count > 0 ? blocks[0]->wanted : 0;
    for (int b = 0; b < count; ++b) {
        const CandidateList& next = *blocks[b];
        const auto earlier = joined;
        const int earlierCount = joinedCount;
        int n = 0, i = 0, j = 0;
        while (n < next.wanted && (i < earlierCount || j < next.count)) {
            const bool takeEarlier = j >= next.count || (i < earlierCount && !(next.cells[j].value > earlier[i].value));
            joined[n++] = takeEarlier ? earlier[i++] : next.cells[j++];
        }
        joinedCount = n;
    }
    into.candidateCount[field] = joinedCount;
}
