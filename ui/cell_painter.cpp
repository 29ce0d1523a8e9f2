#include "ui/cell_painter.h"

namespace {

PixelView ViewOf(QImage& layer)
{
    if (layer.isNull()) return {};
    return PixelView(reinterpret_cast<Pixel*>(layer.bits()), layer.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb)),
                     layer.width(), layer.height());
}

}  // namespace

PixelTarget::PixelTarget(QImage& layer) : PixelView(ViewOf(layer)) {}

void FillLayer(QImage& layer, QRgb color)
{
    layer.fill(color);
}
