// OpenVPN log lines into the window's log view, through the window's log slot with the view
// following its end, against a bare QTextEdit::append of the same lines, with 0, 10,000 and
// 100,000 lines already in the view. Beside them the same view without the window's bound on
// the number of lines, once written batch by batch as the window does and once line by line.
// Lines come in batches, as a busy management connection delivers them, and the views are
// painted between batches.
#include "ui/mainwindow.h"

#include "benchsupport.h"
#include "support/mainwindowtestaccess.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"
#include "ui/terminallogwriter.h"
#include "ui/textterminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>

#include <climits>
#include <cstdio>
#include <functional>

namespace {

constexpr int measuredLines = 20000;
constexpr int batch = 100;

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

// Hands lines [from, from + count) to `add` in batches, painting in between; lines per second.
double feed(const std::function<void(int)> &add, int from, int count)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = from; i < from + count; ++i) {
        add(i);
        if ((i + 1) % batch == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    return count / (double(timer.nsecsElapsed()) / 1e9);
}

bool atEnd(const QTextEdit *view)
{
    return view->verticalScrollBar()->value() == view->verticalScrollBar()->maximum();
}

struct Result
{
    double rate = 0;
    bool following = false;
    int lines = 0;
    double rss = 0; // resident memory at the end, with the view still there
};

// The window itself: its log slot, its terminal, its bound.
Result windowRun(int prefill)
{
    MainWindow window;
    window.resize(800, 600);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    auto *terminal = window.findChild<QTextEdit *>(QStringLiteral("terminal"));
    OpenVpnManagement &management = MainWindowTestAccess::management(window);
    const auto add = [&](int i) { emit management.logMessage(sampleLogLine(i)); };
    feed(add, 0, prefill);
    Result result;
    result.rate = feed(add, prefill, measuredLines);
    result.following = atEnd(terminal);
    result.lines = terminal->document()->blockCount() - 1;
    result.rss = rssMiB();
    return result;
}

// The same writer and terminal with no bound; lineByLine writes every line in an edit of its
// own, as a log slot that inserts each line at once does.
Result unboundedRun(int prefill, bool lineByLine = false)
{
    TextTerminal terminal;
    terminal.setUndoRedoEnabled(false);
    TerminalLogWriter writer(&terminal, INT_MAX / 2);
    terminal.resize(780, 560);
    terminal.show();
    (void)QTest::qWaitForWindowExposed(&terminal);
    const auto add = [&](int i) { writer.append(sampleLogLine(i)); };
    const auto addNow = [&](int i) {
        writer.append(sampleLogLine(i));
        writer.flush();
    };
    feed(add, 0, prefill);
    Result result;
    result.rate = feed(lineByLine ? std::function<void(int)>(addNow) : std::function<void(int)>(add), prefill, measuredLines);
    result.following = atEnd(&terminal);
    result.lines = terminal.document()->blockCount() - 1;
    result.rss = rssMiB();
    return result;
}

Result bareRun(int prefill)
{
    QTextEdit edit;
    edit.setReadOnly(true);
    edit.resize(780, 560);
    edit.show();
    (void)QTest::qWaitForWindowExposed(&edit);
    const auto add = [&](int i) {
        QString line = sampleLogLine(i);
        line.chop(2);
        edit.append(line);
    };
    feed(add, 0, prefill);
    Result result;
    result.rate = feed(add, prefill, measuredLines);
    result.following = atEnd(&edit);
    result.lines = edit.document()->blockCount();
    result.rss = rssMiB();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestSettings settings;
    ScriptedDialogs dialogs;
    pointUpdateCheckAtClosedPort();
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.46"));
    // Run by the main run below, once per kind, each in a process of its own so that one
    // run's freed memory does not hide the other's.
    if (argc > 1 && qstrcmp(argv[1], "--memory") == 0) {
        const bool bounded = argc > 2 && qstrcmp(argv[2], "bounded") == 0;
        const double before = rssMiB();
        const Result result = bounded ? windowRun(100000 - measuredLines) : unboundedRun(100000 - measuredLines);
        std::printf("  %-10s %7.1f MiB resident with the view (%+.1f MiB over the empty start), %d lines kept\n",
                    bounded ? "window:" : "unbounded:", result.rss, result.rss - before, result.lines);
        return 0;
    }

    // Font and glyph caches are filled once per process; the first run would pay for them.
    (void)windowRun(0);
    (void)bareRun(0);

    std::printf("log view: %d OpenVPN log lines per measurement, in batches of %d with painting in between\n",
                measuredLines, batch);
    std::printf("the window keeps the last %d to %d lines\n\n", TerminalLogWriter::defaultLineLimit,
                TerminalLogWriter::defaultLineLimit + TerminalLogWriter::defaultLineLimit / 4);
    std::printf("%-12s %16s %16s %16s %16s %10s\n", "already in", "window lines/s", "unbounded", "line by line",
                "bare append", "window/bare");
    for (const int prefill : {0, 10000, 100000}) {
        const Result window = windowRun(prefill);
        std::fflush(stdout);
        const Result unbounded = unboundedRun(prefill);
        const Result lineByLine = unboundedRun(prefill, true);
        const Result bare = bareRun(prefill);
        std::printf("%-12d %16.0f %16.0f %16.0f %16.0f %10.2f   (window view: %d lines%s)\n", prefill, window.rate,
                    unbounded.rate, lineByLine.rate, bare.rate, window.rate / bare.rate, window.lines,
                    window.following ? ", at the end" : ", NOT at the end");
        std::fflush(stdout);
    }

    std::printf("\nresident memory of the whole process after 100,000 lines\n");
    std::fflush(stdout);
    for (const char *kind : {"bounded", "unbounded"}) {
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--memory"), QLatin1String(kind)});
        run.waitForFinished(-1);
    }
    return 0;
}
