#include "support/fakeftpserver.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

const QHostAddress loopback(QStringLiteral("127.0.0.1"));

QByteArray hostPortText(const QHostAddress &address, quint16 port)
{
    const quint32 ip = address.toIPv4Address();
    return QByteArray::number(ip >> 24) + ',' + QByteArray::number((ip >> 16) & 0xff) + ','
        + QByteArray::number((ip >> 8) & 0xff) + ',' + QByteArray::number(ip & 0xff) + ','
        + QByteArray::number(port >> 8) + ',' + QByteArray::number(port & 0xff);
}

} // namespace

FakeFtpServer::FakeFtpServer(QObject *parent)
    : QObject(parent), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &FakeFtpServer::acceptControl);
    drip.setInterval(1);
    connect(&drip, &QTimer::timeout, this, &FakeFtpServer::sendPiece);
}

FakeFtpServer::~FakeFtpServer() = default;

bool FakeFtpServer::listen()
{
    return server->listen(loopback, 0);
}

quint16 FakeFtpServer::port() const
{
    return server->serverPort();
}

void FakeFtpServer::closeControl()
{
    if (control)
        control->disconnectFromHost();
}

void FakeFtpServer::acceptControl()
{
    while (server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        ++controlConnections;
        if (control)
            control->abort();
        control = socket;
        controlBuffer.clear();
        outgoing.clear();
        connect(socket, &QIODevice::readyRead, this, &FakeFtpServer::controlReadyRead);
        send(greeting);
    }
}

void FakeFtpServer::send(const QByteArray &bytes)
{
    if (!control || bytes.isEmpty())
        return;
    if (pieceSize <= 0) {
        control->write(bytes);
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); i += pieceSize)
        outgoing.append(bytes.mid(i, pieceSize));
    if (!drip.isActive())
        drip.start();
}

void FakeFtpServer::sendPiece()
{
    if (!control || outgoing.isEmpty()) {
        drip.stop();
        return;
    }
    control->write(outgoing.takeFirst());
    control->flush();
}

void FakeFtpServer::controlReadyRead()
{
    controlBuffer += control->readAll();
    qsizetype end;
    while ((end = controlBuffer.indexOf('\n')) >= 0) {
        QByteArray line = controlBuffer.left(end);
        controlBuffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        commands.append(line);
        handleCommand(line);
        if (!control)
            return;
    }
}

void FakeFtpServer::handleCommand(const QByteArray &line)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
    const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1);

    if (verb == "PASV") {
        startPassive(replies.value(verb, "227 Entering Passive Mode (%1).\r\n"));
        return;
    }
    if (replies.contains(verb)) {
        send(replies.value(verb));
        return;
    }
    if (verb == "USER")
        send("331 Password required.\r\n");
    else if (verb == "PASS")
        send("230 Logged in.\r\n");
    else if (verb == "TYPE")
        send("200 Type set.\r\n");
    else if (verb == "CWD")
        send("250 Directory changed.\r\n");
    else if (verb == "NOOP")
        send("200 NOOP ok.\r\n");
    else if (verb == "PORT") {
        const QList<QByteArray> numbers = argument.split(',');
        if (numbers.size() == 6) {
            activeAddress.setAddress(numbers[0].toUInt() << 24 | numbers[1].toUInt() << 16
                                     | numbers[2].toUInt() << 8 | numbers[3].toUInt());
            activePort = quint16(numbers[4].toUInt() * 256 + numbers[5].toUInt());
            send("200 PORT command successful.\r\n");
        } else {
            send("501 Bad PORT.\r\n");
        }
    } else if (verb == "STOR")
        startStore(QString::fromUtf8(argument));
    else if (verb == "LIST" && !activeListing.isNull() && activePort != 0)
        sendActiveListing();
    else if (verb == "ABOR") {
        if (storing) {
            storing = false;
            if (dataSocket)
                dataSocket->abort();
            send("426 Transfer aborted.\r\n");
        }
        send("226 Abort successful.\r\n");
    } else if (verb == "OPTS") {
        send("200 Options set.\r\n");
    } else if (verb == "MLST") {
        const QString name = QString::fromUtf8(argument);
        if (stored.contains(name)) {
            send("250-Listing " + argument + "\r\n type=file;size=" + QByteArray::number(stored.value(name).size())
                 + ";unix.mode=0" + QByteArray::number(modes.value(name, newFileMode), 8) + "; " + argument
                 + "\r\n250 End.\r\n");
        } else {
            send("550 No such file.\r\n");
        }
    } else if (verb == "SITE" && argument.toUpper().startsWith("CHMOD ")) {
        const QList<QByteArray> parts = argument.split(' ');
        const QString name = QString::fromUtf8(argument.mid(argument.indexOf(' ', 6) + 1));
        bool ok = false;
        const int mode = parts.value(1).toInt(&ok, 8);
        if (ok && parts.size() >= 3 && stored.contains(name)) {
            modes.insert(name, mode);
            send("200 SITE CHMOD command ok.\r\n");
        } else {
            send("550 SITE CHMOD command failed.\r\n");
        }
    } else if (verb == "RNFR") {
        renameFrom = QString::fromUtf8(argument);
        send(stored.contains(renameFrom) ? "350 Ready for RNTO.\r\n" : "550 No such file.\r\n");
    } else if (verb == "RNTO") {
        if (stored.contains(renameFrom)) {
            stored.insert(QString::fromUtf8(argument), stored.take(renameFrom));
            modes.insert(QString::fromUtf8(argument), modes.value(renameFrom, newFileMode));
            modes.remove(renameFrom);
            send("250 Renamed.\r\n");
        } else {
            send("503 RNFR first.\r\n");
        }
        renameFrom.clear();
    } else if (verb == "DELE") {
        modes.remove(QString::fromUtf8(argument));
        send(stored.remove(QString::fromUtf8(argument)) ? "250 Deleted.\r\n" : "550 No such file.\r\n");
    }
    else if (verb == "QUIT") {
        send("221 Goodbye.\r\n");
        if (pieceSize <= 0)
            control->disconnectFromHost();
    } else
        send("502 Command not implemented.\r\n");
}

