// OpenVPN at debug verbosity, into the real window: a peer plays an OpenVPN server at verb 9
// that writes a steady stream of log lines (with >STATE: lines and the answers to the
// window's own commands mixed in) at a fixed rate over loopback, and the window (offscreen,
// the Log tab in front) shows them. Sampled while the stream runs:
//   - the longest gap of the event loop (a 5 ms timer that should keep ticking),
//   - resident memory above what the window held idle, connected, before the stream,
//   - how far the view is behind the stream (the newest line it shows against the newest the
//     peer was due to send), and after the stream has stopped, how long until the view
//     shows its last line.
// Every status answer the window asked for during the flood must arrive whole.
//
// Usage: bench_logflood [lines-per-second [seconds]]. Without arguments it runs 50,000 and
// 200,000 lines/s for 30 s each, each in a process of its own so that one run's memory does
// not hide the other's.
//
// Each log line carries its sequence number at its end (" #123"), which is how the view's
// newest line is told; the rest of a line has the shapes and lengths that OpenVPN's debug
// levels write.

#include "benchsupport.h"
#include "ui/mainwindow.h"

#include "support/mainwindowtestaccess.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int statusClients = 50;
constexpr int historyLines = 300;
constexpr qint64 catchUpLimitMs = 120000;
// A run whose memory grows past this is stopped, so that it does not take the machine down.
constexpr double memoryLimitMiB = 4096;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Plays an OpenVPN server at verb 9: answers the window's commands and, once started,
// writes `rate` log lines per second for `seconds`, keeping to the schedule as far as the
// socket lets it (a send that blocks holds it back; the slip is recorded).
class VerbosePeer
{
public:
    VerbosePeer(long long rate, double seconds)
        : rate(rate)
        , total(static_cast<long long>(double(rate) * seconds))
    {
    }

    const long long rate;
    const long long total;

    std::atomic<bool> start{false};
    std::atomic<bool> quit{false};
    // Sequence numbers of log lines sent so far (all of them once finished is set).
    std::atomic<long long> sent{0};
    std::atomic<bool> finished{false};
    std::atomic<long long> statusAnswers{0};
    Clock::time_point streamStart;
    Clock::time_point streamEnd;
    // The furthest the peer was behind its schedule, in seconds.
    double worstSlip = 0;

    // Lines the schedule wants sent by now.
    long long due() const
    {
        if (!start.load())
            return 0;
        return std::min(total, static_cast<long long>(secondsSince(streamStart) * double(rate)));
    }

    void serve(int listenFd)
    {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        std::string out = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
        std::string in;
        bool streaming = false;
        bool open = true;
        while (open && !quit.load()) {
            if (!streaming && start.load()) {
                streaming = true;
                streamStart = Clock::now();
            }
            if (streaming && !finished.load()) {
                const long long target = due();
                // At most 50 ms of the stream per send, so that commands are answered between.
                const long long upTo = std::min(target, sent.load() + std::max<long long>(rate / 20, 1));
                for (long long seq = sent.load(); seq < upTo; ++seq)
                    logLine(out, seq);
                open = flush(fd, out);
                sent.store(upTo);
                worstSlip = std::max(worstSlip, double(due() - upTo) / double(rate));
                if (upTo == total) {
                    streamEnd = Clock::now();
                    finished.store(true);
                }
            }
            open = open && flush(fd, out);
            // Commands, or a millisecond's wait for the schedule.
            pollfd waiting{fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, 1);
            if (ready > 0) {
                char buffer[4096];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                    break;
                if (n > 0)
                    in.append(buffer, std::size_t(n));
                std::size_t end;
                while ((end = in.find('\n')) != std::string::npos) {
                    std::string command = in.substr(0, end);
                    in.erase(0, end + 1);
                    if (!command.empty() && command.back() == '\r')
                        command.pop_back();
                    answer(command, out);
                }
            }
        }
        ::close(fd);
    }

private:
    long long clock = 1796673031;
    int stateIndex = 0;
    std::string now() const { return std::to_string(clock + sent.load() / std::max<long long>(rate, 1)); }

    bool flush(int fd, std::string &out)
    {
        if (out.empty())
            return true;
        const bool ok = sendAll(fd, out);
        out.clear();
        return ok;
    }

    static void line(std::string &out, const std::string &text)
    {
        out += text;
        out += "\r\n";
    }

