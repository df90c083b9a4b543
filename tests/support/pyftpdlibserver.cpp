#include "support/pyftpdlibserver.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <csignal>

namespace {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        return 0;
    return probe.serverPort();
}

} // namespace

PyftpdlibServer::~PyftpdlibServer()
{
    stop();
}

bool PyftpdlibServer::start(const QString &user, const QString &password)
{
    // Another process may take the probed port before the server binds it: try again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(user, password))
            return true;
    }
    return false;
}

bool PyftpdlibServer::startOnce(const QString &user, const QString &password)
{
    stop();
    // The log of a run before would announce the server at once.
    output.clear();
    serverPort = freeLoopbackPort();
    if (serverPort == 0 || !rootDir.isValid())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-m"), QStringLiteral("pyftpdlib"),
                   QStringLiteral("-i"), QStringLiteral("127.0.0.1"),
                   QStringLiteral("-p"), QString::number(serverPort), QStringLiteral("-w"),
                   QStringLiteral("-d"), rootDir.path(),
                   QStringLiteral("-u"), user, QStringLiteral("-P"), password,
                   // Every command and reply in the log ("<- ABOR", "-> 226 ...").
                   QStringLiteral("-D")});
    if (!process.waitForStarted(10000))
        return false;
    // pyftpdlib announces the listening socket once it is bound.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (output.contains(">>> starting FTP server on"))
            return true;
        if (process.state() != QProcess::Running)
            return false;
        process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 500)));
        output += process.readAll();
    }
    return false;
}

void PyftpdlibServer::stop()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        output += process.readAll();
    }
}

void PyftpdlibServer::pause()
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGSTOP);
}

void PyftpdlibServer::resume()
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGCONT);
}

QString PyftpdlibServer::log()
{
    if (process.isOpen())
        output += process.readAll();
    return QString::fromUtf8(output);
}

QByteArray PyftpdlibServer::file(const QString &path) const
{
    QFile stored(rootDir.path() + u'/' + path);
    if (!stored.open(QIODevice::ReadOnly))
        return QByteArray();
    return stored.readAll();
}

QStringList PyftpdlibServer::temporaries() const
{
    QStringList found;
    QDirIterator it(root(), {QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}
