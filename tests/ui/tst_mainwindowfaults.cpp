#include "management/qttelnet.h"
#include "router/pylonvpnhttpadmin.h"
#include "support/fakehttpserver.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "ui/clientlistview.h"
#include "ui/clientstatuswidget.h"
#include "ui/terminallogwriter.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

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
    void dialogsLeaveTheRepliesFlowing_data();
    void dialogsLeaveTheRepliesFlowing();
    void linesBeforeTheCloseAreShown_data();
    void linesBeforeTheCloseAreShown();
    void brokenLine_data();
    void brokenLine();
    void logFlood();
    void repliesInAFlood_data();
    void repliesInAFlood();
    void routerNeverAnswers();

private:
    // Builds the window with this response time-out and shows it.
    bool show(int timeout = shortTimeout);
    // Shows the window and waits until the start-up commands were answered.
    bool open();
    QList<ScriptedDialogs::Call> questions() const;
    // Opens the window in server mode, the client list in front, on a peer that lists one
    // client of that name and refuses to disconnect "client1"; the list, or nullptr.
    ClientListView *openWithAClient(const QString &name, int timeout = shortTimeout);
    // Presses the first client's Disconnect, the question answered Yes.
    void disconnectFirstClient(ClientListView *list);
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

ClientListView *tst_MainWindowFaults::openWithAClient(const QString &name, int timeout)
{
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26({ScriptedOpenVpnPeer::clientLine26(name, 1)});
    peer->setAnswer(QStringLiteral("kill \"client1\""), "ERROR: common name 'client1' not found\r\n");
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    if (!show(timeout))
        return nullptr;
    ClientListView *list = showClients();
    return MainWindowFixture::open() && QTest::qWaitFor([list] { return list->panelAt(0) != nullptr; }) ? list : nullptr;
}

