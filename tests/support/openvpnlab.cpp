#include "support/openvpnlab.h"

#include "support/freeport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int startTimeoutMs = 30000;
constexpr int stopGraceMs = 5000;
constexpr int startAttempts = 3;

const QString managementListening = QStringLiteral("MANAGEMENT: TCP Socket listening on");
const QString initialised = QStringLiteral("Initialization Sequence Completed");

QString findProgram(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                      QStringLiteral("/usr/bin")});
    return found;
}

QString openvpnProgram()
{
    static const QString program = findProgram(QStringLiteral("openvpn"));
    return program;
}

QString opensslProgram()
{
    static const QString program = findProgram(QStringLiteral("openssl"));
    return program;
}

// A path or value as one argument of an OpenVPN configuration line.
QString quotedArgument(const QString &value)
{
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + escaped + u'"';
}

QString lastLines(const QString &text, int count)
{
    QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    if (lines.size() > count)
        lines = lines.mid(lines.size() - count);
    return lines.join(u'\n');
}

QString fileBaseName(const QString &commonName)
{
    QString base;
    for (const QChar c : commonName)
        base += c.isLetterOrNumber() || c == u'-' ? c : u'_';
    return base;
}

} // namespace

struct OpenVpnLab::Process
{
    Instance instance;
    std::unique_ptr<QProcess> process;
};

OpenVpnLab::OpenVpnLab()
    : dir(QDir::tempPath() + QStringLiteral("/openvpnlab-XXXXXX"))
{
    if (!dir.isValid())
        error = QStringLiteral("cannot create a temporary directory: ") + dir.errorString();
}

OpenVpnLab::~OpenVpnLab()
{
    stopAll();
}

QString OpenVpnLab::unavailableReason()
{
    if (openvpnProgram().isEmpty())
        return QStringLiteral("the openvpn command is not installed");
    if (opensslProgram().isEmpty())
        return QStringLiteral("the openssl command is not installed");
    return {};
}

QString OpenVpnLab::tunUnavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("an OpenVPN server over tun needs root");
    const int fd = ::open("/dev/net/tun", O_RDWR);
    if (fd < 0)
        return QStringLiteral("/dev/net/tun is not usable: ") + QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return {};
}

QString OpenVpnLab::path(const QString &fileName) const
{
    return dir.filePath(fileName);
}

