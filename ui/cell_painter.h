#pragma once
#include <QImage>
#include <QRgb>

#include "sim/drawing/world_picture.h"

// The window's side of the pixel rules: its layer images (Format_RGB32, whose
// pixels are the 0xAARRGGBB words of world_picture.h) painted with the same
// routines a picture without the window uses. Pixels are written directly: a
// step can repaint tens of thousands of cells.

static_assert(sizeof(QRgb) == sizeof(Pixel), "a layer's pixels are the painter's pixels");

// The pixels of a layer, taken once for a whole pass.
class PixelTarget : public PixelView {
public:
    explicit PixelTarget(QImage& layer);
};

void FillLayer(QImage& layer, QRgb color);
