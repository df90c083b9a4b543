// Lines per second through OpenVpnManagement, next to a bare QTcpSocket::readLine() loop over
// the same bytes, both over a loopback socket in the same run.
//
// The peer is a thread with a plain blocking socket that plays OpenVPN: it answers each
// command line the client sends ("state", "state on all", "log on all", "status 2",
// "version") and follows every answer with a run of notifications (mostly >LOG:, some >STATE:,
// >ECHO: and >CLIENT: lines), as a busy server does between the client's status polls. Some
// lines name clients in UTF-8 and one in Latin-1, as OpenVPN passes names on unchanged. Every
// byte it sends is recorded, and a second peer replays the recording to the bare loop.
//
// Beside the wall-clock time of each run, the CPU time of the main thread (the one that reads
// and sorts) is taken: the peers run on threads of their own, and on a busy machine the wall
// clock also counts the time the main thread waited for a core.

#include "benchsupport.h"
#include "management/openvpnmanagement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// One string from its parts, built in place.
template <typename... Parts>
std::string joined(const Parts &...parts)
{
    std::string result;
    ((result += parts), ...);
    return result;
}

constexpr long long targetLines = 2'000'000;
constexpr int notificationsPerAnswer = 400;
constexpr int statusClients = 20;
constexpr int rounds = 5;

double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

class FakeOpenVpn
{
public:
    bool record = false;
    std::string recording;
    long long lines = 0;

    // Serves one connection until targetLines have been sent.
    void serve(int listenFd)
    {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        std::string out = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
        ++lines;
        std::string in;
        char buffer[4096];
        bool more = true;
        while (more && lines < targetLines) {
            if (!flush(fd, out))
                break;
            std::size_t end;
            while ((end = in.find('\n')) == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    more = false;
                    break;
                }
                in.append(buffer, std::size_t(n));
            }
            if (!more)
                break;
            std::string command = in.substr(0, end);
            in.erase(0, end + 1);
            if (!command.empty() && command.back() == '\r')
                command.pop_back();
            answer(command, out);
            notifications(out);
        }
        flush(fd, out);
        ::shutdown(fd, SHUT_WR);
        // Wait for the client to go, so that nothing is cut short.
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    }

