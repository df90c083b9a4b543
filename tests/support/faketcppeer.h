#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// An in-process TCP peer on 127.0.0.1 for byte-exact tests: it records every byte the
// client sends and sends whatever the test tells it to. A new connection replaces the
// previous one (which is closed).
class FakeTcpPeer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FakeTcpPeer)

public:
    // Listens on 127.0.0.1 at `port`, or at a free port when it is 0.
    explicit FakeTcpPeer(quint16 port = 0, QObject *parent = nullptr);
    ~FakeTcpPeer() override;

    bool isListening() const;

    QString address() const;
    quint16 port() const;

    bool isConnected() const;
    // Connections accepted so far.
    int connectionCount() const;
    // The client's socket port of the current connection, 0 when none.
    quint16 clientPort() const;

    void send(const QByteArray &data);
    void closeConnection();
    void abortConnection();

    // Every byte received on the current connection.
    QByteArray received() const;
    // The complete lines received on the current connection, without their CR LF.
    QList<QByteArray> receivedLines() const;
    void clearReceived();

    // Called for every complete line received (without CR LF); what it returns is sent back.
    std::function<QByteArray(const QByteArray &line)> onLine;

signals:
    void lineReceived(const QByteArray &line);

private:
    void accept();
    void readClient();

    QTcpServer server;
    QPointer<QTcpSocket> connection;
    QByteArray bytes;
    qsizetype scanned = 0;
    int accepted = 0;
};
