// A router web interface that answers a login with a body that never ends (plain, then
// chunked): how much memory the client takes meanwhile, how long until it gives up, and how
// much the server got to send. The server stops by itself after 1 GiB or 20 s.
//
//     build/bench/bench_routeranswer
#include "benchsupport.h"

#include "router/pylonvpnhttpadmin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

constexpr qint64 serverLimit = qint64(1) << 30;
constexpr int waitLimitMs = 20000;

// Accepts one connection, reads the request and sends the head, then blocks of body until
// the client goes or the limit is reached. Returns the bytes sent.
qint64 serveEndless(int listener, bool chunked, const std::atomic<bool> &stop)
{
    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0)
        return 0;
    char request[4096];
    (void)::recv(connection, request, sizeof request, 0);
    const QByteArray head = chunked ? QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                                    : QByteArray("HTTP/1.1 200 OK\r\n\r\n");
    qint64 sent = ::send(connection, head.constData(), size_t(head.size()), MSG_NOSIGNAL);
    const QByteArray block(qsizetype(64) * 1024, 'e');
    const QByteArray piece = chunked ? QByteArray("10000\r\n" + block + "\r\n") : block;
    QElapsedTimer clock;
    clock.start();
    while (!stop && sent < serverLimit && clock.elapsed() < waitLimitMs) {
        const ssize_t count = ::send(connection, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL);
        if (count <= 0)
            break;
        sent += count;
    }
    ::close(connection);
    return sent;
}

void run(bool chunked)
{
    LoopbackListener listener;
    std::atomic<bool> stop{false};
    qint64 sent = 0;
    std::thread server([&] { sent = serveEndless(listener.fd, chunked, stop); });

    PylonVpnHttpAdmin::setPortForTesting(listener.port);
    PylonVpnHttpAdmin admin;
    admin.setHost(QStringLiteral("127.0.0.1"));
    bool failed = false;
    QEventLoop loop;
    QObject::connect(&admin, &PylonVpnHttpAdmin::error, &loop, [&] {
        failed = true;
        loop.quit();
    });
    QObject::connect(&admin, &PylonVpnHttpAdmin::done, &loop, &QEventLoop::quit);
    QTimer::singleShot(waitLimitMs, &loop, &QEventLoop::quit);
    const qint64 before = statusKilobytes("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    admin.login(QStringLiteral("root"), QStringLiteral("secret"));
    loop.exec();
    const qint64 elapsed = clock.elapsed();
    const qint64 peak = statusKilobytes("VmHWM:");
    stop = true;
    server.join();
    std::printf("%-8s error=%s after %6lld ms, server sent %8.1f MiB, peak resident %7.1f MiB (%+.1f MiB)\n",
                chunked ? "chunked" : "plain", failed ? "yes" : "no ", elapsed, double(sent) / (1 << 20),
                double(peak) / 1024, double(peak - before) / 1024);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Each case in a process of its own, so that the peak of one does not hide the other's.
    const bool chunked = argc > 1 && QByteArray(argv[1]) == "chunked";
    if (argc > 1) {
        run(chunked);
        return 0;
    }
    for (const char *kind : {"plain", "chunked"}) {
        const QByteArray command = QByteArray(argv[0]) + ' ' + kind;
        if (std::system(command.constData()) != 0)
            return 1;
    }
    return 0;
}
