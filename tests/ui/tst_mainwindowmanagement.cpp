#include "support/layoutcount.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "ui/clientlistview.h"
#include "ui/clientstatuswidget.h"
#include "ui/terminallogwriter.h"

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

namespace {

// This test's own loopback address, so that it can run next to the others.
const QString peerAddress = QStringLiteral("127.0.0.41");

struct Fragment
{
    QString text;
    QColor colour; // invalid: no colour of its own
    bool operator==(const Fragment &other) const { return text == other.text && colour == other.colour; }
};

QList<Fragment> fragments(const QTextDocument *document)
{
    QList<Fragment> result;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            result.append({fragment.text(), format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color() : QColor()});
        }
    }
    return result;
}

} // namespace

Q_DECLARE_METATYPE(QList<Fragment>)

class tst_MainWindowManagement : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_MainWindowManagement() : MainWindowFixture(peerAddress) {}

private slots:
    void firstConnectionWaitsForTheWindow();
    void noAddressAsksOnce_data();
    void noAddressAsksOnce();
    void connectClearsAndQueues();
    void stateTexts_data();
    void stateTexts();
    void logLines_data();
    void logLines();
    void logGoesToTheEnd();
    void logIsBounded();
    void peerConnectionInitiated_data();
    void peerConnectionInitiated();
    void hold_data();
    void hold();
    void managementPassword_data();
    void managementPassword();
    void privateKeyPassword_data();
    void privateKeyPassword();
    void userAuthentication_data();
    void userAuthentication();
    void timeout_data();
    void timeout();
    void socketErrors();
    void disconnectionStopsPolling();
    void commandsNeedTheConnection_data();
    void commandsNeedTheConnection();

private:
    // What the window sent on this connection from that line on, status polls and the
    // test's own markers left out.
    QStringList commandsSince(qsizetype from) const;
};

QStringList tst_MainWindowManagement::commandsSince(qsizetype from) const
{
    QStringList commands = peer->receivedOnConnection.mid(from);
    commands.removeAll(QStringLiteral("status 2"));
    commands.removeAll(QStringLiteral("version"));
    return commands;
}

void tst_MainWindowManagement::firstConnectionWaitsForTheWindow()
{
    makeWindow();
    QVERIFY(MainWindowTestAccess::initTimer(*window));
    // Several ticks of the start-up timer pass while the window is not on screen.
    QTest::qWait(1200);
    QCOMPARE(peer->connections, 0);

    QVERIFY(open());
    QCOMPARE(peer->connections, 1);
    QCOMPARE(peer->receivedOnConnection.mid(0, 4), startupCommands);
    QVERIFY(!MainWindowTestAccess::initTimer(*window));
    QTest::qWait(1200);
    QCOMPARE(peer->connections, 1);
    QCOMPARE(dialogs->calls.size(), 0);
}

void tst_MainWindowManagement::noAddressAsksOnce_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("cancelled") << false;
    QTest::newRow("confirmed") << true;
}

void tst_MainWindowManagement::noAddressAsksOnce()
{
    QFETCH(bool, confirm);
    QSettings().remove(QStringLiteral("ip"));
    makeWindow();
    if (confirm)
        dialogs->answerText(peerAddress);
    else
        dialogs->cancel();
    // The dialog stays open for several ticks of the start-up timer.
    dialogs->onCall = [](const ScriptedDialogs::Call &) { QTest::qWait(1200); };
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_COMPARE(dialogs->calls.size(), 1);
    dialogs->onCall = nullptr;

    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Text);
    QCOMPARE(call.title, QStringLiteral("Router IP address"));
    QCOMPARE(call.text, QStringLiteral("Router IP address"));
    QCOMPARE(call.initialText, QStringLiteral("localhost"));
    QCOMPARE(call.echoMode, QLineEdit::Normal);
    if (confirm) {
        QTRY_COMPARE(peer->connections, 1);
        QCOMPARE(QSettings().value(QStringLiteral("ip")).toString(), peerAddress);
    }
    QTest::qWait(1200);
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(peer->connections, confirm ? 1 : 0);
    QVERIFY(!MainWindowTestAccess::initTimer(*window));
}

