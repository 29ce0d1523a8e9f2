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

// Gray level of the cell's shown value over the cell's own copy of the display
// range: 255 (white) at display min, 0 (black) at display max and above. When
// the range is empty (max = min) the scale has no value and the cell is white.
int GrayLevel(const TCell& cell, int drawMode);

// Paints the cell's square (PositionX - Size .. PositionX + Size - 1 on both
// axes, clipped to the layer) in its kind's colour or its gray level. Writes the
// gray level when it computes one, and always the last drawn all-tracks value.
void DrawCell(QImage& layer, TCell& cell, int drawMode, bool noDestinations);

// DrawCell, but only when the all-tracks value moved by more than 1 since the
// cell was last drawn.
void DrawCellIfChanged(QImage& layer, TCell& cell, int drawMode, bool noDestinations);

// The 3 x 3 dot centred on the agent's pixel: red while searching, lime while
// returning, its corners in the gray of the outline.
void DrawAgent(QImage& layer, const TAgent& agent);

// Fills the rectangle [left, right) x [top, bottom), clipped to the layer.
void FillRect(QImage& layer, int left, int top, int right, int bottom, QRgb color);
void FillLayer(QImage& layer, QRgb color);
