#include "sim/drawing/world_picture.h"

#include "sim/core/simulation.h"

void PixelView::Dot(int x, int y, Pixel cross, Pixel corners)
{
    if (x >= 1 && y >= 1 && x + 1 < width_ && y + 1 < height_) {
        Pixel* above = bits_ + (y - 1) * stride_ + x;
        Pixel* centre = above + stride_;
        Pixel* below = centre + stride_;
        above[-1] = corners, above[0] = cross, above[1] = corners;
        centre[-1] = cross, centre[0] = cross, centre[1] = cross;
        below[-1] = corners, below[0] = cross, below[1] = corners;
        return;
    }
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) Put(x + dx, y + dy, (dx != 0 && dy != 0) ? corners : cross);
}

void PaintCellLayer(PixelView layer, const Simulation& sim)
{
    const ControlState& controls = sim.controls;
    layer.Fill(0, 0, layer.width(), layer.height(), colors::kWhite);
    if (!sim.run.ready || controls.CB_noTracks) return;
    // While a potential field is shown the step's pass draws every cell, "show no
    // tracks" or not (RecordCellsDrawn).
    const bool onlyKinds = controls.CB_showOrig && !controls.CB_potField;
    for (const TCell& cell : sim.run.cells.InPassOrder())
        if (!onlyKinds || cell.kind != kEmpty) PaintCell(layer, cell, controls.cb_noDesti);
}

void PaintAgentLayer(PixelView layer, const Simulation& sim)
{
    layer.Fill(0, 0, layer.width(), layer.height(), colors::kWhite);
    if (!sim.run.ready || !sim.controls.CB_showAg) return;
    for (const TAgent& agent : sim.run.agents) DrawAgent(layer, agent);
}

std::vector<Pixel> WorldPixels(const Simulation& sim)
{
    std::vector<Pixel> pixels(static_cast<std::size_t>(kPictureSide) * kPictureSide);
    PixelView panel(pixels.data(), kPictureSide, kPictureSide, kPictureSide);
    PaintCellLayer(panel, sim);
    // The dots straight onto the cells: a dot is never white, so the last dot over
    // a pixel is what the composition of the two layers would show there.
    if (sim.run.ready && sim.controls.CB_showAg)
        for (const TAgent& agent : sim.run.agents) DrawAgent(panel, agent);
    return pixels;
}

std::vector<std::uint8_t> WorldPictureRgb(const Simulation& sim)
{
    const std::vector<Pixel> pixels = WorldPixels(sim);
    std::vector<std::uint8_t> rgb(pixels.size() * 3);
    std::uint8_t* __restrict out = rgb.data();
    for (const Pixel p : pixels) {
        *out++ = colors::RedOf(p);
        *out++ = colors::GreenOf(p);
        *out++ = colors::BlueOf(p);
    }
    return rgb;
}

void DrawingRecorder::DrawCells()
{
    RecordCellsDrawn(sim_, CellPass::Step);
}

void DrawingRecorder::RedrawCells()
{
    RecordCellsDrawn(sim_, CellPass::Redraw);
}

void DrawingRecorder::DrawCell(std::int32_t column, std::int32_t row)
{
    RecordCellDrawn(sim_, column, row);
}
