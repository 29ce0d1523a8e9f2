#include "sim/phases/tracks.h"

#include <bit>
#include <cmath>


namespace {

constexpr double kTrackMaxStart = 0.1;
constexpr double kTrackMinStart = 99999999999.0;

bool IsPositiveZero(double value) { return std::bit_cast<std::uint64_t>(value) == 0; }

void LayTrack(TrackSummary& summary, TrackSummary::Values& values, double& track, double amount)
{
    const double before = track;
    track = before + amount;
    if (!summary.known) return;
    if (IsPositiveZero(before)) values.zeros -= 1;
    if (!std::isfinite(track)) summary.known = false;
    else if (track > values.max) values.max = track;
}

// Counts a rescaled value into a summary being rebuilt; false when the value
// breaks what a summary promises.
bool CountValue(TrackSummary::Values& values, double value)
{
    if (IsPositiveZero(value)) {
        values.zeros += 1;
        return true;
    }
    if (!(value > 0.0) || !std::isfinite(value)) return false;
    if (value > values.max) values.max = value;
    return true;
}

struct TrackRange {
    double max = kTrackMaxStart;
    double min = kTrackMinStart;
};

}  // namespace

void DecayTracks(Run& run, double factor)
{
    run.trackSummary.known = false;
    for (TCell& cell : run.cells.InPassOrder()) {
        cell.allTracks = cell.allTracks * factor;
        cell.returnTracks = cell.returnTracks * factor;
    }
}

void NormalizeTracks(Run& run)
{
#ifdef LANDUSE_REFERENCE_PHASES
    NormalizeTracksPlain(run);
#else
    NormalizeTracksWithSummary(run);
#endif
}

void NormalizeTracksPlain(Run& run)
{
    std::vector<TCell>& cells = run.cells.InPassOrder();
    double returnMax = 0.1, returnMin = 99999999999.0;
    double allMax = 0.1, allMin = 99999999999.0;
    for (const TCell& cell : cells) {
        if (cell.returnTracks > returnMax) returnMax = cell.returnTracks;
        if (cell.returnTracks < returnMin) returnMin = cell.returnTracks;
        if (cell.allTracks > allMax) allMax = cell.allTracks;
        if (cell.allTracks < allMin) allMin = cell.allTracks;
    }
    // Both values are rescaled by the ranges of the scan; a value uniform over the
    // grid has no scale and is left as it is. One pass serves both, as neither
    // depends on the other.
    const bool rescaleReturn = returnMax != returnMin;
    const bool rescaleAll = allMax != allMin;
    const double returnScale = rescaleReturn ? 255.0 / (returnMax - returnMin) : 0.0;
    const double allScale = rescaleAll ? 255.0 / (allMax - allMin) : 0.0;
    for (TCell& cell : cells) {
        if (rescaleReturn && cell.returnTracks > 0.0) cell.returnTracks = (cell.returnTracks - returnMin) * returnScale;
        if (rescaleAll) cell.allTracks = (cell.allTracks - allMin) * allScale;
    }
}

void NormalizeTracksWithSummary(Run& run)
{
    TrackSummary& summary = run.trackSummary;
    std::vector<TCell>& cells = run.cells.InPassOrder();

    // With every value +0.0 or above 0 and some +0.0, the minimum is +0.0 and the
    // maximum the summary's, floored at the scan's start.
    TrackRange returning, all;
    const bool trusted = summary.known && summary.forStep == run.stepCount;
    const bool rangesKnown = trusted && summary.returning.zeros > 0 && summary.all.zeros > 0;
    if (rangesKnown) {
        returning = {summary.returning.max > kTrackMaxStart ? summary.returning.max : kTrackMaxStart, 0.0};
        all = {summary.all.max > kTrackMaxStart ? summary.all.max : kTrackMaxStart, 0.0};
    } else {
        for (const TCell& cell : cells) {
            if (cell.returnTracks > returning.max) returning.max = cell.returnTracks;
            if (cell.returnTracks < returning.min) returning.min = cell.returnTracks;
            if (cell.allTracks > all.max) all.max = cell.allTracks;
            if (cell.allTracks < all.min) all.min = cell.allTracks;
        }
    }
    const bool rescaleReturn = returning.max != returning.min;
    const bool rescaleAll = all.max != all.min;
    const double returnScale = rescaleReturn ? 255.0 / (returning.max - returning.min) : 0.0;
    const double allScale = rescaleAll ? 255.0 / (all.max - all.min) : 0.0;

    // (v - +0.0) * 1 is v, bit for bit, for every finite v other than -0.0.
    const bool keepsReturn = !rescaleReturn || (rangesKnown && returnScale == 1.0);
    const bool keepsAll = !rescaleAll || (rangesKnown && allScale == 1.0);
    if (keepsReturn && keepsAll && trusted) {
        summary.forStep = run.stepCount + 1;
        return;
    }

    TrackSummary renewed;
    bool holds = true;
    for (TCell& cell : cells) {
        if (!keepsReturn && cell.returnTracks > 0.0) cell.returnTracks = (cell.returnTracks - returning.min) * returnScale;
        if (!keepsAll) cell.allTracks = (cell.allTracks - all.min) * allScale;
        holds = CountValue(renewed.returning, cell.returnTracks) & CountValue(renewed.all, cell.allTracks) & holds;
    }
    renewed.known = holds;
    renewed.forStep = run.stepCount + 1;
    summary = renewed;
}

void LayAllTrack(Run& run, TCell& cell)
{
    LayTrack(run.trackSummary, run.trackSummary.all, cell.allTracks, 1.0);
}

void LayReturnTrack(Run& run, TCell& cell)
{
    LayTrack(run.trackSummary, run.trackSummary.returning, cell.returnTracks, 10.0);
}
