#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

#include <functional>
#include <optional>

class QTcpSocket;

// An OpenVPN management interface on loopback that answers from a script: the greeting,
// replies per command line, notifications sent by the test. It serves one connection at a
// time (a new one replaces the old) and records every line it receives.
class ScriptedOpenVpnPeer final : public QObject
{
    Q_OBJECT

public:
    explicit ScriptedOpenVpnPeer(const QHostAddress &address, quint16 port = 11110, QObject *parent = nullptr);
    ~ScriptedOpenVpnPeer() override;
    Q_DISABLE_COPY_MOVE(ScriptedOpenVpnPeer)

    bool isListening() const { return server.isListening(); }
    QString errorString() const { return server.errorString(); }
    QHostAddress address() const { return server.serverAddress(); }
    void stopListening() { server.close(); }

    // Sent to every new connection (after the password, when one is asked).
    QByteArray greeting = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
    // When set, every connection starts with "ENTER PASSWORD:" (no line end) and this is the
    // line that unlocks it.
    std::optional<QString> managementPassword;
    // The answer to "status 2".
    QByteArray statusAnswer;

    // Replaces the answer to one command line (compared whole, without its CR LF).
    void setAnswer(const QString &command, const QByteArray &answer) { answers.insert(command, answer); }
    // The command gets no answer at all.
    void setSilent(const QString &command) { answers.insert(command, QByteArray()); }
    // Asked first for every line; an answer it returns wins over the table.
    std::function<std::optional<QByteArray>(const QString &line)> handler;

    // Sends bytes to the current connection.
    void send(const QByteArray &bytes);
    // Closes the current connection from this side.
    void closeConnection();
    bool isConnected() const;

    // Every line received, in order, without CR LF, over all connections.
    QStringList received;
    // Lines received on the current connection.
    QStringList receivedOnConnection;
    // The same lines as the bytes they came as.
    QList<QByteArray> receivedBytesOnConnection;
    int connections = 0;

    // A status answer as OpenVPN 2.6 writes it, with a HEADER line and these CLIENT_LIST lines.
    static QByteArray statusAnswer26(const QStringList &clientLines);
    static QByteArray statusAnswer26FromBytes(const QList<QByteArray> &clientLines);
    // A client line of that answer for a client with these byte counts (bytes received,
    // bytes + 1 sent); its addresses follow from the length of the name.
    static QString clientLine26(const QString &name, int bytes);

signals:
    void connected();
    void disconnected();
    void lineReceived(const QString &line);

private:
    void accept();
    void readLines();
    void answer(const QString &line);
    QByteArray defaultAnswer(const QString &line) const;

    QTcpServer server;
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool unlocked = true;
    QHash<QString, QByteArray> answers;
};
