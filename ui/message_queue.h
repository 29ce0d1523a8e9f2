#pragma once
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Shows the user one error message at a time in a modal box. A message raised
// while a box is open (a timer tick runs in the box's event loop) waits until
// that box is closed, and a message already waiting is not queued twice.
class MessageQueue {
public:
    // Takes the place of the modal box, e.g. to collect messages without blocking.
    using Sink = std::function<void(const QString& message)>;

    MessageQueue(QWidget* parent, QString caption) : parent_(parent), caption_(std::move(caption)) {}

    void SetSink(Sink sink) { sink_ = std::move(sink); }
    void Show(const QString& message);

    // Runs an action; a failure is shown, and the action is abandoned there.
    template <typename Action>
    bool Guarded(Action&& action)
    {
        try {
            action();
            return true;
        } catch (const std::exception& error) {  // conversion errors and any other failure
            Show(QString::fromStdString(error.what()));
        }
        return false;
    }

private:
    QWidget* parent_;
    QString caption_;
    Sink sink_;
    QStringList pending_;  // the open box's message first
    bool showing_ = false;
};
