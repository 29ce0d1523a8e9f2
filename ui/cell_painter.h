#pragma once
#include <QImage>
#include <QRgb>

#include "agent.h"
#include "cell.h"
#include "cell_drawing.h"

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
// axes, clipped to the layer) as the cell's last recorded drawing looks: its
// kind's colour, black or white, or its gray level.
inline void PaintCell(PixelTarget& layer, const TCell& cell, bool noDestinations);

// The 3 x 3 dot centred on the agent's pixel: red while searching, lime while
// returning, its corners in the gray of the outline.
inline void DrawAgent(PixelTarget& layer, const TAgent& agent)
{
    layer.Dot(agent.pixelX, agent.pixelY, agent.mode == kReturning ? colors::kLime : colors::kRed, colors::kGray);
}

void FillLayer(QImage& layer, QRgb color);

// ---- inline definitions of the per-cell work of the drawing passes ----

namespace cell_painter_detail {

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

}  // namespace cell_painter_detail

inline void PaintCell(PixelTarget& layer, const TCell& cell, bool noDestinations)
{
    QRgb color = colors::kWhite;
    switch (LookOf(cell, noDestinations)) {
    case CellLook::Gray:
        color = qRgb(cell.grayLevel, cell.grayLevel, cell.grayLevel);
        break;
    case CellLook::KindColour:
        color = cell_painter_detail::KindColor(cell.kind);
        break;
    case CellLook::Black:
        color = colors::kBlack;
        break;
    case CellLook::White:
        color = colors::kWhite;
        break;
    }
    layer.Fill(cell.PositionX - cell.Size, cell.PositionY - cell.Size, cell.PositionX + cell.Size,
               cell.PositionY + cell.Size, color);
}
