#include "support/scriptedopenvpnpeer.h"

#include <QTcpSocket>

ScriptedOpenVpnPeer::ScriptedOpenVpnPeer(const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent)
{
    statusAnswer = statusAnswer26({});
    connect(&server, &QTcpServer::newConnection, this, &ScriptedOpenVpnPeer::accept);
    server.listen(address, port);
}

ScriptedOpenVpnPeer::~ScriptedOpenVpnPeer()
{
    if (socket)
        socket->disconnect(this);
}

QString ScriptedOpenVpnPeer::clientLine26(const QString &name, int bytes)
{
    return QStringLiteral("CLIENT_LIST,%1,127.0.0.1:4%2,10.88.0.%2,,%3,%4,2026-12-07 19:50:38,1262304000,UNDEF,0,0,AES-256-GCM")
        .arg(name)
        .arg(name.size())
        .arg(bytes)
        .arg(bytes + 1);
}

QByteArray ScriptedOpenVpnPeer::statusAnswer26(const QStringList &clientLines)
{
    QList<QByteArray> lines;
    for (const QString &line : clientLines)
        lines.append(line.toUtf8());
    return statusAnswer26FromBytes(lines);
}

QByteArray ScriptedOpenVpnPeer::statusAnswer26FromBytes(const QList<QByteArray> &clientLines)
{
    QByteArray answer =
        "TITLE,OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL] [PKCS11] [MH/PKTINFO] [AEAD] [DCO]\r\n"
        "TIME,2026-12-07 19:50:43,1796673043\r\n"
        "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,Bytes Sent,"
        "Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher\r\n";
    for (const QByteArray &line : clientLines)
        answer += line + "\r\n";
    answer += "HEADER,ROUTING_TABLE,Virtual Address,Common Name,Real Address,Last Ref,Last Ref (time_t)\r\n"
              "GLOBAL_STATS,Max bcast/mcast queue length,1\r\n"
              "GLOBAL_STATS,dco_enabled,0\r\n"
              "END\r\n";
    return answer;
}

void ScriptedOpenVpnPeer::accept()
{
    while (QTcpSocket *next = server.nextPendingConnection()) {
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
        socket = next;
        next->setParent(this);
        buffer.clear();
        receivedOnConnection.clear();
        receivedBytesOnConnection.clear();
        ++connections;
        connect(next, &QTcpSocket::readyRead, this, &ScriptedOpenVpnPeer::readLines);
        connect(next, &QTcpSocket::disconnected, this, [this, next] {
            if (socket == next)
                emit disconnected();
        });
        unlocked = !managementPassword.has_value();
        next->write(unlocked ? greeting : QByteArray("ENTER PASSWORD:"));
        emit connected();
    }
}

void ScriptedOpenVpnPeer::readLines()
{
    if (!socket)
        return;
    buffer += socket->readAll();
    qsizetype end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        QByteArray raw = buffer.left(end);
        buffer.remove(0, end + 1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        received.append(line);
        receivedOnConnection.append(line);
        receivedBytesOnConnection.append(raw);
        emit lineReceived(line);
        answer(line);
        if (!socket)
            return;
    }
}

void ScriptedOpenVpnPeer::answer(const QString &line)
{
    if (!unlocked) {
        if (line == *managementPassword) {
            unlocked = true;
            send("SUCCESS: password is correct\r\n" + greeting);
        } else {
            send("ERROR: bad password\r\nENTER PASSWORD:");
        }
        return;
    }
    if (handler) {
        if (const std::optional<QByteArray> scripted = handler(line)) {
            send(*scripted);
            return;
        }
    }
    const auto it = answers.constFind(line);
    send(it != answers.constEnd() ? *it : defaultAnswer(line));
}

QByteArray ScriptedOpenVpnPeer::defaultAnswer(const QString &line) const
{
    if (line == QLatin1String("state"))
        return "1796673031,CONNECTED,SUCCESS,10.88.0.1,,,,\r\nEND\r\n";
    if (line == QLatin1String("state on all"))
        return "SUCCESS: real-time state notification set to ON\r\nEND\r\n";
    if (line == QLatin1String("log on all"))
        return "SUCCESS: real-time log notification set to ON\r\nEND\r\n";
    if (line == QLatin1String("status 2"))
        return statusAnswer;
    if (line == QLatin1String("version"))
        return "OpenVPN Version: OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)]\r\nManagement Version: 5\r\nEND\r\n";
    if (line == QLatin1String("hold release"))
        return "SUCCESS: hold release succeeded\r\n";
    if (line.startsWith(QLatin1String("signal ")))
        return "SUCCESS: signal " + line.mid(7).toUtf8() + " thrown\r\n";
    if (line.startsWith(QLatin1String("kill ")))
        return "SUCCESS: common name '" + line.mid(5).toUtf8() + "' found, 1 client(s) killed\r\n";
    if (line.startsWith(QLatin1String("auth-retry ")))
        return "SUCCESS: auth-retry parameter changed\r\n";
    if (line.startsWith(QLatin1String("username ")))
        return "SUCCESS: 'Auth' username entered, but not yet verified\r\n";
    if (line.startsWith(QLatin1String("password \"Private Key\"")))
        return "SUCCESS: 'Private Key' password entered, but not yet verified\r\n";
    if (line.startsWith(QLatin1String("password ")))
        return "SUCCESS: 'Auth' password entered, but not yet verified\r\n";
    return "ERROR: unknown command, enter 'help' for more options\r\n";
}

void ScriptedOpenVpnPeer::send(const QByteArray &bytes)
{
    if (socket && !bytes.isEmpty())
        socket->write(bytes);
}

void ScriptedOpenVpnPeer::closeConnection()
{
    if (!socket)
        return;
    QTcpSocket *old = socket;
    socket = nullptr;
    old->disconnect(this);
    old->disconnectFromHost();
    old->deleteLater();
}

bool ScriptedOpenVpnPeer::isConnected() const
{
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}
