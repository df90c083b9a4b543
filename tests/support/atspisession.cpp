#include "support/atspisession.h"

#include "support/privatebusconfig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr int startTimeoutMs = 15000;

// The process groups of the running sessions, for a signal that ends the process before its
// destructors run.
constexpr int maximumGroups = 16;
volatile sig_atomic_t groups[maximumGroups] = {};

void endGroups(int signalNumber)
{
    for (const sig_atomic_t group : groups) {
        if (group > 0)
            ::kill(-pid_t(group), SIGKILL);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void remember(qint64 group)
{
    for (volatile sig_atomic_t &slot : groups) {
        if (slot == 0) {
            slot = sig_atomic_t(group);
            return;
        }
    }
}

void forget(qint64 group)
{
    for (volatile sig_atomic_t &slot : groups) {
        if (slot == group)
            slot = 0;
    }
}

const QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
const QString connectionName = QStringLiteral("atspi-session");

} // namespace

AtSpiSession::~AtSpiSession()
{
    // The bus launcher first: its accessibility bus and the registry go with its group.
    for (auto it = processes.rbegin(); it != processes.rend(); ++it) {
        QProcess &process = **it;
        const qint64 group = process.processId();
        if (group <= 0)
            continue;
        ::kill(-pid_t(group), SIGTERM);
        if (!process.waitForFinished(5000)) {
            ::kill(-pid_t(group), SIGKILL);
            process.waitForFinished(5000);
        }
        // Whatever of the group outlived its leader.
        ::kill(-pid_t(group), SIGKILL);
        forget(group);
    }
    QDBusConnection::disconnectFromBus(connectionName);
}

QByteArray AtSpiSession::startReporting(const QString &program, const QStringList &arguments, const QString &what)
{
    if (!QFile::exists(program)) {
        error = QStringLiteral("%1 is not installed (%2)").arg(program, what);
        return {};
    }
    QProcess &process = launch(program, arguments);
    QByteArray line;
    while (!line.contains('\n') && process.waitForReadyRead(startTimeoutMs))
        line += process.readAllStandardOutput();
    line = line.trimmed();
    if (line.isEmpty())
        error = QStringLiteral("%1 did not start: %2").arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return line;
}

QProcess &AtSpiSession::launch(const QString &program, const QStringList &arguments)
{
    static const bool handled = [] {
        struct sigaction action = {};
        action.sa_handler = endGroups;
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(signalNumber, &action, nullptr);
        return true;
    }();
    Q_UNUSED(handled)
    auto process = std::make_unique<QProcess>();
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    process->setProcessEnvironment(environment());
    process->start(program, arguments);
    remember(process->processId());
    processes.push_back(std::move(process));
    return *processes.back();
}

bool AtSpiSession::start()
{
    if (!work.isValid()) {
        error = QStringLiteral("no temporary directory");
        return false;
    }
    // Xvfb writes the display number it took to the descriptor given.
    const QByteArray number = startReporting(QStringLiteral("/usr/bin/Xvfb"),
                                             {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                                              QStringLiteral("1024x768x24")},
                                             QStringLiteral("Debian: xvfb"));
    if (number.isEmpty())
        return false;
    display = QLatin1Char(':') + QString::fromLatin1(number);

    // A session bus that starts no services: nothing on it may reach the desktop's own.
    QFile config(work.filePath(QStringLiteral("session.conf")));
    if (!config.open(QIODevice::WriteOnly) || config.write(privateBusConfig(work.path())) < 0) {
        error = config.errorString();
        return false;
    }
    config.close();
    busAddress = QString::fromLatin1(startReporting(
        QStringLiteral("/usr/bin/dbus-daemon"),
        {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"), QStringLiteral("--print-address")},
        QStringLiteral("Debian: dbus")));
    if (busAddress.isEmpty())
        return false;
    return startBusLauncher();
}

bool AtSpiSession::startBusLauncher()
{
    if (!QFile::exists(launcher)) {
        error = launcher + QStringLiteral(" is not installed (Debian: at-spi2-core)");
        return false;
    }
    QProcess &started = launch(launcher, {QStringLiteral("--launch-immediately")});

    // The launcher owns org.a11y.Bus once its accessibility bus is up, and then tells its
    // address.
    const QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName);
    const QString service = QStringLiteral("org.a11y.Bus");
    QString address;
    const bool answered = QTest::qWaitFor(
        [&] {
            if (started.state() == QProcess::NotRunning || !bus.isConnected()
                || !bus.interface()->isServiceRegistered(service))
                return started.state() == QProcess::NotRunning;
            const QDBusReply<QString> reply = bus.call(
                QDBusMessage::createMethodCall(service, QStringLiteral("/org/a11y/bus"), service, QStringLiteral("GetAddress")));
            address = reply.isValid() ? reply.value() : QString();
            return !address.isEmpty();
        },
        startTimeoutMs);
    if (!answered || address.isEmpty()) {
        error = QStringLiteral("the AT-SPI bus launcher did not offer an accessibility bus");
        return false;
    }
    return true;
}

QProcessEnvironment AtSpiSession::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
    environment.remove(QStringLiteral("NO_AT_BRIDGE"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), work.path());
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("1"));
    return environment;
}