    // One line of a server at verb 9 with a few busy clients: mostly packet-level debug
    // lines, now and then a state change, a TLS or a connection message, a hex dump.
    void logLine(std::string &out, long long seq)
    {
        const std::string t = now();
        const std::string n = std::to_string(seq);
        const int client = int(seq % 7);
        const std::string peer = "client" + std::to_string(client) + "/198.51.100." + std::to_string(10 + client) + ":4" +
                                 std::to_string(1000 + client);
        const std::string len = std::to_string(60 + seq % 1400);
        if (seq % 5000 == 4999) {
            static const char *const states[] = {"CONNECTED,SUCCESS,10.8.0.1,,,,", "RECONNECTING,ping-restart,,,,,,",
                                                 "WAIT,,,,,,,", "AUTH,,,,,,,", "GET_CONFIG,,,,,,,", "ASSIGN_IP,,10.8.0.1,,,,,"};
            line(out, ">STATE:" + t + "," + states[stateIndex++ % 6]);
        }
        std::string text;
        switch (seq % 16) {
        case 0:
        case 1:
            text = ",D," + peer + " UDPv4 READ [" + len + "] from [AF_INET]198.51.100.7:52137: P_DATA_V2 kid=0 DATA len=" + len;
            break;
        case 2:
        case 3:
            text = ",D," + peer + " TUN WRITE [" + len + "]";
            break;
        case 4:
        case 5:
            text = ",D," + peer + " UDPv4 WRITE [" + len + "] to [AF_INET]198.51.100.7:52137: P_DATA_V2 kid=0 DATA len=" + len;
            break;
        case 6:
            text = ",D,PO_CTL rwflags=0x0001 ev=7 arg=0x5581c1d2a0f8";
            break;
        case 7:
            text = ",D,I/O WAIT TR|Tw|SR|Sw [10/0]";
            break;
        case 8:
            text = ",D,GET INST BY REAL: 198.51.100." + std::to_string(10 + client) + ":4" + std::to_string(1000 + client) +
                   " [succeeded]";
            break;
        case 9:
            text = ",D,SCHEDULE: schedule_find_least NULL";
            break;
        case 10:
            text = ",D," + peer + " DATA PRE ENCRYPT len=" + len +
                   " 45 00 00 54 6a 3b 40 00 40 01 bc 4e 0a 08 00 01 0a 08 00 06 08 00 5d 3b 00 19 00 01 c4 9f 2b 67 00 00 00 00 "
                   "7f 5c 0e 00 00 00 00 00 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 20 21 22 23 24 25 26 27 28 29 2a 2b";
            break;
        case 11:
            text = ",D," + peer + " MULTI: REAP range 208 -> 224";
            break;
        case 12:
            text = ",," + peer + " Data Channel: cipher 'AES-256-GCM', peer-id: " + std::to_string(client) + ", compression: 'stub'";
            break;
        case 13:
            text = ",W," + peer + " WARNING: 'link-mtu' is used inconsistently, local='link-mtu 1549', remote='link-mtu 1550'";
            break;
        case 14:
            text = seq % 50000 == 14 ? ",I," + peer + " Peer Connection Initiated with [AF_INET]198.51.100.7:52137"
                                     : ",D," + peer + " TLS: tls_pre_decrypt: packet from [AF_INET]198.51.100.7:52137 op=P_DATA_V2";
            break;
        default:
            text = ",D," + peer + " MSS: 1450 -> 1356";
            break;
        }
        line(out, ">LOG:" + t + text + " #" + n);
    }

