#pragma once

#include <QHostAddress>

// Ports nobody listens on at the moment of asking, for peers started by a test. The port is
// released before it is returned, so another process could take it first; callers that
// start a peer on it retry with a new one when the peer cannot bind.
class FreePort final
{
public:
    FreePort() = delete;

    static quint16 tcp(const QHostAddress &address = QHostAddress::LocalHost);
    static quint16 udp(const QHostAddress &address = QHostAddress::LocalHost);
};
