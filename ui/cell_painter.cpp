#include "cell_painter.h"

PixelTarget::PixelTarget(QImage& layer)
{
    if (layer.isNull()) return;
    bits_ = reinterpret_cast<QRgb*>(layer.bits());
    stride_ = layer.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    width_ = layer.width();
    height_ = layer.height();
}

void PixelTarget::Dot(int x, int y, QRgb cross, QRgb corners)
{
    if (x >= 1 && y >= 1 && x + 1 < width_ && y + 1 < height_) {
        QRgb* above = bits_ + (y - 1) * stride_ + x;
        QRgb* centre = above + stride_;
        QRgb* below = centre + stride_;
        above[-1] = corners, above[0] = cross, above[1] = corners;
        centre[-1] = cross, centre[0] = cross, centre[1] = cross;
        below[-1] = corners, below[0] = cross, below[1] = corners;
        return;
    }
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) Put(x + dx, y + dy, (dx != 0 && dy != 0) ? corners : cross);
}

void FillLayer(QImage& layer, QRgb color)
{
    layer.fill(color);
}
