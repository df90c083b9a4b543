#include "support/freeport.h"

#include <QTcpServer>
#include <QUdpSocket>

quint16 FreePort::tcp(const QHostAddress &address)
{
    QTcpServer server;
    if (!server.listen(address, 0))
        return 0;
    return server.serverPort();
}

quint16 FreePort::udp(const QHostAddress &address)
{
    QUdpSocket socket;
    if (!socket.bind(address, 0))
        return 0;
    return socket.localPort();
}
