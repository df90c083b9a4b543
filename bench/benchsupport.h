// Small pieces the benchmarks share: a loopback listener for peers played by a thread with a
// plain blocking socket, the process's memory figures from /proc, and sample log lines.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A listening socket on 127.0.0.1 and a free port.
struct LoopbackListener
{
    int fd = -1;
    quint16 port = 0;

    LoopbackListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(fd, 1) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            std::perror("listen");
            std::exit(1);
        }
        port = ntohs(address.sin_port);
    }
    ~LoopbackListener() { ::close(fd); }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;
};

// Writes all of data to a blocking socket; false when the peer has gone.
inline bool sendAll(int fd, const std::string &data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

// Kilobytes of a "Vm..." line of /proc/self/status, the key given with its colon ("VmHWM:").
inline qint64 statusKilobytes(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(QByteArrayView(key).size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// OpenVPN log notifications (the text after ">LOG:") in a rotation of lines as an OpenVPN
// server writes them, the i-th of them.
inline QString sampleLogLine(int i)
{
    static const char *const texts[] = {
        "I,client%1/198.51.100.7:52137 MULTI_sva: pool returned IPv4=10.8.0.6, IPv6=(Not enabled)",
        ",client%1/198.51.100.7:52137 Data Channel: cipher 'AES-256-GCM', peer-id: %1",
        ",client%1/198.51.100.7:52137 Outgoing Data Channel: Cipher 'AES-256-GCM' initialized with 256 bit key",
        "W,client%1/198.51.100.7:52137 WARNING: 'link-mtu' is used inconsistently, local='link-mtu 1549', remote='link-mtu 1550'",
        ",198.51.100.7:52137 TLS: Initial packet from [AF_INET]198.51.100.7:52137, sid=e7a2f1c3 0b9d44aa",
        ",198.51.100.7:52137 VERIFY OK: depth=0, CN=client%1",
        "I,198.51.100.7:52137 [client%1] Peer Connection Initiated with [AF_INET]198.51.100.7:52137",
        "N,client%1/198.51.100.7:52137 SIGUSR1[soft,ping-restart] received, client-instance restarting",
    };
    QString text = QString::fromLatin1(texts[i % 8]);
    text.replace(QLatin1String("%1"), QString::number(i));
    return QString::number(1796673031 + i / 10) + QLatin1Char(',') + text + QStringLiteral("\r\n");
}
