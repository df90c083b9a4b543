// Finding in and saving the window's log view when it is full: 12,500 OpenVPN log lines, the
// most the view keeps, in a shown main window of 800 by 600 with the Log tab in front.
//
// Finding: the text typed into the find bar, all-in (the search of the whole view, the count,
// bringing the current match into view, highlighting what is in view, and a repaint), for a
// text that is not there, a rare one, one on every line and one letter that is on every line
// many times; beside it the search of the view alone. Then what an open search costs the log
// writer: lines written while it stays open against the same lines with the bar closed.
// Saving: the view's text taken and written to a file as the Save log entry does.
#include "benchsupport.h"
#include "support/mainwindowtestaccess.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"
#include "ui/logfindbar.h"
#include "ui/logfinder.h"
#include "ui/logsaver.h"
#include "ui/mainwindow.h"
#include "ui/terminallogwriter.h"
#include "ui/textterminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

namespace {

constexpr int runs = 15;
constexpr int fullView = TerminalLogWriter::defaultLineLimit + TerminalLogWriter::defaultLineLimit / 4;

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// The CPU time of this thread: on a shared machine the wall time also counts the time other
// processes had the CPU.
double cpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Median and worst of the runs.
struct Spread
{
    double median = 0;
    double worst = 0;
};

// A measured part: wall time and CPU time of this thread.
class Stopwatch
{
public:
    Stopwatch() : cpuStart(cpuMilliseconds()) { wall.start(); }
    std::pair<double, double> stop() const { return {milliseconds(wall), cpuMilliseconds() - cpuStart}; }

private:
    QElapsedTimer wall;
    double cpuStart;
};

// Median and worst of the wall times, and median of the CPU times, of the runs.
template<typename Run>
Spread measure(Run run, double *cpuMedian)
{
    std::vector<double> times;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const auto [wall, used] = run();
        times.push_back(wall);
        cpu.push_back(used);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    *cpuMedian = cpu[cpu.size() / 2];
    return {times[times.size() / 2], times.back()};
}

void settle()
{
    QCoreApplication::processEvents();
}

// Lines per second that the window's writer takes while `open` says whether a search is open.
double writeRate(MainWindow &window, LogFindBar &bar, bool open, int &next)
{
    auto *field = bar.findChild<QLineEdit *>(QStringLiteral("findField"));
    if (open) {
        bar.open();
        field->setText(QStringLiteral("peer connection"));
    } else {
        bar.dismiss();
    }
    settle();
    OpenVpnManagement &management = MainWindowTestAccess::management(window);
    constexpr int lines = 20000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lines; ++i) {
        emit management.logMessage(sampleLogLine(next++));
        if (i % 100 == 99)
            settle();
    }
    auto *writer = window.findChild<TerminalLogWriter *>(QStringLiteral("logWriter"));
    while (writer->pendingLines() > 0)
        settle();
    return lines / (double(timer.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestSettings settings;
    ScriptedDialogs dialogs;
    pointUpdateCheckAtClosedPort();
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.62"));

    MainWindow window;
    MainWindowTestAccess::initTimer(window)->stop();
    window.resize(800, 600);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    auto *terminal = window.findChild<TextTerminal *>(QStringLiteral("terminal"));
    auto *writer = window.findChild<TerminalLogWriter *>(QStringLiteral("logWriter"));
    auto *bar = window.findChild<LogFindBar *>(QStringLiteral("findBar"));
    auto *field = bar->findChild<QLineEdit *>(QStringLiteral("findField"));
    for (int i = 0; i < fullView; ++i)
        writer->append(sampleLogLine(i));
    while (writer->pendingLines() > 0)
        settle();
    const int lines = terminal->document()->blockCount() - 1;
    std::printf("log view: %d lines, %.1f MiB of text\n\n", lines,
                double(terminal->document()->characterCount()) * 2 / 1024 / 1024);

    std::printf("wall time median and worst, and median CPU time of this thread, of %d runs\n", runs);
    std::printf("%-26s %8s %10s %10s %10s %12s %10s\n", "find", "matches", "all-in", "worst", "CPU", "search alone",
                "CPU");
    const struct
    {
        const char *label;
        const char *text;
    } needles[] = {
        {"not there", "AUTH_FAILED"},
        {"rare (one client)", "client12345/"},
        {"on every eighth line", "peer connection"},
        {"on every line", "198.51.100.7"},
        {"one letter, many per line", "e"},
    };
    for (const auto &needle : needles) {
        const QString text = QString::fromLatin1(needle.text);
        bar->open();
        double allCpu = 0;
        const Spread all = measure([&] {
            field->clear();
            settle();
            const Stopwatch watch;
            field->setText(text);
            settle();
            terminal->viewport()->repaint();
            return watch.stop();
        }, &allCpu);
        LogFinder finder(terminal->document());
        double aloneCpu = 0;
        const Spread alone = measure([&] {
            const Stopwatch watch;
            finder.find(text);
            return watch.stop();
        }, &aloneCpu);
        std::printf("%-26s %8d %7.2f ms %7.2f ms %7.2f ms %9.2f ms %7.2f ms\n", needle.label, finder.count(), all.median,
                    all.worst, allCpu, alone.median, aloneCpu);
        finder.find(QString());
        bar->dismiss();
        settle();
    }

    std::printf("\nlog lines written per second, 20,000 lines in batches of 100 into the full view\n");
    int next = fullView;
    (void)writeRate(window, *bar, false, next);
    const double closed = writeRate(window, *bar, false, next);
    const double open = writeRate(window, *bar, true, next);
    std::printf("  find bar closed: %8.0f   open, \"peer connection\": %8.0f   (%.2f)\n", closed, open, open / closed);
    bar->dismiss();
    settle();

    QTemporaryDir directory;
    const QString fileName = directory.filePath(QStringLiteral("openvpn.log"));
    double saveCpu = 0;
    const Spread save = measure([&] {
        const Stopwatch watch;
        QString error;
        if (!LogSaver::write(fileName, terminal->document()->toPlainText(), &error))
            std::printf("save failed: %s\n", qPrintable(error));
        return watch.stop();
    }, &saveCpu);
    std::printf("\nsave the full view (%lld bytes): median %.2f ms, worst %.2f ms, CPU %.2f ms\n",
                static_cast<long long>(QFileInfo(fileName).size()), save.median, save.worst, saveCpu);
    return 0;
}