void tst_MainWindowManagement::connectClearsAndQueues()
{
    peer->setAnswer(QStringLiteral("log on all"),
                    "SUCCESS: real-time log notification set to ON\r\n1262304000,I,old line\r\nEND\r\n");
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26(
        {QStringLiteral("CLIENT_LIST,old,127.0.0.1:1,10.88.0.2,,1,2,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM")});
    QVERIFY(open());
    auto *tree = child<QTreeWidget>(*window, "clientsTree");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTRY_VERIFY(logText().contains(QStringLiteral("old line")));
    QCOMPARE(MainWindowTestAccess::statusTimer(*window).interval(), 3000);
    QVERIFY(MainWindowTestAccess::statusTimer(*window).isActive());
    QVERIFY(child<QPushButton>(*window, "vpnRestartButton")->isEnabled());

    // The next connection replays a different history and has no clients yet.
    peer->setAnswer(QStringLiteral("log on all"),
                    "SUCCESS: real-time log notification set to ON\r\n1262304001,I,new line\r\nEND\r\n");
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26({});
    QSignalSpy cleared(child<QTextEdit>(*window, "terminal")->document(), &QTextDocument::contentsChanged);
    child<QAction>(*window, "reconnectAction")->trigger();
    QTRY_COMPARE(peer->connections, 2);
    QTRY_COMPARE(peer->receivedOnConnection.size(), 4);
    QVERIFY(settle());
    QCOMPARE(peer->receivedOnConnection.mid(0, 4), startupCommands);
    QTRY_COMPARE(logText(), QStringLiteral("[10.01.01 02:00:01] new line\n"));
    QCOMPARE(tree->topLevelItemCount(), 0);
}

void tst_MainWindowManagement::stateTexts_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CONNECTING") << "CONNECTING" << "Connecting";
    QTest::newRow("WAIT") << "WAIT" << "Waiting";
    QTest::newRow("AUTH") << "AUTH" << "Authenticating";
    QTest::newRow("GET_CONFIG") << "GET_CONFIG" << "Getting configuration";
    QTest::newRow("ASSIGN_IP") << "ASSIGN_IP" << "Assigning IP";
    QTest::newRow("ADD_ROUTES") << "ADD_ROUTES" << "Adding routes";
    QTest::newRow("CONNECTED") << "CONNECTED" << "Connected";
    QTest::newRow("RECONNECTING") << "RECONNECTING" << "Reconnecting";
    QTest::newRow("EXITING") << "EXITING" << "Exiting";
    QTest::newRow("unknown word") << "RESOLVE" << "Unknown";
}

void tst_MainWindowManagement::stateTexts()
{
    QFETCH(QString, word);
    QFETCH(QString, shown);
    peer->setAnswer(QStringLiteral("state"), "1796673031,WAIT,,,,,,\r\nEND\r\n");
    QVERIFY(open());
    auto *label = child<QLabel>(*window, "stateLabel");
    QCOMPARE(label->text(), QStringLiteral("State: <b>Waiting</b>"));
    if (word == QLatin1String("WAIT"))
        peer->send(">STATE:1796673032,CONNECTED,SUCCESS,10.88.0.1,,,,\r\n");
    peer->send(">STATE:1796673033," + word.toLatin1() + ",,,,,,\r\n");
    QTRY_COMPARE(label->text(), QStringLiteral("State: <b>%1</b>").arg(shown));
}

