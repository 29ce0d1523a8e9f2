#include "ui/drawing_panel.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/cell_painter.h"
#include "ui/drawing_layers.h"

namespace {
constexpr int kFrameMilliseconds = 16;
}

DrawingPanel::DrawingPanel(const DrawingLayers& layers, QWidget* parent) : QWidget(parent), layers_(layers)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setInterval(kFrameMilliseconds);
    connect(&repaintTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void DrawingPanel::ScheduleRepaint()
{
    if (!repaintTimer_.isActive()) repaintTimer_.start();
}

void DrawingPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QImage& cells = layers_.CellLayer();
    const QImage& agents = layers_.AgentLayer();
    if (cells.isNull() || agents.isNull() || cells.size() != agents.size()) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    if (composed_.size() != cells.size()) composed_ = QImage(cells.size(), QImage::Format_RGB32);
    const int width = cells.width();
    const int height = cells.height();
    for (int y = 0; y < height; ++y) {
        const QRgb* __restrict below = reinterpret_cast<const QRgb*>(cells.constScanLine(y));
        const QRgb* __restrict above = reinterpret_cast<const QRgb*>(agents.constScanLine(y));
        QRgb* __restrict out = reinterpret_cast<QRgb*>(composed_.scanLine(y));
        for (int x = 0; x < width; ++x) out[x] = Composed(below[x], above[x]);
    }
    painter.drawImage(0, 0, composed_);
}

void DrawingPanel::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    emit mousePressed(event->button(), event->modifiers().testFlag(Qt::ControlModifier), at.x(), at.y());
}

void DrawingPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    emit mouseMoved(at.x(), at.y());
}

void DrawingPanel::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    emit mouseReleased(event->button(), at.x(), at.y());
}
