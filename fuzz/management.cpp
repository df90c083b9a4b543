// Arbitrary bytes from OpenVPN's side of the management connection, over real loopback TCP,
// cut at arbitrary points, into the line transport and the management client. The input is
// a script of steps: send the next piece of bytes, queue a command (so that a reply is
// awaited or not), answer or ignore a password prompt, close from our side, drop the
// connection from the peer's side and connect again (before and after the first batch).
// Receivers of the client's signals may close the connection in the middle of a batch.
//
// Whatever arrives: no crash, leak or undefined behaviour; the transport hands up lines
// without NUL and without a line feed before their end; the client's queue stays consistent,
// a dropped connection leaves the state undefined; and what the client sends is whole CR LF
// lines, so no byte from the peer or from a password can start a line of its own.
#include "fuzzcheck.h"

#include "management/managementprotocol.h"
#include "management/openvpnmanagement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <memory>

namespace {

class FuzzedManagement final : public OpenVpnManagement
{
public:
    using OpenVpnManagement::OpenVpnManagement;

    QTcpSocket *transport() const { return socket; }

    void checkQueue() const
    {
        FUZZ_CHECK(commands.size() == commandTypes.size());
        FUZZ_CHECK(currentCommand >= MsgNone && currentCommand <= MsgPassword);
        FUZZ_CHECK(vpnState >= StateUndefined && vpnState <= StateExiting);
    }
};

QTcpServer *server = nullptr;

// Bytes a socket's descriptor holds that Qt has not read yet, or has not sent yet.
int pending(const QTcpSocket *socket, unsigned long request)
{
    int count = 0;
    if (!socket || socket->socketDescriptor() < 0)
        return 0;
    return ioctl(int(socket->socketDescriptor()), request, &count) == 0 ? count : 0;
}

bool busy(const QTcpSocket *socket)
{
    return socket
           && (socket->bytesToWrite() > 0 || pending(socket, SIOCINQ) > 0 || pending(socket, SIOCOUTQNSD) > 0);
}

// Runs the event loop until everything written on either side has been read by the other,
// so that each piece arrives as one read (two seconds at most).
void settle(FuzzedManagement &client, QTcpSocket *peer)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!busy(peer) && !busy(client.transport()))
            return;
    }
}

// Every line the client has sent is whole and stands alone: each line feed comes with its
// carriage return, and neither occurs anywhere else.
void checkSent(const QByteArray &sent)
{
    const QByteArrayList lines = sent.split('\n');
    FUZZ_CHECK(lines.last().isEmpty());
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        FUZZ_CHECK(lines.at(i).endsWith('\r'));
        FUZZ_CHECK(!lines.at(i).chopped(1).contains('\r'));
    }
}

struct Connection
{
    QPointer<QTcpSocket> peer;
    QByteArray sent;
};

