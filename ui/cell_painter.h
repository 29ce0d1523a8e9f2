#pragma once
#include <QImage>
#include <QRgb>

#include "agent.h"
#include "cell.h"

// Pixel rules of one cell and one agent on a layer image (Format_RGB32).
// Pixels are written directly: a step can repaint tens of thousands of cells.

namespace colors {
inline constexpr QRgb kNavy = 0xFF000080;
inline constexpr QRgb kGreen = 0xFF008000;
inline constexpr QRgb kLime = 0xFF00FF00;
inline constexpr QRgb kRed = 0xFFFF0000;
inline constexpr QRgb kGray = 0xFF808080;
inline constexpr QRgb kMaroon = 0xFF800000;
inline constexpr QRgb kBlack = 0xFF000000;
inline constexpr QRgb kWhite = 0xFFFFFFFF;
// Industry: there is no hot-tracked-item system colour to look up here, so a
// fixed blue that no other kind uses.
inline constexpr QRgb kIndustry = 0xFF0066CC;
}  // namespace colors

// Draw modes: the value a gray cell shows.
enum DrawMode : int {
    kDrawAllTracks = 0,
    kDrawReturnTracks = 1,
    kDrawPotentialField = 2,
};

// The gray scale of a display range: 255 (white) at display min, 0 (black) at
// display max and above, linear in between. When the range is empty (max = min)
// the scale has no value and everything is white.
struct GrayScale {
    long double min = 0.0L;
    double scale = 0.0;
    bool flat = true;

    static GrayScale Of(long double displayMax, long double displayMin);
    // From the cell's own copy of the display range.
    static GrayScale Of(const TCell& cell) { return Of(cell.displayMax, cell.displayMin); }
    inline int Level(double value) const;
};

// The pixels of a layer, taken once for a whole pass.
class PixelTarget {
public:
    explicit PixelTarget(QImage& layer);
    // [left, right) x [top, bottom), clipped
    void Fill(int left, int top, int right, int bottom, QRgb color)
    {
        if (left < 0) left = 0;
        if (top < 0) top = 0;
        if (right > width_) right = width_;
        if (bottom > height_) bottom = height_;
        for (int y = top; y < bottom; ++y) {
            QRgb* line = bits_ + y * stride_;
            for (int x = left; x < right; ++x) line[x] = color;
        }
    }
    void Put(int x, int y, QRgb color)                                // clipped
    {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        bits_[y * stride_ + x] = color;
    }
    // The 3 x 3 block around (x, y): the centre cross in one colour, the corners in another.
    void Dot(int x, int y, QRgb cross, QRgb corners);

private:
    QRgb* bits_ = nullptr;
    qsizetype stride_ = 0;  // in pixels
    int width_ = 0;
    int height_ = 0;
};

// Paints the cell's square (PositionX - Size .. PositionX + Size - 1 on both
// axes, clipped to the layer) in its kind's colour or its gray level. Writes the
// gray level when it computes one, and always the last drawn all-tracks value.
// The scale must be that of the cell's own copy of the display range.
inline void DrawCell(PixelTarget& layer, TCell& cell, int drawMode, bool noDestinations, const GrayScale& scale);
void DrawCell(QImage& layer, TCell& cell, int drawMode, bool noDestinations);

// DrawCell, but only when the all-tracks value moved by more than 1 since the
// cell was last drawn.
inline void DrawCellIfChanged(PixelTarget& layer, TCell& cell, int drawMode, bool noDestinations,
                              const GrayScale& scale)
{
    const double moved = cell.allTracks - cell.lastDrawnAllTracks;
    if (moved > 1.0 || moved < -1.0) DrawCell(layer, cell, drawMode, noDestinations, scale);
}

// The 3 x 3 dot centred on the agent's pixel: red while searching, lime while
// returning, its corners in the gray of the outline.
inline void DrawAgent(PixelTarget& layer, const TAgent& agent)
{
    layer.Dot(agent.pixelX, agent.pixelY, agent.mode == kReturning ? colors::kLime : colors::kRed, colors::kGray);
}

void FillLayer(QImage& layer, QRgb color);

// ---- inline definitions of the per-cell work of the drawing passes ----

namespace cell_painter_detail {

inline double ShownValue(const TCell& cell, int drawMode)
{
    switch (drawMode) {
    case kDrawReturnTracks:
        return cell.returnTracks;
    case kDrawPotentialField:
        return cell.potential[cell.shownFieldNumber >= 0 && cell.shownFieldNumber <= 2 ? cell.shownFieldNumber : 0];
    default:
        return cell.allTracks;
    }
}

inline QRgb KindColor(std::int32_t kind)
{
    switch (kind) {
    case kObstacle:
        return colors::kNavy;
    case kResidential:
        return colors::kGreen;
    case kDestination:
        return colors::kLime;
    case kService:
        return colors::kRed;
    case kIndustry:
        return colors::kIndustry;
    default:
        return colors::kWhite;
    }
}

// Round(255 - g), halves to even, for g in [0, 255], exactly and without
// extended arithmetic: 255 - g ties exactly when g does, and otherwise rounds
// to 255 - Round(g).
inline int InvertedGray(double g)
{
    const int whole = static_cast<int>(g);  // g >= 0: truncation is the floor
    const double fraction = g - whole;       // exact
    const int below = 254 - whole;           // 255 - g = below + (1 - fraction)
    if (fraction < 0.5) return below + 1;
    if (fraction > 0.5) return below;
    return (below & 1) == 0 ? below : below + 1;
}

}  // namespace cell_painter_detail

inline int GrayScale::Level(double value) const
{
    if (flat) return 255;
    // The difference and the product in extended precision, the result held as a double.
    double g = static_cast<double>((static_cast<long double>(value) - min) * scale);
    if (!(g >= 0.0)) g = 0.0;  // also a value that is not a number
    if (g > 255.0) g = 255.0;
    return cell_painter_detail::InvertedGray(g);
}

inline void DrawCell(PixelTarget& layer, TCell& cell, int drawMode, bool noDestinations, const GrayScale& scale)
{
    std::int32_t selector = cell.kind;
    if (noDestinations && cell.kind >= kResidential) selector = kEmpty;

    QRgb color;
    if (cell.allBlack && cell.kind >= kResidential) {
        color = cell.kind == kDestination ? colors::kWhite : colors::kBlack;
    } else if (selector == kEmpty) {
        cell.grayLevel = scale.Level(cell_painter_detail::ShownValue(cell, drawMode));
        color = qRgb(cell.grayLevel, cell.grayLevel, cell.grayLevel);
    } else {
        color = cell_painter_detail::KindColor(selector);
    }

    layer.Fill(cell.PositionX - cell.Size, cell.PositionY - cell.Size, cell.PositionX + cell.Size,
               cell.PositionY + cell.Size, color);
    cell.lastDrawnAllTracks = cell.allTracks;
}
