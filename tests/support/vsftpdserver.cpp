#include "support/vsftpdserver.h"

#include "support/freeport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr char vsftpd[] = "/usr/sbin/vsftpd";
constexpr uid_t userId = 65534;
// Printed once the mounts are in place and vsftpd is about to run.
constexpr char mounted[] = "pylon-test: namespace ready";

bool writeFile(const QString &name, const QByteArray &content, QFileDevice::Permissions permissions)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
        && file.setPermissions(permissions);
}

QByteArray passwordHash(const QString &password)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {QStringLiteral("passwd"), QStringLiteral("-6"), QStringLiteral("-stdin")});
    openssl.write(password.toUtf8() + '\n');
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished(10000) || openssl.exitCode() != 0)
        return QByteArray();
    return openssl.readAllStandardOutput().trimmed();
}

} // namespace

VsftpdServer::VsftpdServer()
{
    if (geteuid() != 0)
        unavailable = QStringLiteral("vsftpd runs as root, and this test does not");
    else if (!QFile::exists(QString::fromLatin1(vsftpd)))
        unavailable = QStringLiteral("vsftpd is not installed (Debian package vsftpd)");
    else if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        unavailable = QStringLiteral("unshare (util-linux) is not installed");
    else if (!QFile::exists(QStringLiteral("/etc/pam.d/vsftpd")))
        unavailable = QStringLiteral("vsftpd's PAM service /etc/pam.d/vsftpd is missing");
}

VsftpdServer::~VsftpdServer()
{
    stop();
}

QString VsftpdServer::root() const
{
    return dir.filePath(QStringLiteral("root"));
}

QString VsftpdServer::log() const
{
    QFile file(dir.filePath(QStringLiteral("vsftpd.log")));
    const QByteArray protocol = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return QString::fromUtf8(output + protocol);
}

bool VsftpdServer::start(const QString &user, const QString &password, bool chmod)
{
    if (!unavailable.isEmpty() || !dir.isValid())
        return false;
    // Another process may take the probed port before vsftpd binds it: try again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(user, password, chmod))
            return true;
        if (!unavailable.isEmpty())
            return false;
    }
    return false;
}

// The user's home is the chroot; uid 65534 gets a name of the test's choosing there.
bool VsftpdServer::writeSetup(const QString &user, const QString &password, bool chmod)
{
    const QByteArray hash = passwordHash(password);
    QFile systemUsers(QStringLiteral("/etc/passwd"));
    if (hash.isEmpty() || !systemUsers.open(QIODevice::ReadOnly))
        return false;
    const QByteArray name = user.toUtf8();
    const QByteArray home = QFile::encodeName(root());
    const QByteArray users = systemUsers.readAll() + name + ":x:" + QByteArray::number(userId) + ':'
        + QByteArray::number(userId) + "::" + home + ":/usr/sbin/nologin\n";
    const QByteArray configuration =
        "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + QByteArray::number(serverPort)
        + "\nbackground=NO\n"
          "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=077\n"
          "chmod_enable="
        + (chmod ? "YES" : "NO")
        + "\nchroot_local_user=YES\nallow_writeable_chroot=YES\n"
          "secure_chroot_dir="
        + QFile::encodeName(dir.filePath(QStringLiteral("empty")))
        + "\npam_service_name=vsftpd\n"
          // Passive data ports are the kernel's choice, on the control connection's address.
          "pasv_enable=YES\npasv_address=127.0.0.1\nport_enable=YES\nconnect_from_port_20=NO\n"
          "ascii_upload_enable=NO\nssl_enable=NO\ndirmessage_enable=NO\n"
          "idle_session_timeout=60\ndata_connection_timeout=60\n"
          "xferlog_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file="
        + QFile::encodeName(dir.filePath(QStringLiteral("vsftpd.log"))) + '\n';
    constexpr auto secret = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    constexpr auto readable = secret | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    // The user's home lies below this directory: the user must be able to pass through it.
    return QFile::setPermissions(dir.path(), readable | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                                 | QFileDevice::ExeOther)
        && QDir(dir.path()).mkpath(QStringLiteral("root")) && QDir(dir.path()).mkpath(QStringLiteral("empty"))
        && chown(QFile::encodeName(root()).constData(), userId, userId) == 0
        && writeFile(dir.filePath(QStringLiteral("passwd")), users, readable)
        && writeFile(dir.filePath(QStringLiteral("shadow")), name + ':' + hash + ":19000:0:99999:7:::\n", secret)
        && writeFile(dir.filePath(QStringLiteral("pam")),
                     "auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_permit.so\n",
                     readable)
        && writeFile(dir.filePath(QStringLiteral("vsftpd.conf")), configuration, secret);
}

bool VsftpdServer::startOnce(const QString &user, const QString &password, bool chmod)
{
    stop();
    output.clear();
    serverPort = FreePort::tcp();
    if (serverPort == 0 || !writeSetup(user, password, chmod))
        return false;
    QFile::remove(dir.filePath(QStringLiteral("vsftpd.log")));
    const QString script = QStringLiteral(
        "mount --bind \"$1\" /etc/passwd && mount --bind \"$2\" /etc/shadow && mount --bind \"$3\" /etc/pam.d/vsftpd"
        " && echo '%1' && exec %2 \"$4\"").arg(QString::fromLatin1(mounted), QString::fromLatin1(vsftpd));
    process.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that stop() ends the sessions too; gone with the test.
    process.setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process.start(QStringLiteral("unshare"),
                  {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                   QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("sh"),
                   dir.filePath(QStringLiteral("passwd")), dir.filePath(QStringLiteral("shadow")),
                   dir.filePath(QStringLiteral("pam")), dir.filePath(QStringLiteral("vsftpd.conf"))});
    if (!process.waitForStarted(10000))
        return false;
    return awaitGreeting();
}

bool VsftpdServer::awaitGreeting()
{
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        output += process.readAll();
        if (process.state() != QProcess::Running) {
            output += process.readAll();
            // Without the namespace there is no user to log in: this machine cannot run it.
            if (!output.contains(mounted))
                unavailable = QStringLiteral("no mount namespace for vsftpd: ") + QString::fromUtf8(output.trimmed());
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), serverPort);
        if (probe.waitForConnected(500)) {
            QByteArray greeting;
            while (!greeting.contains('\n') && probe.waitForReadyRead(2000))
                greeting += probe.readAll();
            probe.abort();
            if (greeting.startsWith("220"))
                return true;
        }
        process.waitForReadyRead(100);
    }
    return false;
}

void VsftpdServer::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(-pid_t(process.processId()), SIGKILL);
    process.waitForFinished(5000);
    output += process.readAll();
}