    void answer(const std::string &command, std::string &out)
    {
        const std::string t = now();
        if (command == "state") {
            line(out, t + ",CONNECTED,SUCCESS,10.8.0.1,,,,");
            line(out, "END");
        } else if (command == "state on all") {
            line(out, "SUCCESS: real-time state notification set to ON");
            line(out, t + ",CONNECTED,SUCCESS,10.8.0.1,,,,");
            line(out, "END");
        } else if (command == "log on all") {
            line(out, "SUCCESS: real-time log notification set to ON");
            for (int i = 0; i < historyLines; ++i)
                line(out, t + ",I,history line " + std::to_string(i) + " of the server's start");
            line(out, "END");
        } else if (command == "status 2") {
            line(out, "TITLE,OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL] [PKCS11] [MH/PKTINFO] [AEAD] [DCO]");
            line(out, "TIME,2026-12-07 19:50:43," + t);
            line(out, "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
                      "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher");
            for (int i = 0; i < statusClients; ++i) {
                const std::string c = std::to_string(i);
                std::string client = "CLIENT_LIST,client" + c + ",198.51.100." + std::to_string(10 + i) + ":4" + std::to_string(1000 + i);
                client += ",10.8.0." + std::to_string(i + 2) + ",,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,";
                client += c;
                client += ",";
                client += c;
                client += ",AES-256-GCM";
                line(out, client);
            }
            line(out, "HEADER,ROUTING_TABLE,Virtual Address,Common Name,Real Address,Last Ref,Last Ref (time_t)");
            for (int i = 0; i < statusClients; ++i) {
                const std::string c = std::to_string(i);
                line(out, "ROUTING_TABLE,10.8.0." + std::to_string(i + 2) + ",client" + c + ",198.51.100." +
                              std::to_string(10 + i) + ":4" + std::to_string(1000 + i) + ",2026-12-07 19:50:38,1796673038");
            }
            line(out, "GLOBAL_STATS,Max bcast/mcast queue length,1");
            line(out, "GLOBAL_STATS,dco_enabled,0");
            line(out, "END");
            ++statusAnswers;
        } else if (command == "version") {
            line(out, "OpenVPN Version: OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL] [PKCS11] [MH/PKTINFO] [AEAD] [DCO]");
            line(out, "Management Version: 5");
            line(out, "END");
        } else if (command == "hold release") {
            line(out, "SUCCESS: hold release succeeded");
        } else {
            line(out, "ERROR: unknown command, enter 'help' for more options");
        }
    }
};