void tst_MainWindowFaults::disconnectFirstClient(ClientListView *list)
{
    dialogs->answerButton(QMessageBox::Yes);
    QTest::mouseClick(list->panelAt(0)->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
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
    // Read while the first question is open: a Yes starts the next connection at once.
    QStringList receivedAtQuestion;
    dialogs->onCall = [&](const ScriptedDialogs::Call &call) {
        if (call.title == QLatin1String("Timeout reached") && openAtQuestion < 0) {
            if (greets)
                QTRY_COMPARE(closed.size(), 1);
            openAtQuestion = peer->isConnected();
            receivedAtQuestion = peer->receivedOnConnection;
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
    QCOMPARE(receivedAtQuestion, greets ? QStringList{QStringLiteral("state")} : QStringList());

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

void tst_MainWindowFaults::dialogsLeaveTheRepliesFlowing_data()
{
    // What opens the dialog: a Disconnect that OpenVPN refuses, a Disconnect of a name too
    // long to send, a private key prompt, a user authentication prompt.
    QTest::addColumn<QString>("cause");
    // The dialog that is left open, by its title.
    QTest::addColumn<QString>("title");
    QTest::newRow("the error of a refused Disconnect") << "refused" << "Error";
    QTest::newRow("the error of a name too long to send") << "too long" << "Error";
    QTest::newRow("the private key prompt") << "key" << "Insert password";
    QTest::newRow("the user authentication prompt") << "auth" << "User authentication";
}

// A dialog that answers a management event, left open: the window goes on with the
// connection meanwhile. Log lines are shown, the status polls (every 100 ms here) are
// answered, and none of them times out (after 300 ms here), where a dialog opened from inside
// the handling of a reply held up every further line until it was closed.
void tst_MainWindowFaults::dialogsLeaveTheRepliesFlowing()
{
    QFETCH(QString, cause);
    QFETCH(QString, title);
    ClientListView *list = openWithAClient(cause == QLatin1String("too long") ? QString(300, u'n') : QStringLiteral("client1"));
    QVERIFY(list);
    OpenVpnManagement &management = MainWindowTestAccess::management(*window);
    MainWindowTestAccess::statusTimer(*window).setInterval(100);
    QSignalSpy statusAnswers(&management, &OpenVpnManagement::statusResponse);

    bool leftOpen = false;
    dialogs->onCall = [&](const ScriptedDialogs::Call &call) {
        if (call.title != title)
            return;
        peer->send(">LOG:1262304000,I,while the dialog is open\r\n");
        const qsizetype before = statusAnswers.size();
        leftOpen = QTest::qWaitFor([&] {
            // A prompt holds the commands back until it is answered.
            const bool polled = cause == QLatin1String("key") || cause == QLatin1String("auth") || statusAnswers.size() >= before + 3;
            return polled && logText().contains(QStringLiteral("while the dialog is open"));
        }, 30000);
    };
    if (cause == QLatin1String("key")) {
        dialogs->answerText(QStringLiteral("s3cret"));
        peer->send(">PASSWORD:Need 'Private Key' password\r\n");
    } else if (cause == QLatin1String("auth")) {
        dialogs->answerAuth(QStringLiteral("bob"), QStringLiteral("pa55"));
        peer->send(">PASSWORD:Need 'Auth' username/password\r\n");
    } else {
        disconnectFirstClient(list);
    }
    QTRY_VERIFY(dialogs->titles().contains(title));
    QVERIFY(leftOpen);
    QVERIFY(!dialogs->titles().contains(QStringLiteral("Timeout reached")));
    QVERIFY(peer->isConnected());
    QVERIFY(settle());
    if (cause == QLatin1String("key"))
        QVERIFY(peer->receivedOnConnection.contains(QStringLiteral("password \"Private Key\" \"s3cret\"")));
    else if (cause == QLatin1String("auth"))
        QVERIFY(peer->receivedOnConnection.contains(QStringLiteral("username \"Auth\" \"bob\"")));
}

void tst_MainWindowFaults::linesBeforeTheCloseAreShown_data()
{
    QTest::addColumn<int>("count");
    // The dialog open while the lines come and the peer closes, by its title; empty: none.
    QTest::addColumn<QString>("openDialog");
    const int slice = int(QtTelnet::sliceLines);
    const int bound = TerminalLogWriter::defaultLineLimit;
    QTest::newRow("a few lines") << 10 << QString();
    QTest::newRow("more than a slice of the transport") << slice + 100 << QString();
    QTest::newRow("as many as the view keeps") << bound << QString();
    QTest::newRow("as many as the view keeps, the close's error left open") << bound << "Network socket error";
    QTest::newRow("a slice and more, the error of a refused Disconnect open") << slice + 100 << "Error";
}

// Every log line that reached the window before the peer closed the connection is shown,
// however many the view has still to write when the close is reported, and whatever dialog
// is open meanwhile.
void tst_MainWindowFaults::linesBeforeTheCloseAreShown()
{
    QFETCH(int, count);
    QFETCH(QString, openDialog);
    ClientListView *list = openWithAClient(QStringLiteral("client1"), 60000);
    QVERIFY(list);

    QByteArray burst;
    for (int i = 0; i < count; ++i)
        burst += ">LOG:1262304000,I,burst line " + QByteArray::number(i) + "\r\n";
    const QString last = QStringLiteral("] burst line %1\n").arg(count - 1);
    // Nothing the window sends may be left unread by the peer when it closes, or the close
    // resets the connection and throws away what the peer's system has not sent yet.
    MainWindowTestAccess::statusTimer(*window).stop();
    bool shownWhileOpen = false;
    dialogs->onCall = [&](const ScriptedDialogs::Call &call) {
        if (call.title == QLatin1String("Error")) {
            // The status request that follows a Disconnect.
            QTRY_COMPARE(peer->receivedOnConnection.last(), QStringLiteral("status 2"));
            peer->send(burst);
            peer->closeConnection();
        }
        if (call.title == openDialog)
            shownWhileOpen = QTest::qWaitFor([&] { return logText().endsWith(last); }, 60000);
    };
    if (openDialog == QLatin1String("Error")) {
        disconnectFirstClient(list);
    } else {
        peer->send(burst);
        peer->closeConnection();
    }

    QTRY_VERIFY(dialogs->titles().contains(QStringLiteral("Network socket error")));
    QCOMPARE(shownWhileOpen, !openDialog.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(logText().endsWith(last), 60000);
    const QTextDocument *document = child<QTextEdit>(*window, "terminal")->document();
    QCOMPARE(document->blockCount() - 1, count);
    QVERIFY(document->firstBlock().text().endsWith(QStringLiteral("] burst line 0")));
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
    // Lines the view could not keep up with were left out where a line says how many; all
    // others follow each other without a gap, up to the last one sent.
    const QString time = QDateTime::fromSecsSinceEpoch(1262304000).toString(QStringLiteral("yy.MM.dd hh:mm:ss"));
    const QString stamp = QStringLiteral("[%1] flood line ").arg(time);
    static const QRegularExpression note(QStringLiteral("^… (\\d+) lines not shown$"));
    int expected = -1;
    for (QTextBlock block = terminal->document()->firstBlock(); block.isValid() && !block.text().isEmpty(); block = block.next()) {
        const QString shown = block.text();
        const QRegularExpressionMatch skipped = note.match(shown);
        if (skipped.hasMatch()) {
            QVERIFY2(expected >= 0 || block == terminal->document()->firstBlock(), qPrintable(shown));
            if (expected >= 0)
                expected += skipped.captured(1).toInt();
            continue;
        }
        QVERIFY2(shown.startsWith(stamp), qPrintable(shown));
        const int number = shown.mid(stamp.size()).toInt();
        if (expected >= 0)
            QCOMPARE(number, expected);
        expected = number + 1;
    }
    QCOMPARE(expected, total);
    QVERIFY(MainWindowTestAccess::settle(*window));
    QVERIFY(dialogs->calls.isEmpty());
    QVERIFY(MainWindowTestAccess::statusTimer(*window).isActive());
}

void tst_MainWindowFaults::repliesInAFlood_data()
{
    // Log lines the peer sends before and after each reply, in the same write.
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    // Lines of each answer to "version" (besides END); status answers carry three clients.
    QTest::addColumn<int>("versionLines");

    const int slice = int(QtTelnet::sliceLines);
    QTest::newRow("short replies between bursts") << 500 << 500 << 2;
    QTest::newRow("reply after nearly a slice of log lines") << slice - 1 << 10 << 2;
    QTest::newRow("reply ending near the end of a slice") << slice - 9 << 10 << 2;
    QTest::newRow("reply longer than a slice") << 300 << 300 << slice + 50;
    QTest::newRow("bursts longer than the log view keeps") << 15000 << 15000 << 2;
}

// The peer answers every command in the middle of a flood of log lines. Every reply reaches
// the reply matcher and the status poll whole, once and in the order they were sent, however
// the flood is cut into slices and however many log lines the view leaves out.
void tst_MainWindowFaults::repliesInAFlood()
{
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(int, versionLines);

    QVERIFY(open());
    OpenVpnManagement &management = MainWindowTestAccess::management(*window);
    management.setTimeout(60000);
    // The test polls itself, so that it knows when the last flood has been sent.
    MainWindowTestAccess::statusTimer(*window).stop();

    int logLines = 0;
    // The replies in the order the peer sent them, and in the order they were reported.
    QStringList sent;
    QStringList reported;
    int statusAnswers = 0;
    int versionAnswers = 0;
    const auto flood = [&](int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i, ++logLines)
            bytes += ">LOG:1262304000,I,flood " + QByteArray::number(logLines) + "\r\n";
        return bytes;
    };
    const QStringList clients{QStringLiteral("CLIENT_LIST,alpha,198.51.100.1:1194,10.8.0.2,,1,2,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM"),
                              QStringLiteral("CLIENT_LIST,beta,198.51.100.2:1194,10.8.0.3,,1,2,2026-12-07 19:50:38,1796673038,UNDEF,1,1,AES-256-GCM"),
                              QStringLiteral("CLIENT_LIST,gamma,198.51.100.3:1194,10.8.0.4,,1,2,2026-12-07 19:50:38,1796673038,UNDEF,2,2,AES-256-GCM")};
    peer->handler = [&](const QString &line) -> std::optional<QByteArray> {
        QByteArray answer;
        if (line == QLatin1String("status 2")) {
            // The answer's number stands where OpenVPN puts the time.
            answer = ScriptedOpenVpnPeer::statusAnswer26(clients).replace("1796673043", QByteArray::number(++statusAnswers));
            sent.append(QStringLiteral("status %1").arg(statusAnswers));
        } else if (line == QLatin1String("version")) {
            answer = "OpenVPN Version: " + QByteArray::number(++versionAnswers) + "\r\n";
            sent.append(QStringLiteral("version %1").arg(versionAnswers));
            for (int i = 1; i < versionLines; ++i)
                answer += "line " + QByteArray::number(i) + " of the version\r\n";
            answer += "END\r\n";
        } else {
            return std::nullopt;
        }
        QByteArray bytes = flood(before);
        bytes += answer;
        bytes += flood(after);
        return bytes;
    };

    QList<QStringList> statuses;
    QList<QStringList> versions;
    connect(&management, &OpenVpnManagement::statusResponse, this, [&](const QStringList &lines) {
        statuses.append(lines);
        reported.append(QStringLiteral("status %1").arg(statuses.size()));
    });
    connect(&management, &OpenVpnManagement::versionResponse, this, [&](const QStringList &lines) {
        versions.append(lines);
        reported.append(QStringLiteral("version %1").arg(versions.size()));
    });
    constexpr int rounds = 4;
    for (int i = 0; i < rounds; ++i) {
        MainWindowTestAccess::poll(*window);
        management.getVersion();
    }
    QTRY_COMPARE_WITH_TIMEOUT(versions.size(), rounds, 60000);
    QVERIFY(MainWindowTestAccess::settle(*window, 60000));
    QCOMPARE(reported, sent);
    QCOMPARE(statusAnswers, rounds);
    QCOMPARE(versionAnswers, rounds + 1);

    for (int k = 0; k < statuses.size(); ++k) {
        const QStringList &lines = statuses.at(k);
        QCOMPARE(lines.size(), 3 + clients.size() + 4);
        QCOMPARE(lines.at(1), QStringLiteral("TIME,2026-12-07 19:50:43,%1\r\n").arg(k + 1));
        QCOMPARE(lines.at(3), clients.at(0) + QStringLiteral("\r\n"));
        QCOMPARE(lines.constLast(), QStringLiteral("END\r\n"));
    }
    for (int k = 0; k < versions.size(); ++k) {
        const QStringList &lines = versions.at(k);
        QCOMPARE(lines.size(), versionLines + 1);
        QCOMPARE(lines.constFirst(), QStringLiteral("OpenVPN Version: %1\r\n").arg(k + 1));
        QCOMPARE(lines.constLast(), QStringLiteral("END\r\n"));
    }
    // The poll reached the client list, and the view shows the newest log line.
    QCOMPARE(child<QTreeWidget>(*window, "clientsTree")->topLevelItemCount(), clients.size());
    const QString last = QStringLiteral("flood %1\n").arg(logLines - 1);
    QTRY_VERIFY_WITH_TIMEOUT(logText().endsWith(last), 60000);
    QVERIFY(dialogs->calls.isEmpty());
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