void tst_MainWindowManagement::logLines_data()
{
    QTest::addColumn<QByteArray>("notification");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QList<Fragment>>("pieces");

    const QColor grey(127, 127, 127);
    QTest::newRow("I: 2010-01-01 00:00:00 UTC in local time")
        << QByteArray(">LOG:1262304000,I,Initialization Sequence Completed\r\n")
        << "[10.01.01 02:00:00] Initialization Sequence Completed\n"
        << QList<Fragment>{{"[10.01.01 02:00:00] ", grey}, {"Initialization Sequence Completed", QColor(0, 127, 255)}};
    QTest::newRow("F") << QByteArray(">LOG:1262304000,F,fatal\r\n") << "[10.01.01 02:00:00] fatal\n"
                       << QList<Fragment>{{"[10.01.01 02:00:00] ", grey}, {"fatal", QColor(255, 0, 0)}};
    QTest::newRow("N") << QByteArray(">LOG:1262304000,N,non-fatal\r\n") << "[10.01.01 02:00:00] non-fatal\n"
                       << QList<Fragment>{{"[10.01.01 02:00:00] ", grey}, {"non-fatal", QColor(255, 0, 255)}};
    QTest::newRow("W") << QByteArray(">LOG:1262304000,W,warning\r\n") << "[10.01.01 02:00:00] warning\n"
                       << QList<Fragment>{{"[10.01.01 02:00:00] ", grey}, {"warning", QColor(255, 127, 0)}};
    QTest::newRow("empty flags") << QByteArray(">LOG:1262304000,,MANAGEMENT: Client connected\r\n")
                                 << "[10.01.01 02:00:00] MANAGEMENT: Client connected\n"
                                 << QList<Fragment>{{"[10.01.01 02:00:00] ", grey}, {"MANAGEMENT: Client connected", QColor(0, 255, 127)}};
    QTest::newRow("debug flag") << QByteArray(">LOG:1262304000,D,debug\r\n") << "[10.01.01 02:00:00] debug\n"
                                << QList<Fragment>{{"[10.01.01 02:00:00] ", grey}, {"debug", QColor(0, 255, 127)}};
    QTest::newRow("message with commas shown whole")
        << QByteArray(">LOG:1796673031,I,Data Channel: cipher 'AES-256-GCM', peer-id: 0\r\n")
        << "[26.12.07 21:50:31] Data Channel: cipher 'AES-256-GCM', peer-id: 0\n"
        << QList<Fragment>{{"[26.12.07 21:50:31] ", grey}, {"Data Channel: cipher 'AES-256-GCM', peer-id: 0", QColor(0, 127, 255)}};
    QTest::newRow("time that is no number")
        << QByteArray(">LOG:later,W,w\r\n") << "[70.01.01 02:00:00] w\n"
        << QList<Fragment>{{"[70.01.01 02:00:00] ", grey}, {"w", QColor(255, 127, 0)}};
    QTest::newRow("two fields shown whole, uncoloured")
        << QByteArray(">LOG:1262304000,I\r\n") << "1262304000,I\n" << QList<Fragment>{{"1262304000,I", QColor()}};
    QTest::newRow("one field shown whole, uncoloured")
        << QByteArray(">LOG:just text\r\n") << "just text\n" << QList<Fragment>{{"just text", QColor()}};
}

void tst_MainWindowManagement::logLines()
{
    QFETCH(QByteArray, notification);
    QFETCH(QString, shown);
    QFETCH(QList<Fragment>, pieces);

    QVERIFY(open());
    QCOMPARE(logText(), QString());
    peer->send(notification);
    QTRY_COMPARE(logText(), shown);
    QCOMPARE(fragments(child<QTextEdit>(*window, "terminal")->document()), pieces);

    // The next line starts a line of its own and carries its own colours.
    peer->send(">LOG:1262304000,F,next\r\n");
    QTRY_COMPARE(logText(), shown + QStringLiteral("[10.01.01 02:00:00] next\n"));
    const QList<Fragment> next{{"[10.01.01 02:00:00] ", QColor(127, 127, 127)}, {"next", QColor(255, 0, 0)}};
    QCOMPARE(fragments(child<QTextEdit>(*window, "terminal")->document()), pieces + next);
}

