#pragma once
#include <QGroupBox>

// A framed group drawn as the panel's layout places it: the frame's top line runs
// through the middle of the caption, which stands on the line near its left end,
// and the children keep the positions they are given from the group's top-left
// corner. Qt's own group box puts the caption above the frame instead and pushes
// the frame's top line down, into the children placed near the top.
class GroupFrame : public QGroupBox {
    Q_OBJECT
public:
    // Where the caption starts, from the frame's left edge.
    static constexpr int kCaptionLeft = 8;
    // Room left blank on each side of the caption where it interrupts the line.
    static constexpr int kCaptionPadding = 2;

    explicit GroupFrame(const QString& caption, QWidget* parent = nullptr);

    // The y of the frame's top line, and the rectangle the caption is drawn in.
    int TopLineY() const;
    QRect CaptionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
