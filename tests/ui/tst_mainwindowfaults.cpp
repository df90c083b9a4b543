#include "router/pylonvpnhttpadmin.h"
#include "support/fakehttpserver.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "ui/terminallogwriter.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

namespace {

// The management response time-out of these tests.
constexpr int shortTimeout = 300;

// The peer's answer for every line: nothing at all.
std::optional<QByteArray> silence(const QString &)
{
    return QByteArray();
}

} // namespace

// The window against management peers and a router web interface that misbehave: silence,
// a connection cut in the middle of a line, a line without end, a flood of log lines, an
// answer that never comes.
class tst_MainWindowFaults : public MainWindowFixture
{
    Q_OBJECT

public:
    // This test's own loopback address, so that it can run next to the others.
    tst_MainWindowFaults() : MainWindowFixture(QStringLiteral("127.0.0.51")) {}

private slots:
    void silentPeer_data();
    void silentPeer();
    void errorBoxLeftOpen();
    void brokenLine_data();
    void brokenLine();
    void logFlood();
    void routerNeverAnswers();

private:
    // Builds the window with this response time-out and shows it.
    bool show(int timeout = shortTimeout);
    // Shows the window and waits until the start-up commands were answered.
    bool open();
    QList<ScriptedDialogs::Call> questions() const;
};

bool tst_MainWindowFaults::show(int timeout)
{
    MainWindowTestAccess::management(makeWindow()).setTimeout(timeout);
    return MainWindowFixture::show();
}

bool tst_MainWindowFaults::open()
{
    return show() && MainWindowFixture::open();
}

QList<ScriptedDialogs::Call> tst_MainWindowFaults::questions() const
{
    QList<ScriptedDialogs::Call> result;
    for (const ScriptedDialogs::Call &call : dialogs->calls) {
        if (call.title == QLatin1String("Timeout reached"))
            result.append(call);
    }
    return result;
}

void tst_MainWindowFaults::silentPeer_data()
{
    QTest::addColumn<bool>("greets");
    QTest::addColumn<bool>("reconnect");
    QTest::newRow("says nothing at all, No") << false << false;
    QTest::newRow("says nothing at all, Yes") << false << true;
    QTest::newRow("greets, then answers nothing, No") << true << false;
    QTest::newRow("greets, then answers nothing, Yes") << true << true;
}

// The time-out question comes once per connection attempt. A connection that never delivered
// a line is left open by it (closing is only for a conversation that has begun); one that
// did is closed before the question.
void tst_MainWindowFaults::silentPeer()
{
    QFETCH(bool, greets);
    QFETCH(bool, reconnect);
    if (!greets)
        peer->greeting.clear();
    peer->handler = silence;
    QSignalSpy closed(peer.get(), &ScriptedOpenVpnPeer::disconnected);
    int openAtQuestion = -1;
    dialogs->onCall = [&](const ScriptedDialogs::Call &call) {
        if (call.title == QLatin1String("Timeout reached") && openAtQuestion < 0) {
            if (greets)
                QTRY_COMPARE(closed.size(), 1);
            openAtQuestion = peer->isConnected();
        }
    };
    dialogs->answerButton(reconnect ? QMessageBox::Yes : QMessageBox::No);
    QVERIFY(show());

    QTRY_COMPARE(questions().size(), 1);
    const ScriptedDialogs::Call question = questions().first();
    QCOMPARE(question.icon, QMessageBox::Warning);
    QCOMPARE(question.text, QStringLiteral("The server is not responding. The cause might be that it's management "
                                           "interface is already in use. Do you want to reconnect?"));
    QCOMPARE(question.defaultButton, QMessageBox::No);
    QCOMPARE(openAtQuestion, greets ? 0 : 1);
    QCOMPARE(peer->receivedOnConnection, greets ? QStringList{QStringLiteral("state")} : QStringList());

    if (reconnect) {
        // A new attempt, which meets the same silence: the same question once more (and the
        // default answer, No, this time).
        QTRY_COMPARE(peer->connections, 2);
        QTRY_COMPARE(questions().size(), 2);
    }
    // Nothing else comes: no third question, no further connection, no polling.
    QTest::qWait(5 * shortTimeout);
    QCOMPARE(questions().size(), reconnect ? 2 : 1);
    QCOMPARE(dialogs->calls.size(), questions().size());
    QCOMPARE(peer->connections, reconnect ? 2 : 1);
    QVERIFY(!MainWindowTestAccess::statusTimer(*window).isActive());
    QCOMPARE(peer->isConnected(), !greets);
    QVERIFY(window->isEnabled());
}

