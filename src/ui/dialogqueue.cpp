#include "ui/dialogqueue.h"

#include <QScopedValueRollback>

DialogQueue::DialogQueue(QObject *parent)
    : QObject(parent)
{
}

void DialogQueue::post(std::function<void()> dialog)
{
    posted.append(std::move(dialog));
    // One call waits in the event loop at a time; while one runs, it takes what comes.
    if (posted.size() == 1 && !running)
        QMetaObject::invokeMethod(this, &DialogQueue::runPosted, Qt::QueuedConnection);
}

void DialogQueue::runPosted()
{
    const QScopedValueRollback<bool> guard(running, true);
    while (!posted.isEmpty()) {
        const std::function<void()> dialog = posted.takeFirst();
        dialog();
    }
}
