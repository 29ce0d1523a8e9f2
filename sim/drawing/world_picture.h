#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/agent.h"
#include "model/cell.h"
#include "model/cell_grid.h"
#include "sim/core/screen_hooks.h"
#include "sim/drawing/cell_drawing.h"

struct Simulation;

// The pixel rules of the drawing panel, free of any window library: the colours,
// a cell's square, an agent's dot, and the picture of a whole run. The window
// paints its layers with these same routines on its own image memory, so a
// picture taken without the window shows what the window shows.

// A pixel as 0xAARRGGBB in one 32-bit word (alpha always 0xFF): the layout of the
// window's RGB32 images.
using Pixel = std::uint32_t;

namespace colors {
inline constexpr Pixel kNavy = 0xFF000080;
inline constexpr Pixel kGreen = 0xFF008000;
inline constexpr Pixel kLime = 0xFF00FF00;
inline constexpr Pixel kRed = 0xFFFF0000;
inline constexpr Pixel kGray = 0xFF808080;
inline constexpr Pixel kMaroon = 0xFF800000;
inline constexpr Pixel kBlack = 0xFF000000;
inline constexpr Pixel kWhite = 0xFFFFFFFF;
// Industry: there is no hot-tracked-item system colour to look up here, so a
// fixed blue that no other kind uses.
inline constexpr Pixel kIndustry = 0xFF0066CC;

inline constexpr Pixel GrayOf(int level)
{
    const auto v = static_cast<Pixel>(level & 0xFF);
    return 0xFF000000u | (v << 16) | (v << 8) | v;
}
inline constexpr std::uint8_t RedOf(Pixel p) { return static_cast<std::uint8_t>(p >> 16); }
inline constexpr std::uint8_t GreenOf(Pixel p) { return static_cast<std::uint8_t>(p >> 8); }
inline constexpr std::uint8_t BlueOf(Pixel p) { return static_cast<std::uint8_t>(p); }
}  // namespace colors

// The drawing panel's side in pixels: the grid's panel.
inline constexpr int kPictureSide = kPanelSize;

// Pixels of a layer someone else owns: a base address, a row stride and a size.
// Everything written is clipped to the layer.
class PixelView {
public:
    PixelView() = default;
    PixelView(Pixel* bits, std::ptrdiff_t stride, int width, int height)
        : bits_(bits), stride_(stride), width_(width), height_(height)
    {
    }

    int width() const { return width_; }
    int height() const { return height_; }
    const Pixel* Line(int y) const { return bits_ + y * stride_; }

    // [left, right) x [top, bottom), clipped
    void Fill(int left, int top, int right, int bottom, Pixel color)
    {
        if (left < 0) left = 0;
        if (top < 0) top = 0;
        if (right > width_) right = width_;
        if (bottom > height_) bottom = height_;
        for (int y = top; y < bottom; ++y) {
            Pixel* line = bits_ + y * stride_;
            for (int x = left; x < right; ++x) line[x] = color;
        }
    }
    void Put(int x, int y, Pixel color)  // clipped
    {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        bits_[y * stride_ + x] = color;
    }
    // The 3 x 3 block around (x, y): the centre cross in one colour, the corners in another.
    void Dot(int x, int y, Pixel cross, Pixel corners);

private:
    Pixel* bits_ = nullptr;
    std::ptrdiff_t stride_ = 0;  // in pixels
    int width_ = 0;
    int height_ = 0;
};

// The colour of a kind shown in its colour; white for a kind without one.
inline Pixel KindColour(std::int32_t kind)
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

// Paints the cell's square (PositionX - Size .. PositionX + Size - 1 on both
// axes, clipped to the layer) as the cell's last recorded drawing looks: its
// kind's colour, black or white, or its gray level.
inline void PaintCell(PixelView& layer, const TCell& cell, bool noDestinations)
{
    Pixel color = colors::kWhite;
    switch (LookOf(cell, noDestinations)) {
    case CellLook::Gray:
        color = colors::GrayOf(cell.grayLevel);
        break;
    case CellLook::KindColour:
        color = KindColour(cell.kind);
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

// The 3 x 3 dot centred on the agent's pixel: red while searching, lime while
// returning, its corners in the gray of the outline.
inline void DrawAgent(PixelView& layer, const TAgent& agent)
{
    layer.Dot(agent.pixelX, agent.pixelY, agent.mode == kReturning ? colors::kLime : colors::kRed, colors::kGray);
}

// The panel's composition: the agent layer over the cell layer, white on the agent
// layer letting the cell layer through.
inline Pixel Composed(Pixel cellLayer, Pixel agentLayer)
{
    return agentLayer == colors::kWhite ? cellLayer : agentLayer;
}

// ---- the picture of a whole run, from its state ----

// The cell layer as the step's drawing pass leaves it, from every cell's last
// recorded drawing: white under "all cells white" (the pass draws none), white
// with only the non-empty cells under "show no tracks" (unless a potential field
// is shown, which the pass draws in every cell), else every cell. The
// window's own layer also keeps what was drawn after its last pass (cells that
// changed kind during a step, gravity lines); gravity lines are drawn by the
// window alone and never appear here.
void PaintCellLayer(PixelView layer, const Simulation& sim);
// The agent layer: white, with every agent's dot in list order when "show agents"
// is on. The agents stand where the run has them now (the window's layer shows
// them where they stood when the step drew them, before they moved).
void PaintAgentLayer(PixelView layer, const Simulation& sim);

// The panel as one image: kPictureSide x kPictureSide pixels, rows top to bottom.
std::vector<Pixel> WorldPixels(const Simulation& sim);
// The same as 8-bit RGB triples, rows top to bottom (kPictureSide * kPictureSide * 3 bytes).
std::vector<std::uint8_t> WorldPictureRgb(const Simulation& sim);

// A screen without pixels: it records in the cells what the window's drawing
// records (gray levels, last drawn traffic), and nothing else, so that a run
// driven without the window can still be pictured as the window would show it.
// Recording reads the run and writes only the cells' drawing fields, so the run
// is the same with it or without it; a run without it shows no tracks (its
// cells keep the white of set-up).
class DrawingRecorder : public ScreenHooks {
public:
    explicit DrawingRecorder(Simulation& sim) : sim_(sim) {}
    bool PaintsCells() const override { return true; }
    void DrawCells() override;
    void RedrawCells() override;
    void DrawCell(std::int32_t column, std::int32_t row) override;

private:
    Simulation& sim_;
};
