#pragma once

#include <QObject>
#include <QString>

// Shows desktop notifications through the session's notification service (the freedesktop
// Notifications interface on the session bus). Calls are asynchronous: the GUI thread never
// waits for the service. Without a session bus or a notification service nothing is shown
// and nothing is reported. Each notification takes the place of the one sent before, so that a
// connection that comes and goes leaves one notification on the desktop, not a pile of them.
class DesktopNotifier final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(DesktopNotifier)

    // The body is plain text, escaped for the services that read markup in it.
    void notify(const QString &summary, const QString &body);

signals:
    // The service has answered a notification with its id.
    void shown(uint id);

private:
    // The service's id of the last notification shown, 0 before the first answer.
    uint lastId = 0;
};
