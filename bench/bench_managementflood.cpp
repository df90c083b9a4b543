// What a management peer that sends a great deal without a line feed does to the program:
// 100 MB of bytes with no line feed go to OpenVpnManagement over a loopback socket, and the
// peak resident memory of the process is read before and during the run.
//
// The peer is a thread with a plain blocking socket. It sends the management greeting (so that
// the connection is up as with OpenVPN) and then one 64 KiB block over and over, so that the
// peer itself holds no more than that block; it stops when everything is sent or the client
// has gone. The growth of the peak is what the client's side of the connection has kept.

#include "benchsupport.h"
#include "management/openvpnmanagement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr long long floodBytes = 100LL * 1000 * 1000;
constexpr std::size_t blockSize = std::size_t(64) * 1024;

// Makes the peak start again from the present resident size (Linux 4.0 and later).
bool resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

double cpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Peer
{
    long long sent = 0;

    void serve(int listenFd)
    {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        const std::string greeting = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
        ::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
        const std::string block(blockSize, 'x');
        while (sent < floodBytes) {
            const std::size_t chunk = std::size_t(std::min<long long>(blockSize, floodBytes - sent));
            const ssize_t n = ::send(fd, block.data(), chunk, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::shutdown(fd, SHUT_WR);
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);

    LoopbackListener listener;
    Peer peer;

    OpenVpnManagement management;
    // Nothing is answered: the run must not end with the time-out instead.
    management.setTimeout(600000);
    QString error;
    bool up = false;
    QObject::connect(&management, &OpenVpnManagement::managementConnected, [&] { up = true; });
    QObject::connect(&management, &QtTelnet::connectionError, [&](const QString &text) { error = text; });

    const long long baseRss = statusKilobytes("VmRSS:");
    if (!resetPeak())
        std::printf("note: the peak cannot be reset here; it includes everything before the run\n");
    const long long basePeak = statusKilobytes("VmHWM:");

    QEventLoop loop;
    QObject::connect(&management, &QtTelnet::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&management, &QtTelnet::connectionError, &loop, &QEventLoop::quit);
    std::thread server([&] { peer.serve(listener.fd); });
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuSeconds();
    management.connectToHost(QStringLiteral("127.0.0.1"), listener.port);
    loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    const long long peak = statusKilobytes("VmHWM:");
    server.join();

    std::printf("sent %.1f MB without a line feed in %.2f s (%.2f s of CPU), connection up: %s\n",
                double(peer.sent) / 1e6, seconds, cpu, up ? "yes" : "no");
    std::printf("resident before %.1f MB; peak %.1f MB; peak growth %.1f MB\n", double(baseRss) / 1024,
                double(peak) / 1024, double(peak - basePeak) / 1024);
    std::printf("ended by: %s\n", error.isEmpty() ? "the peer closing the connection" : qPrintable(error));
    return 0;
}