bool OpenVpnLab::writeFile(const QString &fileName, const QByteArray &content, bool executable)
{
    QFile file(path(fileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        error = QStringLiteral("cannot write ") + file.fileName();
        return false;
    }
    if (executable)
        file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return true;
}

bool OpenVpnLab::runOpenssl(const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(opensslProgram(), arguments);
    if (!openssl.waitForFinished(startTimeoutMs) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        error = QStringLiteral("openssl %1 failed: %2")
                    .arg(arguments.join(u' '), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}

bool OpenVpnLab::makePki()
{
    if (pkiReady)
        return true;
    if (!dir.isValid())
        return false;
    const QString reason = unavailableReason();
    if (!reason.isEmpty()) {
        error = reason;
        return false;
    }
    // "remote-cert-tls" wants the key usage as well as the extended one.
    pkiReady = writeFile(QStringLiteral("server.ext"), "keyUsage=digitalSignature,keyAgreement\nextendedKeyUsage=serverAuth\n")
               && writeFile(QStringLiteral("client.ext"), "keyUsage=digitalSignature,keyAgreement\nextendedKeyUsage=clientAuth\n")
               && runOpenssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                              QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                              QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                              QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                              QStringLiteral("ca.crt"), QStringLiteral("-days"), QStringLiteral("30"),
                              QStringLiteral("-subj"), QStringLiteral("/CN=Lab CA")});
    return pkiReady;
}

bool OpenVpnLab::makeCertificate(const QString &commonName, bool server)
{
    const QString base = fileBaseName(commonName);
    if (QFileInfo::exists(path(base + QStringLiteral(".crt"))))
        return true;
    if (!makePki())
        return false;
    // -utf8: the name is UTF-8, not one character per byte.
    return runOpenssl({QStringLiteral("req"), QStringLiteral("-utf8"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                       QStringLiteral("-nodes"), QStringLiteral("-keyout"), base + QStringLiteral(".key"),
                       QStringLiteral("-out"), base + QStringLiteral(".csr"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=") + commonName})
           && runOpenssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                          base + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                          QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                          QStringLiteral("-out"), base + QStringLiteral(".crt"), QStringLiteral("-days"),
                          QStringLiteral("30"), QStringLiteral("-extfile"),
                          server ? QStringLiteral("server.ext") : QStringLiteral("client.ext")});
}

QString OpenVpnLab::caCertificate()
{
    return makePki() ? path(QStringLiteral("ca.crt")) : QString();
}

QString OpenVpnLab::certificate(const QString &commonName)
{
    const bool server = commonName == QLatin1String("server");
    return makeCertificate(commonName, server) ? path(fileBaseName(commonName) + QStringLiteral(".crt")) : QString();
}

QString OpenVpnLab::key(const QString &commonName)
{
    const bool server = commonName == QLatin1String("server");
    return makeCertificate(commonName, server) ? path(fileBaseName(commonName) + QStringLiteral(".key")) : QString();
}

QString OpenVpnLab::encryptedKey(const QString &commonName, const QString &passphrase)
{
    const QString plain = key(commonName);
    if (plain.isEmpty())
        return {};
    const QString passFile = fileBaseName(commonName) + QStringLiteral("-key.pass");
    const QString encrypted = fileBaseName(commonName) + QStringLiteral("-encrypted.key");
    if (!writeFile(passFile, passphrase.toUtf8() + '\n')
        || !runOpenssl({QStringLiteral("pkey"), QStringLiteral("-in"), plain, QStringLiteral("-aes256"),
                        QStringLiteral("-passout"), QStringLiteral("file:") + passFile, QStringLiteral("-out"),
                        encrypted}))
        return {};
    return path(encrypted);
}

QStringList OpenVpnLab::managementLines(const QString &name, ManagementOptions &options)
{
    if (!options.enabled)
        return {};
    if (options.port == 0)
        options.port = FreePort::tcp(QHostAddress(options.address));
    QString line = QStringLiteral("management %1 %2").arg(options.address).arg(options.port);
    if (!options.password.isEmpty()) {
        const QString passwordFile = name + QStringLiteral("-management.pass");
        if (!writeFile(passwordFile, options.password.toUtf8() + '\n'))
            return {};
        line += u' ' + quotedArgument(path(passwordFile));
    }
    QStringList lines{line};
    if (options.hold)
        lines.append(QStringLiteral("management-hold"));
    if (options.queryPasswords)
        lines.append(QStringLiteral("management-query-passwords"));
    return lines;
}

const OpenVpnLab::Instance *OpenVpnLab::launch(Instance instance, const QStringList &config,
                                               const QString &readyText)
{
    stop(instance.name);
    processes.erase(instance.name);

    instance.configFile = path(instance.name + QStringLiteral(".conf"));
    instance.logFile = path(instance.name + QStringLiteral(".log"));
    QFile::remove(instance.logFile);
    if (!writeFile(instance.name + QStringLiteral(".conf"), config.join(u'\n').toUtf8() + '\n'))
        return nullptr;

    auto entry = std::make_unique<Process>();
    entry->instance = instance;
    entry->process = std::make_unique<QProcess>();
    QProcess &process = *entry->process;
    process.setWorkingDirectory(dir.path());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // The process must not outlive a test runner that crashes or is killed.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(openvpnProgram(), {QStringLiteral("--config"), instance.configFile, QStringLiteral("--log"),
                                     instance.logFile});
    if (!process.waitForStarted(startTimeoutMs)) {
        error = QStringLiteral("cannot start openvpn: ") + process.errorString();
        return nullptr;
    }
    const Instance *result = &entry->instance;
    processes[instance.name] = std::move(entry);

    if (readyText.isEmpty())
        return result;
    const bool ready = QTest::qWaitFor([&] {
        return process.state() != QProcess::Running || log(instance.name).contains(readyText);
    }, startTimeoutMs);
    if (ready && process.state() == QProcess::Running)
        return result;
    error = QStringLiteral("%1 did not come up; its log ends:\n%2")
                .arg(instance.name, lastLines(log(instance.name), 8));
    stop(instance.name);
    return nullptr;
}

const OpenVpnLab::Instance *OpenVpnLab::startServer(const ServerOptions &options)
{
    const QString name = QStringLiteral("server");
    if (!makeCertificate(name, true))
        return nullptr;
    const QString reason = tunUnavailableReason();
    if (!reason.isEmpty()) {
        error = reason;
        return nullptr;
    }
    QStringList verifyLines;
    if (options.recordCredentials) {
        QDir(dir.path()).mkpath(QStringLiteral("credentials"));
        const QByteArray script = "#!/bin/sh\ncp \"$1\" \"" + path(QStringLiteral("credentials")).toUtf8()
                                  + "/$(date +%s%N)-$$\"\nexit 0\n";
        if (!writeFile(QStringLiteral("record-credentials.sh"), script, true))
            return nullptr;
        verifyLines << QStringLiteral("script-security 2")
                    << QStringLiteral("auth-user-pass-verify %1 via-file")
                           .arg(quotedArgument(path(QStringLiteral("record-credentials.sh"))));
    }

    // A port chosen here may be taken by someone else before OpenVPN binds it: try again.
    for (int attempt = 1; attempt <= startAttempts; ++attempt) {
        ServerOptions chosen = options;
        if (chosen.port == 0)
            chosen.port = FreePort::udp(QHostAddress(chosen.address));
        if (chosen.network.isEmpty())
            chosen.network = QStringLiteral("10.88.%1.0").arg(chosen.port % 250 + 2);
        QStringList config{
            QStringLiteral("dev tun"),
            QStringLiteral("disable-dco"),
            QStringLiteral("proto udp4"),
            QStringLiteral("local ") + chosen.address,
            QStringLiteral("port %1").arg(chosen.port),
            QStringLiteral("server %1 255.255.255.0").arg(chosen.network),
            QStringLiteral("topology subnet"),
            QStringLiteral("ca ") + quotedArgument(caCertificate()),
            QStringLiteral("cert ") + quotedArgument(certificate(name)),
            QStringLiteral("key ") + quotedArgument(key(name)),
            QStringLiteral("dh none"),
            QStringLiteral("keepalive 5 30"),
            QStringLiteral("verb 3"),
        };
        config += managementLines(name, chosen.management);
        config += verifyLines;
        config += chosen.extraOptions;

        Instance instance;
        instance.name = name;
        instance.port = chosen.port;
        if (chosen.management.enabled) {
            instance.managementAddress = chosen.management.address;
            instance.managementPort = chosen.management.port;
        }
        const bool portsChosen = options.port == 0 || (options.management.enabled && options.management.port == 0);
        if (const Instance *started = launch(instance, config, chosen.management.enabled ? managementListening : initialised)) {
            serverName = name;
            return started;
        }
        if (!portsChosen || !error.contains(QLatin1String("Address already in use")))
            return nullptr;
    }
    return nullptr;
}

bool OpenVpnLab::serverIsLabs(const ClientOptions &options) const
{
    return options.remoteAddress.isEmpty() && options.remotePort == 0 && !serverName.isEmpty()
           && processes.count(serverName) != 0;
}

const OpenVpnLab::Instance *OpenVpnLab::startClient(const ClientOptions &options)
{
    const QString &commonName = options.commonName;
    const QString name = options.instanceName.isEmpty() ? commonName : options.instanceName;
    const QString keyFile = options.keyPassphrase.isEmpty() ? key(commonName) : encryptedKey(commonName, options.keyPassphrase);
    if (keyFile.isEmpty())
        return nullptr;
    if (options.tun) {
        const QString reason = tunUnavailableReason();
        if (!reason.isEmpty()) {
            error = reason;
            return nullptr;
        }
    }

    for (int attempt = 1; attempt <= startAttempts; ++attempt) {
        ClientOptions chosen = options;
        if (serverIsLabs(options)) {
            const Instance &server = processes.at(serverName)->instance;
            chosen.remoteAddress = QStringLiteral("127.0.0.1");
            chosen.remotePort = server.port;
        } else {
            if (chosen.remoteAddress.isEmpty())
                chosen.remoteAddress = QStringLiteral("127.0.0.1");
            if (chosen.remotePort == 0)
                chosen.remotePort = FreePort::udp();
        }
        QStringList config{
            QStringLiteral("client"),
            QStringLiteral("proto udp4"),
            QStringLiteral("remote %1 %2").arg(chosen.remoteAddress).arg(chosen.remotePort),
            QStringLiteral("nobind"),
            QStringLiteral("remote-cert-tls server"),
            QStringLiteral("ca ") + quotedArgument(caCertificate()),
            QStringLiteral("cert ") + quotedArgument(certificate(commonName)),
            QStringLiteral("key ") + quotedArgument(keyFile),
            QStringLiteral("route-nopull"),
            QStringLiteral("connect-retry 1 2"),
            QStringLiteral("verb 3"),
        };
        if (chosen.tun) {
            config << QStringLiteral("dev tun") << QStringLiteral("disable-dco");
        } else {
            // "dev null" cannot take the pushed address (OpenVPN 2.6 stops with a fatal error
            // setting its MTU), so the client does not take it.
            config << QStringLiteral("dev null") << QStringLiteral("pull-filter ignore \"ifconfig\"");
        }
        if (!chosen.keyPassphrase.isEmpty() && !chosen.management.queryPasswords) {
            const QString passFile = fileBaseName(commonName) + QStringLiteral("-key.pass");
            config << QStringLiteral("askpass ") + quotedArgument(path(passFile));
        }
        if (chosen.authUserPass) {
            if (chosen.username.isEmpty()) {
                config << QStringLiteral("auth-user-pass");
            } else {
                const QString authFile = fileBaseName(name) + QStringLiteral("-auth.txt");
                if (!writeFile(authFile, chosen.username + '\n' + chosen.password + '\n'))
                    return nullptr;
                config << QStringLiteral("auth-user-pass ") + quotedArgument(path(authFile));
            }
        }
        config += managementLines(fileBaseName(name), chosen.management);
        config += chosen.extraOptions;

        Instance instance;
        instance.name = name;
        instance.port = chosen.remotePort;
        if (chosen.management.enabled) {
            instance.managementAddress = chosen.management.address;
            instance.managementPort = chosen.management.port;
        }
        if (const Instance *started = launch(instance, config, chosen.management.enabled ? managementListening : QString()))
            return started;
        const bool portChosen = options.management.enabled && options.management.port == 0;
        if (!portChosen || !error.contains(QLatin1String("Address already in use")))
            return nullptr;
    }
    return nullptr;
}

bool OpenVpnLab::startServerWithClients(const ServerOptions &server, int clients, const ClientOptions &client)
{
    if (!startServer(server))
        return false;
    for (int i = 1; i <= clients; ++i) {
        ClientOptions options = client;
        options.commonName = QStringLiteral("client%1").arg(i);
        if (!startClient(options))
            return false;
    }
    return true;
}

bool OpenVpnLab::startServerWithClients(const ServerOptions &server, int clients)
{
    return startServerWithClients(server, clients, ClientOptions());
}

const OpenVpnLab::Instance *OpenVpnLab::startServer()
{
    return startServer(ServerOptions());
}

const OpenVpnLab::Instance *OpenVpnLab::startClient()
{
    return startClient(ClientOptions());
}

const OpenVpnLab::Instance *OpenVpnLab::instance(const QString &name) const
{
    const auto found = processes.find(name);
    return found == processes.end() ? nullptr : &found->second->instance;
}

bool OpenVpnLab::isRunning(const QString &name) const
{
    const auto found = processes.find(name);
    return found != processes.end() && found->second->process->state() == QProcess::Running;
}

QString OpenVpnLab::log(const QString &name) const
{
    QFile file(path(name + QStringLiteral(".log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

bool OpenVpnLab::waitForLog(const QString &name, const QString &text, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return log(name).contains(text); }, timeoutMs);
}

bool OpenVpnLab::waitForExit(const QString &name, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return !isRunning(name); }, timeoutMs);
}

QProcess *OpenVpnLab::liveProcess(const QString &name) const
{
    const auto found = processes.find(name);
    if (found == processes.end() || found->second->process->state() == QProcess::NotRunning)
        return nullptr;
    return found->second->process.get();
}

void OpenVpnLab::stop(const QString &name)
{
    QProcess *process = liveProcess(name);
    if (!process)
        return;
    process->terminate();
    if (!process->waitForFinished(stopGraceMs)) {
        process->kill();
        process->waitForFinished(stopGraceMs);
    }
}

void OpenVpnLab::kill(const QString &name)
{
    if (QProcess *process = liveProcess(name)) {
        process->kill();
        process->waitForFinished(stopGraceMs);
    }
}

void OpenVpnLab::stopAll()
{
    // Clients first, so that the server does not wait for their goodbyes.
    for (auto &entry : processes) {
        if (entry.first != serverName)
            stop(entry.first);
    }
    stop(serverName);
}

QList<OpenVpnLab::Credentials> OpenVpnLab::recordedCredentials() const
{
    QList<Credentials> result;
    const QDir records(path(QStringLiteral("credentials")));
    const QStringList files = records.entryList(QDir::Files, QDir::Name);
    for (const QString &fileName : files) {
        QFile file(records.filePath(fileName));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        const qsizetype firstEnd = content.indexOf('\n');
        Credentials credentials;
        credentials.username = QString::fromUtf8(content.left(firstEnd));
        QByteArray password = firstEnd < 0 ? QByteArray() : content.mid(firstEnd + 1);
        if (password.endsWith('\n'))
            password.chop(1);
        credentials.password = QString::fromUtf8(password);
        result.append(credentials);
    }
    return result;
}