void FakeFtpServer::startPassive(const QByteArray &templateReply)
{
    if (dataListener)
        dataListener->deleteLater();
    if (trap)
        trap->deleteLater();
    trap = nullptr;
    dataListener = new QTcpServer(this);
    connect(dataListener, &QTcpServer::newConnection, this, &FakeFtpServer::acceptData);
    dataListener->listen(loopback, 0);
    const quint16 port = dataListener->serverPort();
    const QHostAddress named = advertisedAddress.isNull() ? loopback : advertisedAddress;
    if (named != loopback) {
        trap = new QTcpServer(this);
        connect(trap, &QTcpServer::newConnection, this, [this] {
            while (trap->hasPendingConnections()) {
                ++trapConnections;
                trap->nextPendingConnection()->abort();
            }
        });
        trap->listen(named, port);
    }
    QByteArray reply = templateReply;
    reply.replace("%1", hostPortText(named, port));
    send(reply);
}

void FakeFtpServer::startStore(const QString &name)
{
    storeName = name;
    storeData.clear();
    storing = true;
    send(storePreliminary);
    if (storeEnd == DropConnections) {
        storing = false;
        if (dataSocket)
            dataSocket->abort();
        if (control)
            control->disconnectFromHost();
        return;
    }
    if (storeEnd != FinalAfterData)
        send(storeFinal);
    if (activePort != 0 && !dataListener) {
        auto *socket = new QTcpSocket(this);
        dataSocket = socket;
        ++dataConnections;
        connect(socket, &QIODevice::readyRead, this, &FakeFtpServer::dataReadyRead);
        connect(socket, &QAbstractSocket::disconnected, this, &FakeFtpServer::dataFinished);
        socket->connectToHost(activeAddress, activePort);
        activePort = 0;
    } else if (dataSocket) {
        dataReadyRead();
        if (dataSocket->state() == QAbstractSocket::UnconnectedState)
            dataFinished();
    }
}

// Blocking, and the replies flushed at once: the whole exchange is over before the client's
// event loop turns again, and then its listener and its control connection are ready together.
void FakeFtpServer::sendActiveListing()
{
    QTcpSocket socket;
    socket.connectToHost(activeAddress, activePort);
    activePort = 0;
    if (!socket.waitForConnected(5000)) {
        send("425 Can't open data connection.\r\n");
        return;
    }
    ++dataConnections;
    socket.write(activeListing);
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(5000)) {
    }
    socket.disconnectFromHost();
    send("150 Here comes the directory listing.\r\n226 Directory send OK.\r\n");
    if (control)
        control->flush();
}

void FakeFtpServer::acceptData()
{
    while (dataListener && dataListener->hasPendingConnections()) {
        QTcpSocket *socket = dataListener->nextPendingConnection();
        ++dataConnections;
        dataSocket = socket;
        if (storeEnd == DropData) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (!takeData) {
            // Qt stops reading from the system once this much waits: the sender's side fills.
            socket->setReadBufferSize(4096);
            continue;
        }
        connect(socket, &QIODevice::readyRead, this, &FakeFtpServer::dataReadyRead);
        connect(socket, &QAbstractSocket::disconnected, this, &FakeFtpServer::dataFinished);
    }
}

void FakeFtpServer::dataReadyRead()
{
    if (storing && dataSocket && takeData)
        storeData += dataSocket->readAll();
}

void FakeFtpServer::dataFinished()
{
    if (!storing)
        return;
    dataReadyRead();
    storing = false;
    stored.insert(storeName, storeData);
    if (!modes.contains(storeName))
        modes.insert(storeName, newFileMode);
    QTcpSocket *socket = dataSocket;
    dataSocket = nullptr;
    if (dataListener) {
        dataListener->deleteLater();
        dataListener = nullptr;
    }
    if (socket) {
        socket->abort();
        socket->deleteLater();
    }
    if (storeEnd == FinalAfterData)
        send(storeFinal);
}