private:
    long long clock = 1796673031;
    int stateIndex = 0;

    bool flush(int fd, std::string &out)
    {
        if (record)
            recording += out;
        const bool ok = sendAll(fd, out);
        out.clear();
        return ok;
    }

    void line(std::string &out, const std::string &text)
    {
        out += text;
        out += "\r\n";
        ++lines;
    }

    void answer(const std::string &command, std::string &out)
    {
        const std::string now = std::to_string(clock);
        if (command == "state") {
            line(out, now + ",CONNECTED,SUCCESS,10.88.0.1,,,,");
            line(out, "END");
        } else if (command == "state on all") {
            line(out, "SUCCESS: real-time state notification set to ON");
            line(out, now + ",CONNECTED,SUCCESS,10.88.0.1,,,,");
            line(out, "END");
        } else if (command == "log on all") {
            line(out, "SUCCESS: real-time log notification set to ON");
            for (int i = 0; i < 100; ++i)
                line(out, joined(now, ",I,Initialization step ", std::to_string(i), ", nothing to report, all well"));
            line(out, "END");
        } else if (command == "status 2") {
            line(out, "TITLE,OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL] [PKCS11] [MH/PKTINFO] [AEAD] [DCO]");
            line(out, "TIME,2026-12-07 19:50:43," + now);
            line(out, "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
                      "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher");
            for (int i = 0; i < statusClients; ++i) {
                const std::string n = std::to_string(i);
                line(out, joined("CLIENT_LIST,", clientName(i), n, ",127.0.0.1:4", n, "228,10.88.0.", std::to_string(i + 2),
                                 ",,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,", n, ",", n, ",AES-256-GCM"));
            }
            line(out, "HEADER,ROUTING_TABLE,Virtual Address,Common Name,Real Address,Last Ref,Last Ref (time_t)");
            for (int i = 0; i < statusClients; ++i) {
                const std::string n = std::to_string(i);
                line(out, joined("ROUTING_TABLE,10.88.0.", std::to_string(i + 2), ",", clientName(i), n, ",127.0.0.1:4", n,
                                 "228,2026-12-07 19:50:38,1796673038"));
            }
            line(out, "GLOBAL_STATS,Max bcast/mcast queue length,1");
            line(out, "GLOBAL_STATS,dco_enabled,0");
            line(out, "END");
        } else if (command == "version") {
            line(out, "OpenVPN Version: OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)] [LZO] [LZ4] [EPOLL] [PKCS11] [MH/PKTINFO] [AEAD] [DCO]");
            line(out, "Management Version: 5");
            line(out, "END");
        } else {
            line(out, "ERROR: unknown command, enter 'help' for more options");
        }
    }

    // Most client names are ASCII, some UTF-8, one is Latin-1 (passed on as OpenVPN got it).
    static std::string clientName(int i)
    {
        if (i == 7)
            return "klient\xe9";
        return i % 5 == 0 ? "klient\xc5\xbc" : "client";
    }

    // Appends the decimal digits of a number.
    static void number(std::string &out, long long value)
    {
        char digits[24];
        const char *const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out.append(digits, std::size_t(end - digits));
    }

    // Built piece by piece into the output, without temporaries: the peer has to write faster
    // than the client reads, or the run measures the peer.
    void notifications(std::string &out)
    {
        static const char *const states[] = {"CONNECTED,SUCCESS,10.88.0.1,127.0.0.1,1194,,", "RECONNECTING,ping-restart,,,,,,",
                                             "WAIT,,,,,,,", "AUTH,,,,,,,", "GET_CONFIG,,,,,,,", "ASSIGN_IP,,10.88.0.1,,,,,"};
        static const char *const flags[] = {"I", "", "W", "N", "D"};
        for (int i = 0; i < notificationsPerAnswer; ++i) {
            ++clock;
            ++lines;
            const int kind = i % 20;
            if (kind < 16) {
                out += ">LOG:";
                number(out, clock);
                out += ',';
                out += flags[i % 5];
                // Every eighth names a client in UTF-8.
                out += i % 8 == 0 ? ",klient\xc5\xbc" : ",client";
                number(out, i % statusClients);
                out += "/127.0.0.1:41228 Data Channel: cipher 'AES-256-GCM', peer-id: ";
                number(out, i);
                out += ", compression: none\r\n";
            } else if (kind < 18) {
                out += ">STATE:";
                number(out, clock);
                out += ',';
                out += states[stateIndex++ % 6];
                out += "\r\n";
            } else if (kind == 18) {
                out += ">ECHO:";
                number(out, clock);
                out += ",forget-passwords\r\n";
            } else {
                out += ">CLIENT:ESTABLISHED,";
                number(out, i);
                out += ',';
                number(out, i);
                out += "\r\n";
            }
        }
    }
};

struct Result
{
    long long lines = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    double rate() const { return double(lines) / seconds; }
};

