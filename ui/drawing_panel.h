#pragma once
#include <QImage>
#include <QTimer>
#include <QWidget>

class DrawingLayers;

// The drawing panel: paints the cell layer with the agent layer over it (white
// pixels of the agent layer let the cells show through) and reports mouse
// presses, drags and releases in panel pixels, also while the mouse is dragged
// beyond its edges.
class DrawingPanel : public QWidget {
    Q_OBJECT
public:
    explicit DrawingPanel(const DrawingLayers& layers, QWidget* parent = nullptr);

    // Asks for a repaint at screen rate: many changes in quick succession (a
    // running simulation, a mouse drag) give one repaint per frame.
    void ScheduleRepaint();

signals:
    void mousePressed(Qt::MouseButton button, bool ctrl, int x, int y);
    void mouseMoved(int x, int y);
    void mouseReleased(Qt::MouseButton button, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const DrawingLayers& layers_;
    QImage composed_;
    QTimer repaintTimer_;
};
