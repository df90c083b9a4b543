#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>

class QProcess;

// Real OpenVPN processes on loopback for tests and demonstrations: a throw-away PKI made with
// the openssl command, a server over tun and clients (over "dev null" or tun), each with an
// optional management interface. Everything lives in a temporary directory and in child
// processes that end with the lab: the destructor stops them and removes the directory, and
// a test runner that dies takes them along (they get SIGTERM when the parent goes away).
//
//     OpenVpnLab lab;
//     OpenVpnLab::ServerOptions server;
//     server.management.port = 11110;              // hold is on by default
//     lab.startServerWithClients(server, 2);       // "server", "client1", "client2"
class OpenVpnLab final
{
public:
    struct ManagementOptions
    {
        bool enabled = true;
        QString address = QStringLiteral("127.0.0.1");
        quint16 port = 0;           // 0: a free port is chosen
        QString password;           // non-empty: the interface asks for it first
        bool hold = true;           // OpenVPN waits for "hold release" before it starts
        bool queryPasswords = false; // key and user passwords are asked through the interface
    };

    struct ServerOptions
    {
        ManagementOptions management;
        QString address = QStringLiteral("127.0.0.1");
        quint16 port = 0;           // UDP; 0: a free port is chosen
        QString network;            // the tun /24, e.g. "10.88.7.0"; empty: chosen from the port
        // Clients must also log in with a user name and password, which a script records
        // (recordedCredentials()) and accepts.
        bool recordCredentials = false;
        QStringList extraOptions;   // further configuration lines
    };

    struct ClientOptions
    {
        QString commonName = QStringLiteral("client1");
        QString instanceName;       // empty: the common name (several clients may share one)
        ManagementOptions management;
        QString remoteAddress;      // empty: the lab's server (or 127.0.0.1)
        quint16 remotePort = 0;     // 0: the lab's server's port (or a port nobody serves)
        bool tun = false;           // false: "dev null", which needs neither root nor a device
        bool authUserPass = false;  // log in with a user name and password ...
        QByteArray username;        // ... from these bytes (a file; they need not be UTF-8),
        QByteArray password;        //     or when empty through the management interface
                                    //     (needs queryPasswords)
        QString keyPassphrase;      // non-empty: the client key is encrypted with it
        QStringList extraOptions;
    };

    struct Instance
    {
        QString name;
        QString managementAddress;  // empty without a management interface
        quint16 managementPort = 0;
        quint16 port = 0;           // the server's UDP port
        QString configFile;
        QString logFile;
    };

    struct Credentials
    {
        QString username;
        QString password;
    };

    OpenVpnLab();
    ~OpenVpnLab();
    Q_DISABLE_COPY_MOVE(OpenVpnLab)

    // Why no lab can run here (no openvpn or openssl command); empty when it can.
    static QString unavailableReason();
    // Why no server can run here (not root, no usable /dev/net/tun); empty when it can.
    static QString tunUnavailableReason();

    QString errorString() const { return error; }
    QString directory() const { return dir.path(); }

    // Start a process and wait until its management interface listens (or, for a server
    // without one, until it has initialised). nullptr on failure; errorString() says why.
    const Instance *startServer(const ServerOptions &options);
    const Instance *startServer();
    const Instance *startClient(const ClientOptions &options);
    const Instance *startClient();
    // A server and clients "client1" ... "client<n>" built from `client` (whose common name
    // is replaced); the clients connect once the server's hold is released.
    bool startServerWithClients(const ServerOptions &server, int clients, const ClientOptions &client);
    bool startServerWithClients(const ServerOptions &server, int clients);

    const Instance *instance(const QString &name) const;
    bool isRunning(const QString &name) const;
    QString log(const QString &name) const;
    // Waits, while running the event loop, until the instance's log contains `text`.
    bool waitForLog(const QString &name, const QString &text, int timeoutMs = 30000) const;
    bool waitForExit(const QString &name, int timeoutMs = 30000) const;

    void stop(const QString &name);   // SIGTERM, then SIGKILL if it does not end in time
    void kill(const QString &name);   // SIGKILL at once
    void stopAll();

    // What the server's verify script received, oldest first.
    QList<Credentials> recordedCredentials() const;

    // The PKI, made on first use: paths of the files.
    QString caCertificate();
    QString certificate(const QString &commonName);  // "server" has the server's usage
    QString key(const QString &commonName);
    QString encryptedKey(const QString &commonName, const QString &passphrase);

private:
    struct Process;

    bool makePki();
    bool makeCertificate(const QString &commonName, bool server);
    bool runOpenssl(const QStringList &arguments);
    QString path(const QString &fileName) const;
    bool writeFile(const QString &fileName, const QByteArray &content, bool executable = false);
    QStringList managementLines(const QString &name, ManagementOptions &options);
    const Instance *launch(Instance instance, const QStringList &config, const QString &readyText);
    bool serverIsLabs(const ClientOptions &options) const;
    // The named process while it is starting or running; null otherwise.
    QProcess *liveProcess(const QString &name) const;

    QTemporaryDir dir;
    QString error;
    bool pkiReady = false;
    QString serverName;
    std::map<QString, std::unique_ptr<Process>> processes;
};
