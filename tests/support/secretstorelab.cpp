#include "support/secretstorelab.h"

#include "router/routerpasswordstore.h"
#include "support/privatebusconfig.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <optional>

namespace {

// Set in a lab's child.
const char rowMarker[] = "PYLON_SECRET_STORE_LAB";
const QString secretService = QStringLiteral("org.freedesktop.secrets");
const QString loginCollection = QStringLiteral("/org/freedesktop/secrets/collection/login");
constexpr int startTimeoutMs = 20000;
constexpr int rowTimeoutMs = 120000;

QString secretTool()
{
    return QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
}

// The attributes under which the store library files a password.
QStringList storeAttributes()
{
    return {QStringLiteral("server"), RouterPasswordStore::service(), QStringLiteral("user"),
            RouterPasswordStore::key()};
}

// The Collections property of the Secret Service on the bus at address; nothing while no
// service answers there.
std::optional<QStringList> collections(const QString &address)
{
    const QString name = QStringLiteral("secret-store-lab");
    std::optional<QStringList> paths;
    {
        QDBusConnection connection = QDBusConnection::connectToBus(address, name);
        QDBusMessage get = QDBusMessage::createMethodCall(secretService, QStringLiteral("/org/freedesktop/secrets"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.Secret.Service") << QStringLiteral("Collections");
        const QDBusMessage reply = connection.call(get);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const QDBusArgument list = reply.arguments().first().value<QDBusVariant>().variant().value<QDBusArgument>();
            paths.emplace();
            list.beginArray();
            while (!list.atEnd()) {
                QDBusObjectPath path;
                list >> path;
                paths->append(path.path());
            }
            list.endArray();
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return paths;
}

} // namespace

SecretStoreLab::SecretStoreLab(Store store)
    // Not after the application's name, which has a space: a D-Bus address takes none.
    : dir(QDir::tempPath() + QLatin1String("/secret-store-lab-XXXXXX")),
      environment(QProcessEnvironment::systemEnvironment())
{
    if (!dir.isValid()) {
        failure = QStringLiteral("no temporary directory");
        return;
    }
    const QString home = dir.filePath(QStringLiteral("home"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    if (!QDir().mkpath(home) || !QDir().mkpath(runtime)
        || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        failure = QStringLiteral("cannot make the lab's directories in ") + dir.path();
        return;
    }
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QLatin1String("/.local/share"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QLatin1String("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QLatin1String("/.cache"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // No display: nothing can show a password prompt, and GDBus starts no bus for one. No
    // desktop: the store library takes the Secret Service, whatever desktop the tests run on.
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP",
                             "DESKTOP_SESSION", "KDE_FULL_SESSION", "KDE_SESSION_VERSION"})
        environment.remove(QLatin1String(name));
    if (store == NoBus)
        return;

    for (const char *tool : {"dbus-daemon", "gnome-keyring-daemon", "secret-tool"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            failure = QLatin1String(tool) + QLatin1String(" is not installed (Debian packages dbus, gnome-keyring, "
                                                          "libsecret-tools; scripts/install-deps)");
            return;
        }
    }
    if (startBus())
        startKeyring(store == Keyring ? QByteArrayLiteral("lab") : QByteArray());
}

SecretStoreLab::~SecretStoreLab()
{
    // The keyring leaves with its bus too, but it may write its files until then.
    stop(keyring);
    stop(bus);
}

void SecretStoreLab::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

bool SecretStoreLab::startBus()
{
    // Nothing is started on demand (the service folder stays empty): neither a second keyring
    // nor a password prompter.
    const QString services = dir.filePath(QStringLiteral("services"));
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!QDir().mkpath(services) || !file.open(QIODevice::WriteOnly)
        || file.write(privateBusConfig(dir.path(), services)) < 0) {
        failure = QStringLiteral("cannot write the bus configuration ") + config;
        return false;
    }
    file.close();

    bus.setProcessEnvironment(environment);
    bus.start(QStringLiteral("dbus-daemon"), {QLatin1String("--config-file=") + config, QStringLiteral("--nofork"),
                                              QStringLiteral("--print-address=1")});
    // The address, on one line, once the bus listens.
    const bool ended = !QTest::qWaitFor(
        [this] { return bus.canReadLine() || bus.state() == QProcess::NotRunning; }, startTimeoutMs);
    const QString address = ended ? QString() : QString::fromUtf8(bus.readLine().trimmed());
    if (address.isEmpty()) {
        failure = QStringLiteral("dbus-daemon did not start: ") + QString::fromLocal8Bit(bus.readAllStandardError());
        return false;
    }
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    return true;
}

bool SecretStoreLab::startKeyring(const QByteArray &unlockPassword)
{
    keyring.setProcessEnvironment(environment);
    keyring.start(QStringLiteral("gnome-keyring-daemon"),
                  {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!keyring.waitForStarted(startTimeoutMs)) {
        failure = QStringLiteral("gnome-keyring-daemon did not start: ") + keyring.errorString();
        return false;
    }
    // The unlock password is what it reads up to the end of its input.
    keyring.write(unlockPassword);
    keyring.closeWriteChannel();

    // Ready once it serves the Secret Service, with its login collection made where it makes one.
    const QString address = environment.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    const bool withLogin = !unlockPassword.isEmpty();
    const bool ready = QTest::qWaitFor(
        [&] {
            if (keyring.state() == QProcess::NotRunning)
                return true;
            const std::optional<QStringList> paths = collections(address);
            return paths && (!withLogin || paths->contains(loginCollection));
        },
        startTimeoutMs);
    if (!ready || keyring.state() == QProcess::NotRunning) {
        failure = QStringLiteral("gnome-keyring-daemon did not serve the Secret Service: ")
                  + QString::fromLocal8Bit(keyring.readAllStandardError());
        return false;
    }
    return true;
}

bool SecretStoreLab::runCurrentRow()
{
    QProcessEnvironment rowEnvironment = environment;
    rowEnvironment.insert(QLatin1String(rowMarker), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(rowEnvironment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QString function = QLatin1String(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        function += QLatin1Char(':') + QLatin1String(QTest::currentDataTag());
    child.start(QCoreApplication::applicationFilePath(), {function});
    const bool finished = child.waitForFinished(rowTimeoutMs);
    if (!finished) {
        child.kill();
        child.waitForFinished(10000);
    }
    childOutput = QString::fromLocal8Bit(child.readAll());
    if (!finished)
        childOutput += QStringLiteral("\n(the row did not end within %1 s)").arg(rowTimeoutMs / 1000);
    return finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

bool SecretStoreLab::inRow()
{
    return qEnvironmentVariableIsSet(rowMarker);
}

void SecretStoreLab::shutOutSessionBus()
{
    if (!inRow())
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session-bus");
}

QVariant SecretStoreLab::storedPassword()
{
    QProcess lookup;
    lookup.start(secretTool(), QStringList{QStringLiteral("lookup")} + storeAttributes());
    if (!lookup.waitForFinished(startTimeoutMs) || lookup.exitStatus() != QProcess::NormalExit
        || lookup.exitCode() != 0)
        return QVariant();
    return QString::fromUtf8(lookup.readAllStandardOutput());
}

bool SecretStoreLab::storePassword(const QString &password)
{
    QProcess store;
    store.start(secretTool(), QStringList{QStringLiteral("store"), QStringLiteral("--label=")
                                                                       + RouterPasswordStore::service(),
                                          QStringLiteral("xdg:schema"), QStringLiteral("org.qt.keychain"),
                                          QStringLiteral("type"), QStringLiteral("plaintext")}
                                  + storeAttributes());
    store.write(password.toUtf8());
    store.closeWriteChannel();
    return store.waitForFinished(startTimeoutMs) && store.exitStatus() == QProcess::NormalExit
           && store.exitCode() == 0;
}
