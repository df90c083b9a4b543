#include "support/notificationservice.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QTest>

namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString servicePath = QStringLiteral("/org/freedesktop/Notifications");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

QDBusMessage callMock(const QString &method)
{
    return QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(serviceName, servicePath, mockInterface, method));
}

} // namespace

NotificationService::~NotificationService()
{
    for (QProcess *process : {&service, &bus}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

bool NotificationService::start()
{
    const QString daemon = QStringLiteral("/usr/bin/dbus-daemon");
    if (!QFile::exists(daemon)) {
        error = QStringLiteral("dbus-daemon is not installed (Debian: dbus)");
        return false;
    }
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    QByteArray address;
    while (!address.contains('\n') && bus.waitForReadyRead(10000))
        address += bus.readAllStandardOutput();
    address = address.trimmed();
    if (address.isEmpty()) {
        error = QStringLiteral("dbus-daemon did not start: ") + QString::fromLocal8Bit(bus.readAllStandardError());
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    if (!QDBusConnection::sessionBus().isConnected()) {
        error = QStringLiteral("no connection to the bus at ") + QString::fromLatin1(address)
                + QStringLiteral(" (was a session bus used before?)");
        return false;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(address));
    service.setProcessEnvironment(environment);
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                                       QStringLiteral("--template"), QStringLiteral("notification_daemon")});
    service.waitForStarted(10000);
    const bool up = QTest::qWaitFor(
        [&] {
            return service.state() != QProcess::Running
                   || QDBusConnection::sessionBus().interface()->isServiceRegistered(serviceName);
        },
        15000);
    if (!up || service.state() != QProcess::Running) {
        error = QStringLiteral("python3-dbusmock's notification_daemon did not start (Debian: python3-dbusmock)");
        return false;
    }
    return true;
}

QList<NotificationService::Notification> NotificationService::notifications() const
{
    QList<Notification> result;
    const QDBusMessage reply = callMock(QStringLiteral("GetCalls"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    // a(tsav): time, method, arguments.
    const QDBusArgument calls = reply.arguments().constFirst().value<QDBusArgument>();
    calls.beginArray();
    while (!calls.atEnd()) {
        quint64 time = 0;
        QString method;
        QVariantList arguments;
        calls.beginStructure();
        calls >> time >> method >> arguments;
        calls.endStructure();
        if (method != QLatin1String("Notify") || arguments.size() != 8)
            continue;
        Notification notification;
        notification.appName = arguments.at(0).toString();
        notification.replacesId = arguments.at(1).toUInt();
        notification.icon = arguments.at(2).toString();
        notification.summary = arguments.at(3).toString();
        notification.body = arguments.at(4).toString();
        const QDBusArgument hints = arguments.at(6).value<QDBusArgument>();
        hints >> notification.hints;
        notification.timeout = arguments.at(7).toInt();
        result.append(notification);
    }
    calls.endArray();
    return result;
}

void NotificationService::clear()
{
    callMock(QStringLiteral("ClearCalls"));
}