void tst_MainWindowManagement::logGoesToTheEnd()
{
    QVERIFY(open());
    peer->send(">LOG:1262304000,I,first line\r\n>LOG:1262304000,I,second line\r\n");
    QTRY_VERIFY(logText().endsWith(QStringLiteral("second line\n")));
    auto *terminal = child<QTextEdit>(*window, "terminal");
    // The user selects a word in the first line.
    QTextCursor selection = terminal->textCursor();
    selection.setPosition(int(qstrlen("[10.01.01 02:00:00] ")));
    selection.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);
    terminal->setTextCursor(selection);
    QCOMPARE(terminal->textCursor().selectedText(), QStringLiteral("first"));

    peer->send(">LOG:1262304000,W,third line\r\n");
    QTRY_COMPARE(logText(), QStringLiteral("[10.01.01 02:00:00] first line\n[10.01.01 02:00:00] second line\n"
                                    "[10.01.01 02:00:00] third line\n"));
    QCOMPARE(terminal->textCursor().selectedText(), QStringLiteral("first"));
}

void tst_MainWindowManagement::logIsBounded()
{
    QVERIFY(open());
    auto *terminal = child<QTextEdit>(*window, "terminal");
    auto *writer = child<TerminalLogWriter>(*window, "logWriter");
    QVERIFY(writer);
    const int limit = writer->lineLimit();
    const int total = limit + limit / 4 + 500;
    QByteArray flood;
    for (int i = 0; i < total; ++i)
        flood += ">LOG:1262304000,I,line " + QByteArray::number(i) + "\r\n";
    peer->send(flood);
    QTRY_VERIFY_WITH_TIMEOUT(logText().endsWith(QStringLiteral("] line %1\n").arg(total - 1)), 60000);
    const int lines = terminal->document()->blockCount() - 1;
    QVERIFY2(lines >= limit && lines <= limit + limit / 4, qPrintable(QString::number(lines)));
    // The oldest lines went, the newest are all there, in order, and the view follows the end.
    const QString first = terminal->document()->firstBlock().text();
    QCOMPARE(first, QStringLiteral("[10.01.01 02:00:00] line %1").arg(total - lines));
    QVERIFY(terminal->verticalScrollBar()->value() == terminal->verticalScrollBar()->maximum());

    // A new connection clears the view; the bound stays.
    child<QAction>(*window, "reconnectAction")->trigger();
    QTRY_COMPARE(peer->connections, 2);
    QTRY_COMPARE(logText(), QString());
    QCOMPARE(child<TerminalLogWriter>(*window, "logWriter")->lineLimit(), limit);
}

void tst_MainWindowManagement::peerConnectionInitiated_data()
{
    QTest::addColumn<QByteArray>("notification");
    QTest::addColumn<int>("extraRequests");
    QTest::newRow("peer connected")
        << QByteArray(">LOG:1796673031,,client1/127.0.0.1:47228 Peer Connection Initiated with [AF_INET]127.0.0.1:47228\r\n")
        << 1;
    QTest::newRow("other case") << QByteArray(">LOG:1796673031,,peer connection initiated\r\n") << 0;
    QTest::newRow("short line") << QByteArray(">LOG:Peer Connection Initiated\r\n") << 1;
    QTest::newRow("other message") << QByteArray(">LOG:1796673031,I,Initialization Sequence Completed\r\n") << 0;
}

void tst_MainWindowManagement::peerConnectionInitiated()
{
    QFETCH(QByteArray, notification);
    QFETCH(int, extraRequests);
    QVERIFY(open());
    MainWindowTestAccess::statusTimer(*window).stop();
    const qsizetype before = peer->receivedOnConnection.count(QStringLiteral("status 2"));
    peer->send(notification);
    // The line may arrive while the first marker is out; a request made for it goes out
    // before the second.
    QVERIFY(settle());
    QVERIFY(settle());
    QCOMPARE(peer->receivedOnConnection.count(QStringLiteral("status 2")), before + extraRequests);
}

