#include "ui/message_queue.h"

#include <QMessageBox>

void MessageQueue::Show(const QString& message)
{
    if (sink_) {
        sink_(message);
        return;
    }
    if (!pending_.contains(message)) pending_.push_back(message);
    if (showing_) return;
    showing_ = true;
    while (!pending_.isEmpty()) {
        QMessageBox box(QMessageBox::Critical, caption_, pending_.front(), QMessageBox::Ok, parent_);
        box.exec();
        pending_.pop_front();
    }
    showing_ = false;
}
