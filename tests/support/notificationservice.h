#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QVariantMap>

// A desktop notification service for tests: Debian's dbus-daemon as a private session bus and
// python3-dbusmock's notification_daemon template on it, which records every call. The bus
// becomes the process's session bus (DBUS_SESSION_BUS_ADDRESS), so start() must come before
// anything in the process connects to a session bus. Both are killed on destruction.
class NotificationService final
{
public:
    struct Notification
    {
        QString appName;
        uint replacesId = 0;
        QString icon;
        QString summary;
        QString body;
        QVariantMap hints;
        int timeout = 0;
    };

    NotificationService() = default;
    ~NotificationService();
    Q_DISABLE_COPY_MOVE(NotificationService)

    // Starts the bus and the service and waits until the service has its name; false, with
    // the reason in errorString(), when either cannot start.
    bool start();
    QString errorString() const { return error; }

    // The notifications shown since the start or the last clear(), oldest first.
    QList<Notification> notifications() const;
    void clear();

private:
    QProcess bus;
    QProcess service;
    QString error;
};
