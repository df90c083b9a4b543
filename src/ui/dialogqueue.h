#pragma once

#include <QList>
#include <QObject>

#include <functional>

// Runs dialogs from the event loop, one after another. A modal dialog runs an event loop of
// its own until the user closes it; opened from inside the handling of a management reply or
// notification, it would hold up every further line of the connection (the transport hands
// up no more lines until the handler has returned), so that replies wait and the command
// after them times out. Such dialogs are posted here instead and opened once the handler has
// returned; one posted while another is open follows when that one has closed.
class DialogQueue final : public QObject
{
    Q_OBJECT

public:
    explicit DialogQueue(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(DialogQueue)

    // Runs `dialog` from the event loop, after the dialogs posted before it.
    void post(std::function<void()> dialog);

private:
    void runPosted();

    QList<std::function<void()>> posted;
    bool running = false;
};
