#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real FTP server for tests: Debian's pyftpdlib, started on 127.0.0.1 and a free port with
// one user who may write into a fresh temporary root. Stopped (killed) on destruction.
// In ASCII mode it stores CR LF as LF; content with LF only arrives unchanged. It knows MLST
// (with the UNIX.mode fact) and SITE CHMOD; either can be taken away.
class PyftpdlibServer final
{
public:
    enum Option {
        NoMlst = 0x1,       // MLST and MLSD unknown ("500 Command "MLST" not understood.")
        NoChmod = 0x2,      // SITE CHMOD refused ("550 Not enough privileges.")
        SlowDelete = 0x4,   // DELE answered (and done) a second after it came
    };
    Q_DECLARE_FLAGS(Options, Option)

    PyftpdlibServer() = default;
    ~PyftpdlibServer();
    Q_DISABLE_COPY_MOVE(PyftpdlibServer)

    // Starts the server and waits until it listens; false (see log()) when it did not come up.
    // Once stopped, it can be started again on the same root (at another port).
    bool start(const QString &user, const QString &password, Options options = {});
    // Kills the server (SIGKILL): its connections end as the kernel closes them.
    void stop();
    // Stops the server process (SIGSTOP) and lets it go on (SIGCONT): a server that has
    // hung, with its connections open.
    void pause();
    void resume();

    quint16 port() const { return serverPort; }
    // The directory the user sees as "/".
    QString root() const { return rootDir.path(); }
    // What the server wrote since it was last started (its log goes to standard error),
    // every command and reply included.
    QString log();
    // The bytes of a file below the root, by its path on the server.
    QByteArray file(const QString &path) const;
    // The upload temporaries (".<name>.part") anywhere below the root.
    QStringList temporaries() const;

private:
    bool startOnce(const QString &user, const QString &password, Options options);

    QTemporaryDir rootDir;
    QProcess process;
    quint16 serverPort = 0;
    QByteArray output;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(PyftpdlibServer::Options)