// With `recording`, the peer keeps every byte it sends there (which costs it time, so the
// timed rounds do without: the peer's output depends only on the commands, which are the same
// in every round).
Result runManagement(std::string *recording)
{
    LoopbackListener listener;
    FakeOpenVpn peer;
    peer.record = recording != nullptr;
    std::thread server([&] { peer.serve(listener.fd); });

    OpenVpnManagement management;
    management.setTimeout(600000);
    Result result;
    long long logs = 0;
    long long states = 0;
    long long lists = 0;
    QObject::connect(&management, &QtTelnet::message, [&](const QStringList &lines) { result.lines += lines.size(); });
    QObject::connect(&management, &OpenVpnManagement::logMessage, [&](const QString &text) { logs += text.size(); });
    QObject::connect(&management, &OpenVpnManagement::stateMessage, [&](const QString &text) { states += text.size(); });
    QObject::connect(&management, &OpenVpnManagement::stateChanged, [&](OpenVpnManagement::VpnState) { ++states; });
    QObject::connect(&management, &OpenVpnManagement::managementConnected, [&] {
        management.stateOn(true);
        management.logOn(true);
        management.getStatus();
    });
    // Poll as the window does; every tenth poll asks for the version instead.
    QObject::connect(&management, &OpenVpnManagement::statusResponse, [&](const QStringList &lines) {
        lists += lines.size();
        if (++lists % 10 == 0)
            management.getVersion();
        else
            management.getStatus();
    });
    QObject::connect(&management, &OpenVpnManagement::versionResponse, [&] { management.getStatus(); });

    QEventLoop loop;
    QObject::connect(&management, &QtTelnet::disconnected, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = threadCpuSeconds();
    management.connectToHost(QStringLiteral("127.0.0.1"), listener.port);
    loop.exec();
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    result.cpuSeconds = threadCpuSeconds() - cpuBefore;
    server.join();

    if (result.lines != peer.lines || logs == 0 || states == 0 || lists == 0) {
        std::fprintf(stderr, "management run: %lld lines sent, %lld received\n", peer.lines, result.lines);
        std::exit(1);
    }
    if (recording)
        *recording = std::move(peer.recording);
    return result;
}

Result runBareLoop(const std::string &recording, long long expectedLines)
{
    LoopbackListener listener;
    std::thread server([&] {
        const int fd = ::accept(listener.fd, nullptr, nullptr);
        sendAll(fd, recording);
        ::shutdown(fd, SHUT_WR);
        char buffer[256];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    });

    QTcpSocket socket;
    Result result;
    const auto drain = [&] {
        while (socket.canReadLine()) {
            socket.readLine();
            ++result.lines;
        }
    };
    QObject::connect(&socket, &QTcpSocket::readyRead, drain);
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = threadCpuSeconds();
    socket.connectToHost(QStringLiteral("127.0.0.1"), listener.port);
    loop.exec();
    drain();
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    result.cpuSeconds = threadCpuSeconds() - cpuBefore;
    socket.close();
    server.join();

    if (result.lines != expectedLines) {
        std::fprintf(stderr, "bare loop: %lld lines expected, %lld read\n", expectedLines, result.lines);
        std::exit(1);
    }
    return result;
}

// Decoding alone: lines of one kind through QtTelnet::lineFromBytes, best of `rounds`, in
// nanoseconds per line.
double decodingNs(const QByteArray &line)
{
    constexpr int lines = 500'000;
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        qsizetype total = 0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < lines; ++i)
            total += QtTelnet::lineFromBytes(line.constData(), line.size()).size();
        const double ns = double(timer.nsecsElapsed()) / lines;
        if (total == 0)
            std::exit(1);
        if (round == 0 || ns < best)
            best = ns;
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);

    const QByteArray ascii = ">LOG:1796673031,I,client7/127.0.0.1:41228 Data Channel: cipher 'AES-256-GCM', peer-id: 7\r\n";
    const QByteArray utf8 = ">LOG:1796673031,I,klient\xc5\xbc\xc3\xb3\xc5\x82w/127.0.0.1:41228 Data Channel: cipher 'AES-256-GCM'\r\n";
    const QByteArray latin1 = "CLIENT_LIST,klient\xe9,127.0.0.1:41228,10.88.0.9,,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,7,7\r\n";
    std::printf("decoding alone, ns per line: ASCII %.0f, UTF-8 %.0f, a byte that is not UTF-8 %.0f\n", decodingNs(ascii),
                decodingNs(utf8), decodingNs(latin1));

    std::string recording;
    const long long lines = runManagement(&recording).lines;

    Result bestManagement;
    Result bestBare;
    Result bestCpuManagement;
    Result bestCpuBare;
    for (int round = 1; round <= rounds; ++round) {
        const Result management = runManagement(nullptr);
        const Result bare = runBareLoop(recording, lines);
        if (management.lines != lines) {
            std::fprintf(stderr, "round %d: %lld lines instead of %lld\n", round, management.lines, lines);
            return 1;
        }
        std::printf("round %d: %lld lines, %.1f MB; OpenVpnManagement %.0f lines/s (%.3f s, CPU %.3f s), bare readLine "
                    "loop %.0f lines/s (%.3f s, CPU %.3f s), ratio %.2f, CPU ratio %.2f\n",
                    round, management.lines, double(recording.size()) / 1e6, management.rate(), management.seconds,
                    management.cpuSeconds, bare.rate(), bare.seconds, bare.cpuSeconds, management.seconds / bare.seconds,
                    management.cpuSeconds / bare.cpuSeconds);
        if (round == 1 || management.rate() > bestManagement.rate())
            bestManagement = management;
        if (round == 1 || bare.rate() > bestBare.rate())
            bestBare = bare;
        if (round == 1 || management.cpuSeconds < bestCpuManagement.cpuSeconds)
            bestCpuManagement = management;
        if (round == 1 || bare.cpuSeconds < bestCpuBare.cpuSeconds)
            bestCpuBare = bare;
    }
    const double ratio = bestManagement.seconds / bestBare.seconds;
    std::printf("best: OpenVpnManagement %.0f lines/s, bare readLine loop %.0f lines/s, time ratio %.2f; "
                "main-thread CPU %.3f s against %.3f s, CPU ratio %.2f (target: ratio <= 2)\n",
                bestManagement.rate(), bestBare.rate(), ratio, bestCpuManagement.cpuSeconds, bestCpuBare.cpuSeconds,
                bestCpuManagement.cpuSeconds / bestCpuBare.cpuSeconds);
    return 0;
}