// A socket error shown in a box the user leaves open for a while is the only box: the
// response timer of the failed attempt does not add the time-out question on top of it.
void tst_MainWindowFaults::errorBoxLeftOpen()
{
    peer->stopListening();
    dialogs->onCall = [](const ScriptedDialogs::Call &) { QTest::qWait(5 * shortTimeout); };
    QVERIFY(show());
    QTRY_COMPARE(dialogs->calls.size(), 1);
    QTest::qWait(3 * shortTimeout);
    QCOMPARE(dialogs->titles(), QStringList{QStringLiteral("Network socket error")});
}

void tst_MainWindowFaults::brokenLine_data()
{
    QTest::addColumn<bool>("upFirst");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QString>("error");

    const QByteArray half = ">LOG:1262304000,I,half a li";
    // Twice the longest line the transport takes, and no line feed.
    const QByteArray endless = ">LOG:1262304000,I,half a li" + QByteArray(2 * QtTelnet::maxLineLength, 'x');
    const QString closed = QtTelnet::errorText(QAbstractSocket::RemoteHostClosedError);
    const QString tooLong = QStringLiteral("The peer sent a line longer than 1048576 bytes. The connection was closed.");
    QTest::newRow("half a line, then closed, before the first line") << false << half << true << closed;
    QTest::newRow("half a line, then closed, while up") << true << half << true << closed;
    QTest::newRow("line without end, before the first line") << false << endless << false << tooLong;
    QTest::newRow("line without end, while up") << true << endless << false << tooLong;
}

// The unfinished line goes with the connection: it is not shown, it does not start the
// conversation, and nothing of it is glued to the first line of the next connection. The
// error is shown once, with Reconnect offered, and no time-out question follows it.
void tst_MainWindowFaults::brokenLine()
{
    QFETCH(bool, upFirst);
    QFETCH(QByteArray, tail);
    QFETCH(bool, peerCloses);
    QFETCH(QString, error);
    // Long enough for the line to be sent and cut before the time-out.
    constexpr int timeout = 1000;
    peer->setAnswer(QStringLiteral("log on all"),
                    "SUCCESS: real-time log notification set to ON\r\n1262304000,I,before\r\nEND\r\n");
    if (upFirst) {
        QVERIFY(open());
        QTRY_VERIFY(logText().contains(QStringLiteral("before")));
        peer->send(tail);
    } else {
        peer->greeting = tail;
        QVERIFY(show(timeout));
        QTRY_COMPARE(peer->connections, 1);
    }
    QSignalSpy managementConnected(&MainWindowTestAccess::management(*window), &OpenVpnManagement::managementConnected);
    if (peerCloses) {
        QTest::qWait(100);
        peer->closeConnection();
    }

    QTRY_COMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.icon, QMessageBox::Critical);
    QCOMPARE(call.title, QStringLiteral("Network socket error"));
    QCOMPARE(call.text, error);
    QTRY_VERIFY(child<QToolButton>(*window, "reconnectButton")->isVisible());
    QTRY_VERIFY(!peer->isConnected());
    QVERIFY(!MainWindowTestAccess::statusTimer(*window).isActive());
    QCOMPARE(managementConnected.size(), 0);
    QVERIFY(!logText().contains(QStringLiteral("half")));
    QCOMPARE(logText().contains(QStringLiteral("before")), upFirst);
    QTest::qWait(timeout + 500);
    QCOMPARE(dialogs->calls.size(), 1);

    // The router is itself again.
    peer->greeting = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
    peer->setAnswer(QStringLiteral("log on all"),
                    "SUCCESS: real-time log notification set to ON\r\n1262304001,I,whole line\r\nEND\r\n");
    QTest::mouseClick(child<QToolButton>(*window, "reconnectButton"), Qt::LeftButton);
    QTRY_COMPARE(peer->receivedOnConnection.size(), startupCommands.size());
    QCOMPARE(peer->receivedOnConnection, startupCommands);
    QTRY_VERIFY(logText().contains(QStringLiteral("whole line")));
    QCOMPARE(logText().count(u'\n'), 1);
    QVERIFY(!logText().contains(QStringLiteral("half")));
    QTRY_VERIFY(!child<QToolButton>(*window, "reconnectButton")->isVisible());
    QCOMPARE(dialogs->calls.size(), 1);
}

