#include "ui/desktopnotifier.h"

#include "common/version.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
// The icon and the desktop entry the package installs.
const QString desktopName = QStringLiteral("pylon-router");
// The service's own choice of how long a notification stays.
constexpr int defaultTimeout = -1;

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent)
    : QObject(parent)
{
}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    // Connected at the first notification, not before: most runs never send one.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    call << QString(Version::applicationName) << lastId << desktopName << summary << body.toHtmlEscaped()
         << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), desktopName}} << defaultTimeout;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<uint> reply = *finished;
        finished->deleteLater();
        if (!reply.isValid())
            return;
        lastId = reply.value();
        emit shown(lastId);
    });
}
