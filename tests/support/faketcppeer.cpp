#include "support/faketcppeer.h"

#include <QTcpSocket>

FakeTcpPeer::FakeTcpPeer(quint16 port, QObject *parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &FakeTcpPeer::accept);
    server.listen(QHostAddress::LocalHost, port);
}

bool FakeTcpPeer::isListening() const
{
    return server.isListening();
}

FakeTcpPeer::~FakeTcpPeer()
{
    if (connection)
        connection->abort();
}

QString FakeTcpPeer::address() const
{
    return QStringLiteral("127.0.0.1");
}

quint16 FakeTcpPeer::port() const
{
    return server.serverPort();
}

bool FakeTcpPeer::isConnected() const
{
    return connection && connection->state() == QAbstractSocket::ConnectedState;
}

int FakeTcpPeer::connectionCount() const
{
    return accepted;
}

quint16 FakeTcpPeer::clientPort() const
{
    return connection ? connection->peerPort() : 0;
}

void FakeTcpPeer::send(const QByteArray &data)
{
    if (connection)
        connection->write(data);
}

void FakeTcpPeer::closeConnection()
{
    if (connection)
        connection->disconnectFromHost();
}

void FakeTcpPeer::abortConnection()
{
    if (connection)
        connection->abort();
}

QByteArray FakeTcpPeer::received() const
{
    return bytes;
}

QList<QByteArray> FakeTcpPeer::receivedLines() const
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', start)) {
        QByteArray line = bytes.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = end + 1;
    }
    return lines;
}

void FakeTcpPeer::clearReceived()
{
    bytes.clear();
    scanned = 0;
}

void FakeTcpPeer::accept()
{
    while (QTcpSocket *next = server.nextPendingConnection()) {
        if (connection) {
            connection->disconnect(this);
            connection->abort();
            connection->deleteLater();
        }
        connection = next;
        connection->setParent(this);
        ++accepted;
        clearReceived();
        connect(next, &QTcpSocket::readyRead, this, &FakeTcpPeer::readClient);
    }
}

void FakeTcpPeer::readClient()
{
    if (!connection)
        return;
    bytes += connection->readAll();
    for (qsizetype end = bytes.indexOf('\n', scanned); end >= 0; end = bytes.indexOf('\n', scanned)) {
        QByteArray line = bytes.mid(scanned, end - scanned);
        if (line.endsWith('\r'))
            line.chop(1);
        scanned = end + 1;
        emit lineReceived(line);
        if (onLine) {
            const QByteArray answer = onLine(line);
            if (!answer.isEmpty())
                send(answer);
        }
    }
}
