#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real vsftpd for tests (Debian's /usr/sbin/vsftpd, as many routers run it): started as
// root on 127.0.0.1 and a free port, with its own configuration, for one local user chrooted
// to a fresh temporary root that only this user (uid 65534) writes. The user exists for
// vsftpd alone: vsftpd runs in a mount namespace of its own, where a passwd and a shadow file
// that name the user and a PAM service that checks its password are laid over the system's,
// so nothing on the machine changes. Uploads get mode 0600 (vsftpd's umask 077) and are
// stored unchanged in ASCII mode. Stopped, with every session, on destruction.
class VsftpdServer final
{
public:
    VsftpdServer();
    ~VsftpdServer();
    Q_DISABLE_COPY_MOVE(VsftpdServer)

    // Starts the server and waits until it greets; false when it did not come up. Then either
    // skipReason() tells why this machine cannot run it (not root, vsftpd missing, no mount
    // namespace allowed), or log() tells what went wrong. With chmod false, SITE CHMOD is
    // refused ("550 Permission denied.").
    bool start(const QString &user, const QString &password, bool chmod = true);
    void stop();

    QString skipReason() const { return unavailable; }
    quint16 port() const { return serverPort; }
    // The directory the user sees as "/".
    QString root() const;
    // What the server and its sessions said, every command and reply included.
    QString log() const;

private:
    bool startOnce(const QString &user, const QString &password, bool chmod);
    bool writeSetup(const QString &user, const QString &password, bool chmod);
    bool awaitGreeting();

    QTemporaryDir dir;
    QProcess process;
    quint16 serverPort = 0;
    QString unavailable;
    QByteArray output;
};