void tst_MainWindowManagement::hold_data()
{
    QTest::addColumn<bool>("storedAuto");
    QTest::addColumn<bool>("menuToggle");
    QTest::newRow("manual") << false << false;
    QTest::newRow("automatic") << true << false;
    QTest::newRow("automatic, switched on from the menu") << false << true;
    QTest::newRow("manual, switched off from the menu") << true << true;
}

void tst_MainWindowManagement::hold()
{
    QFETCH(bool, storedAuto);
    QFETCH(bool, menuToggle);
    QSettings().setValue(QStringLiteral("AutoHoldRelease"), storedAuto);
    const bool automatic = storedAuto != menuToggle;
    peer->setSilent(QStringLiteral("hold release"));
    QVERIFY(open());
    if (menuToggle)
        child<QAction>(*window, "autoHoldReleaseAction")->trigger();

    auto *holdButton = child<QPushButton>(*window, "holdReleaseButton");
    auto *restartButton = child<QPushButton>(*window, "vpnRestartButton");
    QTimer &statusTimer = MainWindowTestAccess::statusTimer(*window);
    QVERIFY(!holdButton->isEnabled());
    QVERIFY(restartButton->isEnabled());
    QVERIFY(statusTimer.isActive());

    const qsizetype before = peer->receivedOnConnection.size();
    peer->send(">HOLD:Waiting for hold release:0\r\n");
    QTRY_VERIFY(holdButton->isEnabled());
    QVERIFY(!restartButton->isEnabled());
    QVERIFY(!statusTimer.isActive());

    if (automatic) {
        QTRY_COMPARE(commandsSince(before), QStringList{QStringLiteral("hold release")});
    } else {
        QVERIFY(!peer->receivedOnConnection.contains(QStringLiteral("hold release")));
        QTest::mouseClick(holdButton, Qt::LeftButton);
        QTRY_COMPARE(commandsSince(before), QStringList{QStringLiteral("hold release")});
    }
    // Enabled until OpenVPN confirms.
    QVERIFY(holdButton->isEnabled());
    peer->send("SUCCESS: hold release succeeded\r\n");
    QTRY_VERIFY(!holdButton->isEnabled());
    QVERIFY(restartButton->isEnabled());
    QVERIFY(statusTimer.isActive());
    QCOMPARE(statusTimer.interval(), 3000);
    QVERIFY(settle());
    QCOMPARE(commandsSince(before), QStringList{QStringLiteral("hold release")});
}

void tst_MainWindowManagement::managementPassword_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("typed");
    QTest::newRow("confirmed") << true << "m4nag3 pw";
    QTest::newRow("confirmed empty") << true << "";
    QTest::newRow("cancelled") << false << "";
}

void tst_MainWindowManagement::managementPassword()
{
    QFETCH(bool, confirm);
    QFETCH(QString, typed);
    peer->managementPassword = typed;
    if (confirm)
        dialogs->answerText(typed);
    else
        dialogs->cancel();
    makeWindow();
    window->show();
    QTRY_COMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Text);
    QCOMPARE(call.title, QStringLiteral("Insert password"));
    QCOMPARE(call.text, QStringLiteral("Management interface password:"));
    QCOMPARE(call.echoMode, QLineEdit::Password);
    QCOMPARE(call.initialText, QString());

    if (confirm) {
        QTRY_COMPARE(peer->receivedOnConnection.size(), 1 + startupCommands.size());
        QCOMPARE(peer->receivedOnConnection.first(), typed);
        QCOMPARE(peer->receivedOnConnection.mid(1, startupCommands.size()), startupCommands);
    } else {
        // Nothing is sent; the connection is closed as after any lost one, without an error.
        QTRY_VERIFY(!peer->isConnected());
        QTRY_VERIFY(child<QToolButton>(*window, "reconnectButton")->isVisible());
        QVERIFY(peer->receivedOnConnection.isEmpty());
        QCOMPARE(peer->connections, 1);
        QCOMPARE(dialogs->calls.size(), 1);
    }
}

