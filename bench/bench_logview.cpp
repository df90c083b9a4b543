// OpenVPN log lines into the window's log view (through the window's log slot, with the view
// following the end) against a bare QTextEdit::append of the same lines, with 0, 10,000 and
// 100,000 lines already in the view, bounded as the window bounds it and unbounded.
#include "ui/mainwindow.h"

#include "support/mainwindowtestaccess.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "update/updateaction.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>

#include <cstdio>
#include <memory>

namespace {

constexpr int measuredLines = 20000;
// Lines handed over per turn of the event loop, as a busy connection delivers them.
constexpr int batch = 100;

// A rotation of lines as an OpenVPN server writes them.
QString logLine(int i)
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

double rssMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

class WindowView
{
public:
    explicit WindowView(int bound)
    {
        window.resize(800, 600);
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
        terminal = window.findChild<QTextEdit *>(QStringLiteral("terminal"));
        if (bound >= 0)
            terminal->document()->setMaximumBlockCount(bound);
    }
    void add(int from, int count)
    {
        OpenVpnManagement &management = MainWindowTestAccess::management(window);
        for (int i = from; i < from + count; ++i) {
            emit management.logMessage(logLine(i));
            if ((i + 1) % batch == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    }
    bool atEnd() const { return terminal->verticalScrollBar()->value() == terminal->verticalScrollBar()->maximum(); }
    int blocks() const { return terminal->document()->blockCount(); }
    int limit() const { return terminal->document()->maximumBlockCount(); }

private:
    MainWindow window;
    QTextEdit *terminal = nullptr;
};

class BareView
{
public:
    BareView()
    {
        edit.resize(780, 560);
        edit.setReadOnly(true);
        edit.show();
        (void)QTest::qWaitForWindowExposed(&edit);
    }
    void add(int from, int count)
    {
        for (int i = from; i < from + count; ++i) {
            QString line = logLine(i);
            line.chop(2);
            edit.append(line);
            if ((i + 1) % batch == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    }

private:
    QTextEdit edit;
};

template<typename View>
double linesPerSecond(View &view, int from)
{
    QElapsedTimer timer;
    timer.start();
    view.add(from, measuredLines);
    return measuredLines / (double(timer.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestSettings settings;
    ScriptedDialogs dialogs;
    UpdateAction::setHostForTesting(QStringLiteral("127.0.0.1"));
    UpdateAction::setPortForTesting(1);
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.46"));

    int bound = 0;
    {
        WindowView probe(-1);
        bound = probe.limit();
    }
    std::printf("log view: %d OpenVPN log lines per measurement, handed over in batches of %d\n", measuredLines, batch);
    std::printf("the window keeps the last %d lines\n\n", bound);
    std::printf("%-34s %14s %14s %8s\n", "lines already in the view", "window lines/s", "bare lines/s", "ratio");
    for (const int prefill : {0, 10000, 100000}) {
        double window = 0;
        bool following = false;
        {
            WindowView view(-1);
            view.add(0, prefill);
            window = linesPerSecond(view, prefill);
            following = view.atEnd();
        }
        double bare = 0;
        {
            BareView view;
            view.add(0, prefill);
            bare = linesPerSecond(view, prefill);
        }
        std::printf("%-34d %14.0f %14.0f %8.2f%s\n", prefill, window, bare, window / bare,
                    following ? "" : "  (view left the end!)");
    }

    std::printf("\nthe same without the bound (every line kept)\n");
    for (const int prefill : {0, 10000, 100000}) {
        WindowView view(0);
        view.add(0, prefill);
        const double window = linesPerSecond(view, prefill);
        std::printf("%-34d %14.0f\n", prefill, window);
    }

    std::printf("\nresident memory after 100,000 lines (whole process)\n");
    for (const bool bounded : {true, false}) {
        const double before = rssMiB();
        WindowView view(bounded ? -1 : 0);
        view.add(0, 100000);
        std::printf("  %-10s %8.1f MiB (%+.1f MiB), %d lines in the view\n", bounded ? "bounded" : "unbounded", rssMiB(),
                    rssMiB() - before, view.blocks() - 1);
    }
    return 0;
}
