// Where the lag of OpenVPN's log goes under a real debug-verbosity burst. A real OpenVPN
// server at verb 9 (the lab of the tests: loopback, tun, root) with two real clients, each
// flooded with UDP datagrams through its tunnel to an address of the VPN that nobody has (the
// server logs some 28 lines for each), for a fixed time. Every second the reader reports:
//   - lines/s that arrived at the management client (logMessage), and how late they came
//     against their own time stamp (which counts whole seconds: 0.5 s is taken off),
//   - what waited on our side at that moment: unread in the system's socket buffer, read but
//     not yet handed up by the transport, and (window) queued for the log view,
//   - (window) how late the newest line in the view is.
// The reader is either the bare management client ("bare", which does nothing with the lines)
// or the whole window with the Log tab in front ("window"). What the bare client sees late
// came late from OpenVPN; whatever the window sees later than that, and what waits in its
// queues, is ours. After the flood, the time until the reader has the last lines.
//
// Usage: bench_verboseopenvpn [bare|window|both [datagrams-per-second-per-client [seconds]]]
// (default: both, 2500, 20). Needs root and /dev/net/tun; says why and stops otherwise.

#include "management/openvpnmanagement.h"
#include "ui/mainwindow.h"
#include "ui/terminallogwriter.h"

#include "support/mainwindowtestaccess.h"
#include "support/openvpnlab.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSettings>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QString network = QStringLiteral("10.89.77.0");
const char *const nobody = "10.89.77.250";

double now()
{
    timespec clock{};
    ::clock_gettime(CLOCK_REALTIME, &clock);
    return double(clock.tv_sec) + double(clock.tv_nsec) / 1e9;
}

// Sends `rate` datagrams a second through the device for `seconds`, then counts itself done.
void flood(const std::string &device, int rate, double seconds, std::atomic<int> &done)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), socklen_t(device.size()));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    ::inet_pton(AF_INET, nobody, &to.sin_addr);
    const char payload[64] = {};
    const double start = now();
    for (long long sent = 0; now() - start < seconds; ++sent) {
        ::sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        const double due = start + double(sent + 1) / rate;
        const double wait = due - now();
        if (wait > 0)
            ::usleep(useconds_t(wait * 1e6));
    }
    ::close(fd);
    ++done;
}

// The time stamp of a log notification (the text after ">LOG:"), or -1.
long long stampOf(const QString &log)
{
    const qsizetype comma = log.indexOf(u',');
    bool ok = false;
    const long long stamp = comma > 0 ? QStringView(log).left(comma).toLongLong(&ok) : -1;
    return ok ? stamp : -1;
}

// The time of the newest line the log view shows ("[yy.MM.dd hh:mm:ss] ..."), or -1.
double newestInView(const QTextEdit *view)
{
    for (QTextBlock block = view->document()->lastBlock(); block.isValid(); block = block.previous()) {
        const QString text = block.text();
        if (!text.startsWith(u'['))
            continue;
        const QDateTime time = QDateTime::fromString(text.mid(1, 17), QStringLiteral("yy.MM.dd hh:mm:ss")).addYears(100);
        if (time.isValid())
            return double(time.toSecsSinceEpoch());
    }
    return -1;
}

int unreadInKernel(const QTcpSocket *socket)
{
    int count = 0;
    return socket && socket->socketDescriptor() >= 0 && ::ioctl(int(socket->socketDescriptor()), SIOCINQ, &count) == 0 ? count : -1;
}

struct Second
{
    long long lines = 0;
    double lagSum = 0;
    double lagMax = 0;
};