void tst_MainWindowManagement::privateKeyPassword_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void tst_MainWindowManagement::privateKeyPassword()
{
    QFETCH(bool, confirm);
    QVERIFY(open());
    if (confirm)
        dialogs->answerText(QStringLiteral("s3cret"));
    else
        dialogs->cancel();
    QSignalSpy closed(peer.get(), &ScriptedOpenVpnPeer::disconnected);
    const qsizetype before = peer->receivedOnConnection.size();
    peer->send(">PASSWORD:Need 'Private Key' password\r\n");
    QTRY_COMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Text);
    QCOMPARE(call.title, QStringLiteral("Insert password"));
    QCOMPARE(call.text, QStringLiteral("Private key password:"));
    QCOMPARE(call.echoMode, QLineEdit::Password);
    QCOMPARE(call.initialText, QString());

    if (confirm) {
        QTRY_COMPARE(commandsSince(before).size(), 2);
        QCOMPARE(commandsSince(before).at(0), QStringLiteral("auth-retry interact"));
        const QString line = commandsSince(before).at(1);
        QVERIFY2(line.startsWith(QLatin1String("password \"Private Key\" ")) && line.contains(QLatin1String("s3cret")),
                 qPrintable(line));
        QVERIFY(peer->isConnected());
    } else {
        QTRY_COMPARE(closed.size(), 1);
        QCOMPARE(peer->receivedOnConnection.size(), before);
    }
}

void tst_MainWindowManagement::userAuthentication_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void tst_MainWindowManagement::userAuthentication()
{
    QFETCH(bool, confirm);
    QVERIFY(open());
    if (confirm)
        dialogs->answerAuth(QStringLiteral("bob"), QStringLiteral("pa55"));
    else
        dialogs->cancel();
    QSignalSpy closed(peer.get(), &ScriptedOpenVpnPeer::disconnected);
    const qsizetype before = peer->receivedOnConnection.size();
    peer->send(">PASSWORD:Need 'Auth' username/password\r\n");
    QTRY_COMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Auth);
    QCOMPARE(call.title, QStringLiteral("User authentication"));
    QCOMPARE(call.text, QStringLiteral("Username:"));
    QCOMPARE(call.secondLabel, QStringLiteral("Password:"));

    if (confirm) {
        QTRY_COMPARE(commandsSince(before).size(), 3);
        QCOMPARE(commandsSince(before).at(0), QStringLiteral("auth-retry interact"));
        const QString user = commandsSince(before).at(1);
        const QString password = commandsSince(before).at(2);
        QVERIFY2(user.startsWith(QLatin1String("username \"Auth\" ")) && user.contains(QLatin1String("bob")), qPrintable(user));
        QVERIFY2(password.startsWith(QLatin1String("password \"Auth\" ")) && password.contains(QLatin1String("pa55")),
                 qPrintable(password));
    } else {
        QTRY_COMPARE(closed.size(), 1);
        QCOMPARE(peer->receivedOnConnection.size(), before);
    }
}

void tst_MainWindowManagement::timeout_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::newRow("Yes reconnects") << true;
    QTest::newRow("No leaves it closed") << false;
}

