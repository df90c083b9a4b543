#include "support/pyftpdlibserver.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <csignal>

namespace {

// pyftpdlib's own command line cannot take MLST or SITE CHMOD away; its handler can.
const char driver[] = R"(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

host, port, root, user, password, options = sys.argv[1:7]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwT" if "no-chmod" in options else "elradfmwMT")

class Handler(FTPHandler):
    def ftp_DELE(self, path):
        if "slow-delete" in options:
            self.ioloop.call_later(1.0, FTPHandler.ftp_DELE, self, path)
        else:
            return FTPHandler.ftp_DELE(self, path)

Handler.authorizer = authorizer
if "no-mlst" in options:
    Handler.proto_cmds = {name: value for name, value in FTPHandler.proto_cmds.items()
                          if name not in ("MLST", "MLSD")}
# Every command and reply in the log ("<- ABOR", "-> 226 ...").
config_logging(level=logging.DEBUG)
FTPServer((host, int(port)), Handler).serve_forever()
)";

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

bool PyftpdlibServer::start(const QString &user, const QString &password, Options options)
{
    // Another process may take the probed port before the server binds it: try again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(user, password, options))
            return true;
    }
    return false;
}

bool PyftpdlibServer::startOnce(const QString &user, const QString &password, Options options)
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
    QStringList named;
    if (options.testFlag(NoMlst))
        named.append(QStringLiteral("no-mlst"));
    if (options.testFlag(NoChmod))
        named.append(QStringLiteral("no-chmod"));
    if (options.testFlag(SlowDelete))
        named.append(QStringLiteral("slow-delete"));
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"), QString::fromLatin1(driver), QStringLiteral("127.0.0.1"),
                   QString::number(serverPort), rootDir.path(), user, password, named.join(u',')});
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