int run(const QString &mode, int rate, double seconds)
{
    OpenVpnLab lab;
    OpenVpnLab::ServerOptions server;
    server.management.hold = false;
    server.network = network;
    server.extraOptions = {QStringLiteral("verb 9")};
    const OpenVpnLab::Instance *serverInstance = lab.startServer(server);
    if (!serverInstance) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(lab.errorString()));
        return 1;
    }
    std::vector<std::string> devices;
    for (int i = 1; i <= 2; ++i) {
        OpenVpnLab::ClientOptions client;
        client.commonName = QStringLiteral("client%1").arg(i);
        client.tun = true;
        client.management.enabled = false;
        const QString device = QStringLiteral("pylflood%1").arg(i);
        client.extraOptions = {QStringLiteral("dev ") + device, QStringLiteral("dev-type tun")};
        if (!lab.startClient(client) || !lab.waitForLog(client.commonName, QStringLiteral("Initialization Sequence Completed"))) {
            std::fprintf(stderr, "no client: %s\n", qPrintable(lab.errorString()));
            return 1;
        }
        devices.push_back(device.toStdString());
    }

    TestSettings settings;
    ScriptedDialogs dialogs;
    pointUpdateCheckAtClosedPort();
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<OpenVpnManagement> bare;
    OpenVpnManagement *management = nullptr;
    QTextEdit *view = nullptr;
    TerminalLogWriter *writer = nullptr;
    if (mode == QLatin1String("window")) {
        window = std::make_unique<MainWindow>();
        window->resize(900, 650);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()) || !QTest::qWaitFor([&] { return !MainWindowTestAccess::initTimer(*window); }))
            return 1;
        window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
        view = window->findChild<QTextEdit *>(QStringLiteral("terminal"));
        writer = window->findChild<TerminalLogWriter *>(QStringLiteral("logWriter"));
        management = &MainWindowTestAccess::management(*window);
    } else {
        bare = std::make_unique<OpenVpnManagement>();
        management = bare.get();
        QObject::connect(management, &OpenVpnManagement::managementConnected, management, [management] {
            management->logOn(true);
        });
    }
    management->setTimeout(600000);
    Second second;
    long long total = 0;
    double lastStamp = 0;
    QObject::connect(management, &OpenVpnManagement::logMessage, management, [&](const QString &log) {
        const long long stamp = stampOf(log);
        if (stamp < 0)
            return;
        const double lag = now() - double(stamp) - 0.5;
        ++second.lines;
        ++total;
        second.lagSum += lag;
        second.lagMax = std::max(second.lagMax, lag);
        lastStamp = double(stamp);
    });
    management->connectToHost(serverInstance->managementAddress, serverInstance->managementPort);
    if (!QTest::qWaitFor([&] { return total > 0; }, 30000))
        return 1;
    QTest::qWait(1000);
    const QTcpSocket *socket = management->findChild<QTcpSocket *>();

    std::atomic<int> done{0};
    std::vector<std::thread> floods;
    floods.reserve(devices.size());
    const double start = now();
    for (const std::string &device : devices)
        floods.emplace_back(flood, device, rate, seconds, std::ref(done));
    std::printf("%s: %d datagrams/s through each of 2 clients for %.0f s\n", qPrintable(mode), rate, seconds);
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const double t = now();
        std::printf("  %5.1f s: %6lld lines/s, arrived %5.2f s late (at most %5.2f); waiting on our side: %7d bytes unread, "
                    "%7lld read",
                    t - start, second.lines, second.lines ? second.lagSum / double(second.lines) : 0.0, second.lagMax,
                    unreadInKernel(socket), socket ? socket->bytesAvailable() : -1LL);
        if (view)
            std::printf(", %6d lines for the view; newest in the view %5.2f s old", writer->pendingLines(),
                        t - newestInView(view) - 0.5);
        std::printf("\n");
        std::fflush(stdout);
        second = Second();
    });
    report.start(1000);
    const bool flooded = QTest::qWaitFor([&] { return done.load() == int(floods.size()); }, int(seconds * 1000) + 30000);
    for (std::thread &thread : floods)
        thread.join();
    // The last lines OpenVPN wrote for the flood come once it has worked off its backlog.
    const double floodEnd = now();
    const bool caughtUp = QTest::qWaitFor([&] { return lastStamp >= floodEnd - 1 && (!view || newestInView(view) >= floodEnd - 1); }, 120000);
    report.stop();
    std::printf("  after the flood%s: %s %.1f s\n", flooded ? "" : " (which ran late)",
                caughtUp ? "the reader had its last lines" : "NOT caught up within", now() - floodEnd);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (const QString reason = OpenVpnLab::unavailableReason() + OpenVpnLab::tunUnavailableReason(); !reason.isEmpty()) {
        std::printf("skipped: %s\n", qPrintable(reason));
        return 0;
    }
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("both");
    const int rate = argc > 2 ? QByteArray(argv[2]).toInt() : 2500;
    const double seconds = argc > 3 ? QByteArray(argv[3]).toDouble() : 20;
    if (mode == QLatin1String("both"))
        return run(QStringLiteral("bare"), rate, seconds) | run(QStringLiteral("window"), rate, seconds);
    return run(mode, rate, seconds);
}