// Runs the event loop until `done` holds or the time is up. Unlike QTest::qWaitFor, which
// sleeps between its rounds, it lets the loop turn as the program's own loop does.
bool runUntil(const std::function<bool()> &done, qint64 timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(std::chrono::milliseconds(timeoutMs), &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

// The sequence number of the newest log line the view shows; -1 when it shows none.
long long newestShown(const QTextEdit *view)
{
    for (QTextBlock block = view->document()->lastBlock(); block.isValid(); block = block.previous()) {
        const QString text = block.text();
        const qsizetype hash = text.lastIndexOf(QLatin1Char('#'));
        if (hash < 0)
            continue;
        bool ok = false;
        const long long seq = text.mid(hash + 1).trimmed().toLongLong(&ok);
        if (ok)
            return seq;
    }
    return -1;
}

struct Figures
{
    double longestGapMs = 0;
    double worstRssMiB = 0;
    double idleRssMiB = 0;
    double catchUpS = -1; // -1: not caught up within the limit
    double worstSlipS = 0;
    double streamSeconds = 0;
    long long linesSent = 0;
    long long statusAsked = 0;
    long long statusWhole = 0;
    long long statusBroken = 0;
    int viewLines = 0;
};

int runOne(long long rate, double seconds)
{
    TestSettings settings;
    ScriptedDialogs dialogs;
    pointUpdateCheckAtClosedPort();
    // No address is set, so that the window asks for one (and is refused) rather than connect
    // to the management port, where tests may be listening; it is connected to the peer below.
    LoopbackListener listener;
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));

    VerbosePeer peer(rate, seconds);
    std::thread server([&] { peer.serve(listener.fd); });

    Figures figures;
    {
        MainWindow window;
        window.resize(900, 650);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
        auto *terminal = window.findChild<QTextEdit *>(QStringLiteral("terminal"));
        OpenVpnManagement &management = MainWindowTestAccess::management(window);
        if (!runUntil([&] { return MainWindowTestAccess::initTimer(window) == nullptr; }, 20000)) {
            std::fprintf(stderr, "the window did not start\n");
            return 1;
        }
        management.connectToHost(QStringLiteral("127.0.0.1"), listener.port);

        // Every status answer must come whole: its header first, END last, every client.
        QObject::connect(&management, &OpenVpnManagement::statusResponse, [&](const QStringList &lines) {
            const bool whole = lines.size() == 3 + statusClients + 1 + statusClients + 3
                               && lines.first().startsWith(QLatin1String("TITLE,"))
                               && lines.last() == QLatin1String("END\r\n");
            ++(whole ? figures.statusWhole : figures.statusBroken);
        });

        // Up, the start-up commands answered, and a moment of quiet before the idle figure.
        if (!QTest::qWaitFor([&] { return management.state() == OpenVpnManagement::StateConnected; }, 20000)
            || !MainWindowTestAccess::settle(window, 20000)) {
            std::fprintf(stderr, "the window did not come up\n");
            return 1;
        }
        QTest::qWait(1000);
        const long long statusBefore = figures.statusWhole;
        const long long answersBefore = peer.statusAnswers.load();
        figures.idleRssMiB = double(statusKilobytes("VmRSS:")) / 1024;

        QElapsedTimer sinceTick;
        qint64 longestGapNs = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
            sinceTick.restart();
        });

        double worstRss = 0;
        QTimer sampler;
        sampler.setInterval(100);
        QElapsedTimer clock;
        int nextReport = 1;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const double rss = double(statusKilobytes("VmRSS:")) / 1024 - figures.idleRssMiB;
            worstRss = std::max(worstRss, rss);
            if (rss > memoryLimitMiB) {
                std::printf("    stopped: more than %.0f MiB above idle\n", memoryLimitMiB);
                std::fflush(stdout);
                std::_Exit(3);
            }
            if (clock.elapsed() >= qint64(nextReport) * 5000) {
                ++nextReport;
                const long long shown = newestShown(terminal);
                std::printf("    %5.1f s: %+7.1f MiB, view %.2f s behind, longest gap so far %.1f ms\n", double(clock.elapsed()) / 1000,
                            rss, double(peer.due() - 1 - shown) / double(rate), double(longestGapNs) / 1e6);
                std::fflush(stdout);
            }
        });

        clock.start();
        sinceTick.start();
        probe.start();
        sampler.start();
        peer.start.store(true);

        if (!runUntil([&] { return peer.finished.load(); }, qint64(seconds * 1000 * 10))) {
            std::fprintf(stderr, "the peer did not finish its stream\n");
            peer.quit.store(true);
            server.join();
            return 1;
        }
        const long long last = peer.total - 1;
        // From the moment the peer sent its last line (which this thread sees a moment late).
        if (runUntil([&] { return newestShown(terminal) == last; }, catchUpLimitMs))
            figures.catchUpS = secondsSince(peer.streamEnd);
        // Whatever the window asked for until now has its answer.
        if (!MainWindowTestAccess::settle(window, 60000))
            std::fprintf(stderr, "the version asked for after the stream got no answer\n");
        probe.stop();
        sampler.stop();
        figures.longestGapMs = double(longestGapNs) / 1e6;
        figures.worstRssMiB = worstRss;
        figures.worstSlipS = peer.worstSlip;
        figures.streamSeconds = std::chrono::duration<double>(peer.streamEnd - peer.streamStart).count();
        figures.linesSent = peer.total;
        figures.statusAsked = peer.statusAnswers.load() - answersBefore;
        figures.statusWhole -= statusBefore;
        figures.viewLines = terminal->document()->blockCount() - 1;
        peer.quit.store(true);
    }
    server.join();

    std::printf("  %lld lines/s for %.0f s: stream took %.2f s (peer at most %.2f s behind its schedule)\n", rate, seconds,
                figures.streamSeconds, figures.worstSlipS);
    std::printf("    longest event-loop gap %.1f ms; resident memory at most %+.1f MiB above idle (%.1f MiB idle)\n",
                figures.longestGapMs, figures.worstRssMiB, figures.idleRssMiB);
    // How far the view is behind when the stream stops: a window that stalls sees the stop late.
    if (figures.catchUpS >= 0)
        std::printf("    the view showed the last line %.2f s after the stream stopped\n", figures.catchUpS);
    else
        std::printf("    the view did NOT show the last line within %lld s after the stream stopped\n", catchUpLimitMs / 1000);
    std::printf("    status answers during the flood: %lld sent, %lld received whole, %lld broken; view holds %d lines\n",
                figures.statusAsked, figures.statusWhole, figures.statusBroken, figures.viewLines);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc > 1) {
        const long long rate = QByteArray(argv[1]).toLongLong();
        const double seconds = argc > 2 ? QByteArray(argv[2]).toDouble() : 30;
        if (rate <= 0 || seconds <= 0) {
            std::fprintf(stderr, "usage: %s [lines-per-second [seconds]]\n", argv[0]);
            return 2;
        }
        return runOne(rate, seconds);
    }
    std::printf("log flood into the window (offscreen): a verb 9 stream over loopback, sampled every 100 ms\n");
    std::fflush(stdout);
    int result = 0;
    for (const char *rate : {"50000", "200000"}) {
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        run.start(QCoreApplication::applicationFilePath(), {QLatin1String(rate), QStringLiteral("30")});
        run.waitForFinished(-1);
        result |= run.exitCode();
    }
    return result;
}