// 100,000 log lines within a second. The window goes on handling events while they come (a
// timer of 10 ms keeps firing), keeps its log view bounded, shows the last line, and the
// conversation is intact afterwards.
void tst_MainWindowFaults::logFlood()
{
    constexpr int total = 100000;
    constexpr int bursts = 20;
    QVERIFY(open());
    MainWindowTestAccess::management(*window).setTimeout(60000);
    auto *terminal = child<QTextEdit>(*window, "terminal");
    const int limit = child<TerminalLogWriter>(*window, "logWriter")->lineLimit();

    // The longest time the event loop did not come round, measured by a ticking timer.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer probe;
    probe.setInterval(10);
    connect(&probe, &QTimer::timeout, this, [&] {
        longestGap = qMax(longestGap, sinceTick.restart());
        ++ticks;
    });

    int sent = 0;
    QTimer sender;
    sender.setInterval(1000 / bursts);
    connect(&sender, &QTimer::timeout, this, [&] {
        QByteArray burst;
        for (int i = 0; i < total / bursts; ++i, ++sent)
            burst += ">LOG:1262304000,I,flood line " + QByteArray::number(sent) + "\r\n";
        peer->send(burst);
        if (sent == total)
            sender.stop();
    });

    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    probe.start();
    sender.start();
    const QString last = QStringLiteral("] flood line %1\n").arg(total - 1);
    QTRY_VERIFY_WITH_TIMEOUT(logText().endsWith(last), 120000);
    const qint64 elapsed = clock.elapsed();
    probe.stop();
    qInfo("%d log lines shown in %lld ms; the event loop came round %d times, the longest gap was %lld ms",
          total, elapsed, ticks, longestGap);

    // Responsive: events were handled all along (a frozen window would show one long gap).
    QVERIFY2(longestGap < 500, qPrintable(QString::number(longestGap)));
    QVERIFY(ticks > 10);
    const int lines = terminal->document()->blockCount() - 1;
    QVERIFY2(lines >= limit && lines <= limit + limit / 4, qPrintable(QString::number(lines)));
    QCOMPARE(terminal->document()->firstBlock().text(),
             QStringLiteral("[%1] flood line %2")
                 .arg(QDateTime::fromSecsSinceEpoch(1262304000).toString(QStringLiteral("yy.MM.dd hh:mm:ss")))
                 .arg(total - lines));
    QVERIFY(MainWindowTestAccess::settle(*window));
    QVERIFY(dialogs->calls.isEmpty());
    QVERIFY(MainWindowTestAccess::statusTimer(*window).isActive());
}

// A router web interface that takes the request and never answers: after the transfer time
// the command fails as any failed command does, and the window is usable again.
void tst_MainWindowFaults::routerNeverAnswers()
{
    FakeHttpServer luci;
    bool answers = false;
    luci.setHandler([&](const FakeHttpServer::Request &) {
        return answers ? FakeHttpServer::Response() : FakeHttpServer::Response::noAnswer();
    });
    PylonVpnHttpAdmin::setPortForTesting(luci.port());
    PylonVpnHttpAdmin::setTransferTimeoutForTesting(1000);
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    makeWindow();

    bool enabledAtBox = false;
    bool cursorRestoredAtBox = false;
    dialogs->onCall = [&](const ScriptedDialogs::Call &) {
        enabledAtBox = window->isEnabled();
        cursorRestoredAtBox = !QApplication::overrideCursor();
    };
    child<QPushButton>(*window, "fwRestartButton")->click();
    QVERIFY(!window->isEnabled());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTRY_COMPARE(luci.requests.size(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(window->isEnabled(), 60000);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.icon, QMessageBox::Critical);
    QCOMPARE(call.title, QStringLiteral("Error"));
    QCOMPARE(call.text, QStringLiteral("Command error!"));
    QVERIFY(enabledAtBox);
    QVERIFY(cursorRestoredAtBox);
    QTRY_COMPARE(luci.closedByClient, 1);
    QTest::qWait(1500);
    QCOMPARE(dialogs->calls.size(), 1);

    // Usable again: the next command goes through.
    answers = true;
    child<QPushButton>(*window, "restartButton")->click();
    QVERIFY(!window->isEnabled());
    QTRY_VERIFY(window->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(luci.requests.size(), 3);
    QCOMPARE(luci.requests.last().path(), QByteArray("/mini/system/reboot"));
    QCOMPARE(dialogs->calls.size(), 1);
}

QTEST_MAIN(tst_MainWindowFaults)
#include "tst_mainwindowfaults.moc"