void connectTo(FuzzedManagement &client, Connection &connection)
{
    if (connection.peer)
        connection.peer->deleteLater();
    client.connectToHost(QStringLiteral("127.0.0.1"), server->serverPort());
    QElapsedTimer clock;
    clock.start();
    while (!server->hasPendingConnections() && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    FUZZ_CHECK(server->hasPendingConnections());
    connection.peer = server->nextPendingConnection();
    // Without Nagle's delay each piece leaves at once, so settle() sees it on its way.
    connection.peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connection.sent.clear();
    QObject::connect(connection.peer, &QTcpSocket::readyRead, connection.peer,
                     [&connection] { connection.sent += connection.peer->readAll(); });
    while (client.transport()->state() != QAbstractSocket::ConnectedState && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    FUZZ_CHECK(client.transport()->state() == QAbstractSocket::ConnectedState);
    client.transport()->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

QString textOf(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.data(), bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    static QTcpServer listening;
    FUZZ_CHECK(listening.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    server = &listening;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzCheck::InputReader input(data, size);
    // The first byte says how receivers behave: answer each prompt, and close on a state
    // change, a log line, a status answer.
    const quint8 behaviour = input.takeByte();
    const QString secret = textOf(input.take(input.takeByte() % 16));

    auto client = std::make_unique<FuzzedManagement>();
    Connection connection;

    QObject::connect(client.get(), &QtTelnet::message, client.get(), [](const QStringList &lines) {
        FUZZ_CHECK(!lines.isEmpty());
        for (const QString &line : lines) {
            FUZZ_CHECK(!line.contains(QChar(0)));
            const qsizetype lineFeed = line.indexOf(u'\n');
            FUZZ_CHECK(lineFeed < 0 || lineFeed == line.size() - 1);
        }
    });
    FuzzedManagement *raw = client.get();
    QObject::connect(raw, &OpenVpnManagement::managementPasswordRequest, raw, [raw, behaviour, secret] {
        if (behaviour & 1)
            raw->sendManagementPassword(secret);
    });
    QObject::connect(raw, &OpenVpnManagement::authRequest, raw, [raw, behaviour, secret] {
        if (behaviour & 2)
            raw->sendAuthData(secret, secret);
    });
    QObject::connect(raw, &OpenVpnManagement::privKeyPasswordRequest, raw, [raw, behaviour, secret] {
        if (behaviour & 2)
            raw->sendPrivKeyPassword(secret);
    });
    QObject::connect(raw, &OpenVpnManagement::stateChanged, raw, [raw, behaviour] {
        raw->checkQueue();
        if (behaviour & 4)
            raw->close();
    });
    QObject::connect(raw, &OpenVpnManagement::logMessage, raw, [raw, behaviour] {
        if (behaviour & 8)
            raw->close();
    });
    QObject::connect(raw, &OpenVpnManagement::statusResponse, raw, [raw, behaviour](const QStringList &lines) {
        FUZZ_CHECK(!lines.isEmpty());
        FUZZ_CHECK(ManagementProtocol::isEnd(lines.last()) || ManagementProtocol::isError(lines.last()));
        if (behaviour & 16)
            raw->close();
    });

    connectTo(*client, connection);
    int steps = 0;
    while (!input.atEnd() && ++steps <= 256) {
        const quint8 step = input.takeByte();
        switch (step % 8) {
        case 0: case 1: case 2: case 3: {
            const QByteArrayView piece = input.take(qsizetype(input.takeByte()) + 1);
            if (connection.peer && connection.peer->state() == QAbstractSocket::ConnectedState)
                connection.peer->write(piece.data(), piece.size());
            break;
        }
        case 4:
            switch (input.takeByte() % 8) {
            case 0: client->getStatus(); break;
            case 1: client->getState(); break;
            case 2: client->holdRelease(); break;
            case 3: client->getVersion(); break;
            case 4: client->logOn(); break;
            case 5: client->stateOn(); break;
            case 6: client->kill(secret); break;
            case 7: client->echoOn(false); break;
            }
            break;
        case 5:
            // Answers that nobody asked for, as a user may give them late.
            if (step & 8)
                client->sendAuthData(secret, secret, step & 16);
            else
                client->sendManagementPassword(secret);
            break;
        case 6:
            client->close();
            break;
        case 7:
            // OpenVPN goes away; the program connects again, to a conversation that starts
            // over.
            checkSent(connection.sent);
            if (connection.peer)
                connection.peer->disconnectFromHost();
            settle(*client, nullptr);
            for (int i = 0; i < 100 && client->transport()->state() != QAbstractSocket::UnconnectedState; ++i)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            FUZZ_CHECK(client->state() == OpenVpnManagement::StateUndefined);
            client->checkQueue();
            connectTo(*client, connection);
            break;
        }
        settle(*client, connection.peer);
        client->checkQueue();
    }
    settle(*client, connection.peer);
    checkSent(connection.sent);
    client->checkQueue();

    client.reset();
    if (connection.peer)
        connection.peer->deleteLater();
    // Deferred deletions of this run happen now, not during the next one.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
