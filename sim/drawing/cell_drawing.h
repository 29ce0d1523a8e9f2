#pragma once
#include <cstdint>
#include <span>

#include "model/cell_grid.h"
#include "sim/controls/control_state.h"

struct Simulation;

// What drawing a cell records in the model, kept apart from the pixels: the
// cell's copy of the display range, its gray level and its last drawn all-tracks
// value. The screen calls RecordCellsDrawn before it paints, then paints the
// listed cells from the simulation as it stands, without writing to it.

// The value a gray cell shows.
enum class DrawMode : std::int32_t {
    AllTracks = 0,
    ReturnTracks = 1,
    PotentialField = 2,
};

// The draw mode the "Graphic" page selects: potential field, return tracks or all tracks.
DrawMode SelectedDrawMode(const ControlState& controls);

// The gray scale of a display range: 255 (white) at display min, 0 (black) at
// display max and above, linear in between. When the range is empty (max = min)
// the scale has no value and everything is white.
struct GrayScale {
    long double min = 0.0L;
    double scale = 0.0;
    bool flat = true;

    static GrayScale Of(long double displayMax, long double displayMin);
    inline int Level(double value) const;
};

// How a drawn cell looks: a gray of its gray level, its kind's colour, or black or
// white for "all destinations black".
enum class CellLook : std::int32_t { Gray, KindColour, Black, White };

// The look of the cell as drawn with the "show no destinations" flag.
inline CellLook LookOf(const TCell& cell, bool noDestinations)
{
    if (cell.allBlack && cell.kind >= kResidential)
        return cell.kind == kDestination ? CellLook::White : CellLook::Black;
    if (cell.kind == kEmpty || (noDestinations && cell.kind >= kResidential)) return CellLook::Gray;
    return CellLook::KindColour;
}

// Records one drawing of the cell of the grid at pass-order index `index`: its gray
// level when it shows gray, and always its last drawn all-tracks value. The scale
// must be that of the cell's own copy of the display range.
inline void RecordCellDraw(TCellList& cells, std::size_t index, DrawMode mode, bool noDestinations,
                           const GrayScale& scale);
// The same when the cell's all-tracks value moved by more than 1 since it was last
// drawn; true when it did.
inline bool RecordCellDrawIfChanged(TCellList& cells, std::size_t index, DrawMode mode, bool noDestinations,
                                    const GrayScale& scale);

// The passes that draw cells.
enum class CellPass {
    Step,    // the step's pass: cells whose traffic moved, or only non-empty cells with "show no tracks"
    Redraw,  // every cell
};

// Paints listed cells as soon as they are recorded, on the worker that recorded
// them, while their cells are still in its cache: each call hands over a stretch
// of whole rows of one block of rows, in pass order. It may only write pixels.
struct PaintStretch {
    void (*paint)(void* context, std::span<const std::uint32_t> cells) = nullptr;
    void* context = nullptr;
};

// Records the drawing of the pass's cells in the model and returns their indexes
// in pass order (rows outer, columns inner), for the screen to paint. The step's
// pass draws nothing with "all cells white", and every cell while a potential field
// is shown. The list lives in the run until the next call. The blocks of rows are
// recorded on the workers of the run's splitter; given a painter, each worker also
// paints what it records.
std::span<const std::uint32_t> RecordCellsDrawn(Simulation& sim, CellPass pass, PaintStretch paint = {});
// One changed cell drawn in draw mode 0 with its own copy of the display range
// (set-up, growth, migration, mouse editing). False for a position off the grid.
bool RecordCellDrawn(Simulation& sim, std::int32_t column, std::int32_t row);
// A loaded run about to be drawn by the simulation's screen: one saved without its
// drawing has every cell drawn afresh, in the panel's draw mode, and is recorded
// from here on; one saved with it keeps what it recorded.
void StartDrawingRecord(Simulation& sim);

// ---- inline definitions ----

namespace cell_drawing_detail {

// Round(255 - g), halves to even, for g in [0, 255], exactly and without
// extended arithmetic: 255 - g ties exactly when g does, and otherwise rounds
// to 255 - Round(g).
inline int InvertedGray(double g)
{
    const int whole = static_cast<int>(g);  // g >= 0: truncation is the floor
    const double fraction = g - whole;       // exact
    const int below = 254 - whole;           // 255 - g = below + (1 - fraction)
    // Below half rounds up to below + 1, above half down to below, a tie to the
    // even one of the two; without branches, as the fractions of a pass are random.
    return below + static_cast<int>(fraction < 0.5) + (static_cast<int>(fraction == 0.5) & (below & 1));
}

inline double ShownValue(const TCellList& cells, std::size_t index, DrawMode mode)
{
    const TCell& cell = cells.InPassOrder()[index];
    switch (mode) {
    case DrawMode::ReturnTracks:
        return cell.returnTracks;
    case DrawMode::PotentialField:
        return cells.PotentialAt(index,
                                 cell.shownFieldNumber >= 0 && cell.shownFieldNumber <= 2 ? cell.shownFieldNumber : 0);
    case DrawMode::AllTracks:
        break;
    }
    return cell.allTracks;
}

}  // namespace cell_drawing_detail

inline int GrayScale::Level(double value) const
{
    if (flat) return 255;
    // The difference and the product in extended precision, the result held as a double.
    double g = static_cast<double>((static_cast<long double>(value) - min) * scale);
    if (!(g >= 0.0)) g = 0.0;  // also a value that is not a number
    if (g > 255.0) g = 255.0;
    return cell_drawing_detail::InvertedGray(g);
}

inline void RecordCellDraw(TCellList& cells, std::size_t index, DrawMode mode, bool noDestinations,
                           const GrayScale& scale)
{
    TCell& cell = cells.InPassOrder()[index];
    if (LookOf(cell, noDestinations) == CellLook::Gray)
        cell.grayLevel = scale.Level(cell_drawing_detail::ShownValue(cells, index, mode));
    cell.lastDrawnAllTracks = cell.allTracks;
}

inline bool RecordCellDrawIfChanged(TCellList& cells, std::size_t index, DrawMode mode, bool noDestinations,
                                    const GrayScale& scale)
{
    const TCell& cell = cells.InPassOrder()[index];
    const double moved = cell.allTracks - cell.lastDrawnAllTracks;
    if (!(moved > 1.0 || moved < -1.0)) return false;
    RecordCellDraw(cells, index, mode, noDestinations, scale);
    return true;
}