void tst_MainWindowManagement::timeout()
{
    QFETCH(bool, reconnect);
    peer->setSilent(QStringLiteral("log on all"));
    makeWindow();
    MainWindowTestAccess::management(*window).setTimeout(300);
    QSignalSpy closed(peer.get(), &ScriptedOpenVpnPeer::disconnected);
    dialogs->answerButton(reconnect ? QMessageBox::Yes : QMessageBox::No);
    dialogs->onCall = [&](const ScriptedDialogs::Call &) {
        // The connection is closed before the question is asked.
        QTRY_COMPARE(closed.size(), 1);
        peer->setAnswer(QStringLiteral("log on all"), "SUCCESS: real-time log notification set to ON\r\nEND\r\n");
    };
    window->show();
    QTRY_COMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Message);
    QCOMPARE(call.icon, QMessageBox::Warning);
    QCOMPARE(call.title, QStringLiteral("Timeout reached"));
    QCOMPARE(call.text, QStringLiteral("The server is not responding. The cause might be that it's management "
                                       "interface is already in use. Do you want to reconnect?"));
    QCOMPARE(call.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(call.defaultButton, QMessageBox::No);
    QCOMPARE(closed.size(), 1);

    if (reconnect) {
        QTRY_COMPARE(peer->connections, 2);
        QTRY_COMPARE(peer->receivedOnConnection.size(), startupCommands.size());
        QVERIFY(settle());
        QVERIFY(MainWindowTestAccess::statusTimer(*window).isActive());
    } else {
        QTest::qWait(700);
        QCOMPARE(peer->connections, 1);
        QVERIFY(!MainWindowTestAccess::statusTimer(*window).isActive());
    }
    QCOMPARE(dialogs->calls.size(), 1);
}

