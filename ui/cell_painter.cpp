#include "cell_painter.h"

#include <algorithm>
#include <cmath>

#include "rounding.h"

namespace {

double ShownValue(const TCell& cell, int drawMode)
{
    switch (drawMode) {
    case kDrawReturnTracks:
        return cell.returnTracks;
    case kDrawPotentialField:
        return cell.potential[std::clamp(cell.shownFieldNumber, 0, 2)];
    default:
        return cell.allTracks;
    }
}

QRgb KindColor(std::int32_t kind)
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

}  // namespace

int GrayLevel(const TCell& cell, int drawMode)
{
    const long double range = cell.displayMax - cell.displayMin;
    if (range == 0.0L) return 255;
    const double scale = static_cast<double>(255.0L / range);
    const double value = ShownValue(cell, drawMode);
    double g = static_cast<double>((static_cast<long double>(value) - cell.displayMin) * scale);
    if (g < 0.0) g = 0.0;
    if (g > 255.0) g = 255.0;
    return RoundHalfEven(255.0L - g);
}

void FillRect(QImage& layer, int left, int top, int right, int bottom, QRgb color)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, layer.width());
    bottom = std::min(bottom, layer.height());
    if (left >= right || top >= bottom) return;
    uchar* bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    for (int y = top; y < bottom; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(bits + y * stride);
        std::fill(line + left, line + right, color);
    }
}

void FillLayer(QImage& layer, QRgb color)
{
    layer.fill(color);
}

void DrawCell(QImage& layer, TCell& cell, int drawMode, bool noDestinations)
{
    std::int32_t selector = cell.kind;
    if (noDestinations && cell.kind >= kResidential) selector = kEmpty;

    QRgb color;
    if (cell.allBlack && cell.kind >= kResidential) {
        color = cell.kind == kDestination ? colors::kWhite : colors::kBlack;
    } else if (selector == kEmpty) {
        cell.grayLevel = GrayLevel(cell, drawMode);
        color = qRgb(cell.grayLevel, cell.grayLevel, cell.grayLevel);
    } else {
        color = KindColor(selector);
    }

    if (!layer.isNull())
        FillRect(layer, cell.PositionX - cell.Size, cell.PositionY - cell.Size, cell.PositionX + cell.Size,
                 cell.PositionY + cell.Size, color);
    cell.lastDrawnAllTracks = cell.allTracks;
}

void DrawCellIfChanged(QImage& layer, TCell& cell, int drawMode, bool noDestinations)
{
    if (std::abs(cell.allTracks - cell.lastDrawnAllTracks) > 1.0) DrawCell(layer, cell, drawMode, noDestinations);
}

void DrawAgent(QImage& layer, const TAgent& agent)
{
    const QRgb fill = agent.mode == kReturning ? colors::kLime : colors::kRed;
    if (layer.isNull()) return;
    const int width = layer.width();
    const int height = layer.height();
    uchar* bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    for (int dy = -1; dy <= 1; ++dy) {
        const int y = agent.pixelY + dy;
        if (y < 0 || y >= height) continue;
        QRgb* line = reinterpret_cast<QRgb*>(bits + y * stride);
        for (int dx = -1; dx <= 1; ++dx) {
            const int x = agent.pixelX + dx;
            if (x < 0 || x >= width) continue;
            line[x] = (dx != 0 && dy != 0) ? colors::kGray : fill;
        }
    }
}
