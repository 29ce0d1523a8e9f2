#include "ui/group_frame.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

GroupFrame::GroupFrame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
    // Children are placed by position, never by a layout; no margins are reserved.
    setContentsMargins(0, 0, 0, 0);
}

int GroupFrame::TopLineY() const
{
    return fontMetrics().height() / 2;
}

QRect GroupFrame::CaptionRect() const
{
    const QFontMetrics metrics = fontMetrics();
    const int width = metrics.horizontalAdvance(title()) + 2 * kCaptionPadding;
    return QRect(kCaptionLeft, 0, width, metrics.height());
}

void GroupFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);

    // An etched line, drawn here rather than by the style: styles place a group
    // box's frame below its caption, which is what this frame must not do.
    const QRect frame = rect().adjusted(0, TopLineY(), 0, 0);
    qDrawShadeRect(&painter, frame, palette(), true, 1, 0);

    if (title().isEmpty()) return;
    // The caption blanks out the line behind it, in the colour of the page.
    const QRect caption = CaptionRect();
    painter.fillRect(caption, palette().brush(backgroundRole()));
    style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          title(), foregroundRole());
}