void tst_MainWindowManagement::socketErrors()
{
    peer->stopListening();
    makeWindow();
    QSignalSpy errors(&MainWindowTestAccess::management(*window), &OpenVpnManagement::connectionError);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *button = child<QToolButton>(*window, "reconnectButton");
    QStatusBar *bar = window->statusBar();

    QTRY_COMPARE(dialogs->calls.size(), 1);
    QCOMPARE(errors.size(), 1);
    ScriptedDialogs::Call call = dialogs->calls.last();
    QCOMPARE(call.icon, QMessageBox::Critical);
    QCOMPARE(call.title, QStringLiteral("Network socket error"));
    QCOMPARE(call.text, errors.first().first().toString());
    QVERIFY(!call.text.isEmpty());
    QCOMPARE(call.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(button->isVisible());
    QCOMPARE(layoutOccurrences(bar->layout(), button), 1);

    // A second error: a second box, still one button.
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(dialogs->calls.size(), 2);
    QCOMPARE(dialogs->calls.last().title, QStringLiteral("Network socket error"));
    QVERIFY(button->isVisible());
    QCOMPARE(layoutOccurrences(bar->layout(), button), 1);

    // The router is back: the button goes with the next connection.
    peer = std::make_unique<ScriptedOpenVpnPeer>(QHostAddress(peerAddress));
    QVERIFY(peer->isListening());
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(peer->receivedOnConnection.size(), startupCommands.size());
    QTRY_VERIFY(!button->isVisible());
    QCOMPARE(layoutOccurrences(bar->layout(), button), 0);
    QCOMPARE(dialogs->calls.size(), 2);
}

void tst_MainWindowManagement::disconnectionStopsPolling()
{
    peer->setAnswer(QStringLiteral("log on all"),
                    "SUCCESS: real-time log notification set to ON\r\n1262304000,I,kept line\r\nEND\r\n");
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26(
        {QStringLiteral("CLIENT_LIST,kept,127.0.0.1:1,10.88.0.2,,1,2,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM")});
    QVERIFY(open());
    QVERIFY(MainWindowTestAccess::statusTimer(*window).isActive());

    QSignalSpy disconnected(&MainWindowTestAccess::management(*window), &OpenVpnManagement::disconnected);
    peer->closeConnection();
    QVERIFY(disconnected.wait(5000));
    QVERIFY(!MainWindowTestAccess::statusTimer(*window).isActive());
    QTRY_VERIFY(logText().contains(QStringLiteral("kept line")));
    ClientListView *tree = showClients();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QVERIFY(tree->panelAt(0));
}

void tst_MainWindowManagement::commandsNeedTheConnection_data()
{
    QTest::addColumn<QString>("loss");
    // OpenVPN waits for its hold release when the connection goes (Hold release on, VPN
    // restart off), or runs (the other way round).
    QTest::addColumn<bool>("held");
    for (const bool held : {false, true}) {
        const char *state = held ? "held" : "running";
        QTest::addRow("the peer closes it, %s", state) << "closed" << held;
        QTest::addRow("time-out, answered No, %s", state) << "time-out" << held;
        QTest::addRow("private key prompt cancelled, %s", state) << "cancelled" << held;
    }
}

// While no management connection is open, nothing that needs one can be asked for, and what
// is asked for all the same is dropped: no time-out question can come of it. The next
// connection enables the commands as every connection does.
void tst_MainWindowManagement::commandsNeedTheConnection()
{
    QFETCH(QString, loss);
    QFETCH(bool, held);
    constexpr int timeout = 300;
    const QString client = QStringLiteral("CLIENT_LIST,c1,127.0.0.1:1,10.88.0.2,,1,2,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM");
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26({client});
    QVERIFY(open());
    OpenVpnManagement &management = MainWindowTestAccess::management(*window);
    management.setTimeout(timeout);
    auto *hold = child<QPushButton>(*window, "holdReleaseButton");
    auto *restart = child<QPushButton>(*window, "vpnRestartButton");
    ClientListView *tree = showClients();
    const auto disconnectButton = [&] {
        QWidget *panel = tree->panelAt(0);
        return panel ? panel->findChild<QPushButton *>(QStringLiteral("disconnectButton")) : nullptr;
    };
    QVERIFY(disconnectButton() && disconnectButton()->isEnabled());
    if (held) {
        peer->send(">HOLD:Waiting for hold release:0\r\n");
        QTRY_VERIFY(hold->isEnabled());
    }
    // Each goes off with the connection, not before.
    QCOMPARE(hold->isEnabled(), held);
    QCOMPARE(restart->isEnabled(), !held);

    if (loss == QLatin1String("closed")) {
        peer->closeConnection();
    } else if (loss == QLatin1String("time-out")) {
        peer->setSilent(QStringLiteral("verb"));
        dialogs->answerButton(QMessageBox::No);
        management.getVerb();
    } else {
        dialogs->cancel();
        peer->send(">PASSWORD:Need 'Private Key' password\r\n");
    }
    QTRY_VERIFY(child<QToolButton>(*window, "reconnectButton")->isVisible());
    QTRY_VERIFY(!peer->isConnected());
    QVERIFY(!hold->isEnabled());
    QVERIFY(!restart->isEnabled());
    QVERIFY(!disconnectButton()->isEnabled());

    const qsizetype calls = dialogs->calls.size();
    management.holdRelease();
    management.sendUsr1Signal();
    QVERIFY(!management.kill(QStringLiteral("c1")));
    MainWindowTestAccess::poll(*window);
    // Had any of them been queued, the response timer started for it would fire before this
    // one, which starts after them with twice the interval.
    QTimer later;
    later.setSingleShot(true);
    later.setTimerType(Qt::PreciseTimer);
    QSignalSpy fired(&later, &QTimer::timeout);
    later.start(2 * timeout);
    QVERIFY(fired.wait(10000));
    QCOMPARE(dialogs->calls.size(), calls);

    peer->setAnswer(QStringLiteral("verb"), "SUCCESS: verb=3\r\n");
    QTest::mouseClick(child<QToolButton>(*window, "reconnectButton"), Qt::LeftButton);
    QTRY_COMPARE(peer->connections, 2);
    QTRY_VERIFY(restart->isEnabled());
    QVERIFY(settle());
    QVERIFY(!hold->isEnabled());
    QVERIFY(disconnectButton() && disconnectButton()->isEnabled());
    QCOMPARE(peer->receivedOnConnection.mid(0, 4), startupCommands);
}

QTEST_MAIN(tst_MainWindowManagement)
#include "tst_mainwindowmanagement.moc"
