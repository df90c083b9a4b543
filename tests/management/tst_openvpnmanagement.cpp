#include "management/openvpnmanagement.h"

#include "support/escapedbytes.h"
#include "support/faketcppeer.h"
#include "support/freeport.h"
#include "support/signalrecorder.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <functional>
#include <map>

namespace {

constexpr int waitMs = 20000;

const QByteArray infoLine = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";

// Opens the protected side to the tests: the queue members and the slots that are fed lines.
class TestableManagement final : public OpenVpnManagement
{
public:
    using OpenVpnManagement::changeState;
    using OpenVpnManagement::commands;
    using OpenVpnManagement::commandTypes;
    using OpenVpnManagement::currentCommand;
    using OpenVpnManagement::managementActive;
    using OpenVpnManagement::passwordPending;
    using OpenVpnManagement::processMessage;
    using OpenVpnManagement::socket;
};

using Action = std::function<void(OpenVpnManagement &, const QString &)>;

const std::map<QString, Action> &actions()
{
    static const std::map<QString, Action> table{
        {"echoOn()", [](OpenVpnManagement &m, const QString &) { m.echoOn(); }},
        {"echoOn(false)", [](OpenVpnManagement &m, const QString &) { m.echoOn(false); }},
        {"logOn()", [](OpenVpnManagement &m, const QString &) { m.logOn(); }},
        {"logOn(false)", [](OpenVpnManagement &m, const QString &) { m.logOn(false); }},
        {"stateOn()", [](OpenVpnManagement &m, const QString &) { m.stateOn(); }},
        {"stateOn(true)", [](OpenVpnManagement &m, const QString &) { m.stateOn(true); }},
        {"stateOn(false)", [](OpenVpnManagement &m, const QString &) { m.stateOn(false); }},
        {"getState()", [](OpenVpnManagement &m, const QString &) { m.getState(); }},
        {"getHold()", [](OpenVpnManagement &m, const QString &) { m.getHold(); }},
        {"holdRelease()", [](OpenVpnManagement &m, const QString &) { m.holdRelease(); }},
        {"getVerb()", [](OpenVpnManagement &m, const QString &) { m.getVerb(); }},
        {"setVerb", [](OpenVpnManagement &m, const QString &a) { m.setVerb(a.toInt()); }},
        {"getVersion()", [](OpenVpnManagement &m, const QString &) { m.getVersion(); }},
        {"getStatus()", [](OpenVpnManagement &m, const QString &) { m.getStatus(); }},
        {"kill", [](OpenVpnManagement &m, const QString &a) { m.kill(a); }},
        {"clientKill", [](OpenVpnManagement &m, const QString &a) { m.clientKill(a.toLongLong()); }},
        {"sendHupSignal()", [](OpenVpnManagement &m, const QString &) { m.sendHupSignal(); }},
        {"sendTermSignal()", [](OpenVpnManagement &m, const QString &) { m.sendTermSignal(); }},
        {"sendUsr1Signal()", [](OpenVpnManagement &m, const QString &) { m.sendUsr1Signal(); }},
        {"exit()", [](OpenVpnManagement &m, const QString &) { m.exit(); }},
    };
    return table;
}

// A management client connected to a scripted peer, past the start of the conversation
// (the "state" that every connection begins with has been answered), with a recorder of
// every signal but the transport's raw batches.
struct Session
{
    FakeTcpPeer peer;
    TestableManagement management;
    SignalRecorder recorder{&management, {"message", "connected"}};

    bool connect()
    {
        const int before = peer.connectionCount();
        management.connectToHost(peer.address(), peer.port());
        return QTest::qWaitFor([&] { return peer.connectionCount() == before + 1 && peer.isConnected(); }, waitMs);
    }

    bool start()
    {
        if (!connect())
            return false;
        peer.send(infoLine);
        if (!QTest::qWaitFor([&] { return peer.receivedLines() == QList<QByteArray>{"state"}; }, waitMs))
            return false;
        peer.send("1796673031,CONNECTING,,,,,,\r\nEND\r\n");
        if (!QTest::qWaitFor([&] { return management.state() == OpenVpnManagement::StateConnecting; }, waitMs))
            return false;
        recorder.clear();
        peer.clearReceived();
        return true;
    }

    bool waitForLines(const QList<QByteArray> &lines)
    {
        return QTest::qWaitFor([&] { return peer.receivedLines() == lines; }, waitMs);
    }

    // The client is idle when a new command goes out at once.
    bool isIdle()
    {
        const QList<QByteArray> before = peer.receivedLines();
        management.getVerb();
        const bool sent = waitForLines(before + QList<QByteArray>{"verb"});
        peer.send("SUCCESS: verb=3\r\n");
        return sent && QTest::qWaitFor([&] { return management.currentCommand == OpenVpnManagement::MsgNone; }, waitMs);
    }

    // Sends a marker notification and waits for it: then everything the peer sent before has
    // been handled. Returns the events before the marker and forgets them.
    QStringList sync()
    {
        const QString marker = QStringLiteral("infoMessage sync\r\n");
        peer.send(">INFO:sync\r\n");
        if (!QTest::qWaitFor([&] { return recorder.count("infoMessage") > 0 && recorder.describe().contains(marker); }, waitMs))
            return {QStringLiteral("<the marker never arrived>")};
        QStringList events = recorder.describe();
        events.removeAt(events.lastIndexOf(marker));
        recorder.clear();
        return events;
    }
};

} // namespace

class TestOpenVpnManagement : public QObject
{
    Q_OBJECT

private slots:
    void commandTable_data();
    void commandTable();
    void commandsGoOutOneAtATime();
    void disconnectClient_data();
    void disconnectClient();
    void authAnswersGoAheadOfTheQueue_data();
    void authAnswersGoAheadOfTheQueue();
    void promptWhileIdleIsAnsweredAtOnce();
    void managementPassword_data();
    void managementPassword();
    void managementPasswordPromptOnlyBeforeTheFirstBatch();
    void wrongManagementPasswordPromptsAgain_data();
    void wrongManagementPasswordPromptsAgain();
    void valuesOpenVpnWouldCutAreRefused_data();
    void valuesOpenVpnWouldCutAreRefused();
    void notifications_data();
    void notifications();
    void firstBatchConnectsBeforeItsLinesAreSorted();
    void unknownKeywordIsAReplyWhenOneIsAwaited();
    void timeoutChangesNothing();
    void timeoutFromTheConnectionAttempt();
    void socketErrorStopsTheTimer();
    void closeBeforeTheFirstBatchDoesNothing();
    void closeEndsTheConversation();
    void droppedConnectionClosesAndANewOneStartsAfresh();
    void openPromptDoesNotHoldANewConnection();
    void commandOnAClosedConnectionIsDropped();
    void listCutShortDoesNotLeadTheNextList();
    void connectToHostWithoutPortUses23();
    void hostileStreams_data();
    void hostileStreams();
    void randomLinesKeepTheQueueConsistent();
};

void TestOpenVpnManagement::commandTable_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("events");

    const QString okText = QStringLiteral("SUCCESS: done\r\n");
    const QByteArray ok = okText.toLatin1();
    const QStringList none;

    QTest::newRow("echo on all: SUCCESS, then END")
        << "echoOn()" << "" << QByteArray("echo on all")
        << QByteArray("SUCCESS: real-time echo notification set to ON\r\nEND\r\n")
        << QStringList{"echoResponse SUCCESS: real-time echo notification set to ON\r\n"};
    QTest::newRow("echo on all: history lines")
        << "echoOn()" << "" << QByteArray("echo on all")
        << QByteArray("SUCCESS: on\r\n1,hello\r\nEND\r\n")
        << QStringList{"echoResponse SUCCESS: on\r\n", "echoMessage 1,hello\r\n"};
    QTest::newRow("echo off: one line")
        << "echoOn(false)" << "" << QByteArray("echo off")
        << QByteArray("SUCCESS: real-time echo notification set to OFF\r\n")
        << QStringList{"echoResponse SUCCESS: real-time echo notification set to OFF\r\n"};
    QTest::newRow("log on all: two history lines, END silent")
        << "logOn()" << "" << QByteArray("log on all")
        << QByteArray("SUCCESS: real-time log notification set to ON\r\n1796673031,I,first\r\n1796673032,,second, with comma\r\nEND\r\n")
        << QStringList{"logResponse SUCCESS: real-time log notification set to ON\r\n",
                       "logMessage 1796673031,I,first\r\n", "logMessage 1796673032,,second, with comma\r\n"};
    QTest::newRow("log off: one line")
        << "logOn(false)" << "" << QByteArray("log off")
        << QByteArray("SUCCESS: real-time log notification set to OFF\r\n")
        << QStringList{"logResponse SUCCESS: real-time log notification set to OFF\r\n"};
    QTest::newRow("log on all answered by ERROR: no history follows")
        << "logOn()" << "" << QByteArray("log on all") << QByteArray("ERROR: no\r\n")
        << QStringList{"logResponse ERROR: no\r\n"};
    QTest::newRow("state on all: history applies the state")
        << "stateOn()" << "" << QByteArray("state on all")
        << QByteArray("SUCCESS: real-time state notification set to ON\r\n1796673040,CONNECTED,SUCCESS,10.8.0.2,127.0.0.1,1194,,\r\nEND\r\n")
        << QStringList{"stateResponse SUCCESS: real-time state notification set to ON\r\n",
                       "stateMessage 1796673040,CONNECTED,SUCCESS,10.8.0.2,127.0.0.1,1194,,\r\n", "stateChanged 7"};
    QTest::newRow("state on all with the explicit form")
        << "stateOn(true)" << "" << QByteArray("state on all")
        << QByteArray("SUCCESS: on\r\nEND\r\n") << QStringList{"stateResponse SUCCESS: on\r\n"};
    QTest::newRow("state off: one line")
        << "stateOn(false)" << "" << QByteArray("state off")
        << QByteArray("SUCCESS: real-time state notification set to OFF\r\n")
        << QStringList{"stateResponse SUCCESS: real-time state notification set to OFF\r\n"};
    QTest::newRow("state: its state line is the response and is applied")
        << "getState()" << "" << QByteArray("state") << QByteArray("1796673040,WAIT,,,,,,\r\nEND\r\n")
        << QStringList{"stateResponse 1796673040,WAIT,,,,,,\r\n", "stateChanged 2"};
    QTest::newRow("state answered by ERROR: no history follows")
        << "getState()" << "" << QByteArray("state") << QByteArray("ERROR: busy\r\n")
        << QStringList{"stateResponse ERROR: busy\r\n"};
    QTest::newRow("hold") << "getHold()" << "" << QByteArray("hold") << QByteArray("SUCCESS: hold=1\r\n")
                          << QStringList{"holdResponse SUCCESS: hold=1\r\n"};
    QTest::newRow("hold release: released, then the response")
        << "holdRelease()" << "" << QByteArray("hold release") << QByteArray("SUCCESS: hold release succeeded\r\n")
        << QStringList{"holdReleased", "holdResponse SUCCESS: hold release succeeded\r\n"};
    QTest::newRow("verb") << "getVerb()" << "" << QByteArray("verb") << QByteArray("SUCCESS: verb=3\r\n")
                          << QStringList{"verbResponse SUCCESS: verb=3\r\n"};
    QTest::newRow("verb 4") << "setVerb" << "4" << QByteArray("verb 4") << ok << QStringList{"verbResponse " + okText};
    QTest::newRow("verb -1") << "setVerb" << "-1" << QByteArray("verb -1") << ok << QStringList{"verbResponse " + okText};
    QTest::newRow("ERROR to a single-line command is its response")
        << "getVerb()" << "" << QByteArray("verb") << QByteArray("ERROR: unknown command\r\n")
        << QStringList{"verbResponse ERROR: unknown command\r\n"};
    QTest::newRow("version: three lines and END")
        << "getVersion()" << "" << QByteArray("version")
        << QByteArray("OpenVPN Version: OpenVPN 2.6.14\r\nManagement Version: 5\r\nthird\r\nEND\r\n")
        << QStringList{"versionResponse OpenVPN Version: OpenVPN 2.6.14\r\n|Management Version: 5\r\n|third\r\n|END\r\n"};
    QTest::newRow("status 2: list up to END")
        << "getStatus()" << "" << QByteArray("status 2")
        << QByteArray("TITLE,OpenVPN 2.6.14\r\nCLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM\r\nEND\r\n")
        << QStringList{"statusResponse TITLE,OpenVPN 2.6.14\r\n|CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM\r\n|END\r\n"};
    QTest::newRow("status 2 answered by a single ERROR line")
        << "getStatus()" << "" << QByteArray("status 2")
        << QByteArray("ERROR: The 'status' command is not supported by the current daemon mode\r\n")
        << QStringList{"statusResponse ERROR: The 'status' command is not supported by the current daemon mode\r\n"};
    QTest::newRow("kill: common name quoted")
        << "kill" << "client1" << QByteArray("kill \"client1\"")
        << QByteArray("SUCCESS: common name 'client1' found, 1 client(s) killed\r\n")
        << QStringList{"killResponse SUCCESS: common name 'client1' found, 1 client(s) killed\r\n"};
    QTest::newRow("kill: inner space kept in one argument")
        << "kill" << "my client" << QByteArray("kill \"my client\"") << ok << QStringList{"killResponse " + okText};
    QTest::newRow("kill: quote and backslash escaped")
        << "kill" << "a\"b\\c" << QByteArray("kill \"a\\\"b\\\\c\"") << ok << QStringList{"killResponse " + okText};
    QTest::newRow("kill: line break cannot start a second command")
        << "kill" << "x\r\nsignal SIGTERM" << QByteArray("kill \"xsignal SIGTERM\"") << ok
        << QStringList{"killResponse " + okText};
    QTest::newRow("kill: address and port")
        << "kill" << "127.0.0.1:47228" << QByteArray("kill \"127.0.0.1:47228\"") << ok << QStringList{"killResponse " + okText};
    QTest::newRow("kill: bytes that are not UTF-8 go back as they came")
        << "kill" << withEscapes(QStringLiteral(u"caf<e9>\u00e9<80>")) << QByteArray("kill \"caf\xe9\xc3\xa9\x80\"") << ok
        << QStringList{"killResponse " + okText};
    QTest::newRow("client-kill: the client ID")
        << "clientKill" << "12" << QByteArray("client-kill 12") << QByteArray("SUCCESS: client-kill command succeeded\r\n")
        << QStringList{"killResponse SUCCESS: client-kill command succeeded\r\n"};
    QTest::newRow("signal SIGHUP") << "sendHupSignal()" << "" << QByteArray("signal SIGHUP") << ok
                                   << QStringList{"sighupResponse " + okText};
    QTest::newRow("signal SIGTERM") << "sendTermSignal()" << "" << QByteArray("signal SIGTERM") << ok
                                    << QStringList{"sigtermResponse " + okText};
    QTest::newRow("signal SIGUSR1") << "sendUsr1Signal()" << "" << QByteArray("signal SIGUSR1") << ok
                                    << QStringList{"sigusr1Response " + okText};
    QTest::newRow("exit: reply taken silently") << "exit()" << "" << QByteArray("exit") << ok << none;
}

void TestOpenVpnManagement::commandTable()
{
    QFETCH(QString, action);
    QFETCH(QString, argument);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, events);

    Session session;
    QVERIFY(session.start());
    actions().at(action)(session.management, argument);
    QVERIFY(session.waitForLines({wire}));
    QCOMPARE(session.peer.received(), wire + "\r\n");

    session.peer.send(reply);
    QCOMPARE(session.sync(), events);
    QVERIFY(session.isIdle());
}

void TestOpenVpnManagement::commandsGoOutOneAtATime()
{
    Session session;
    QVERIFY(session.start());
    OpenVpnManagement &m = session.management;
    m.getHold();
    m.getVersion();
    m.getStatus();
    QVERIFY(session.waitForLines({"hold"}));
    QCOMPARE(session.management.commands, (QStringList{"version", "status 2"}));

    // A notification between replies is sorted out; the next command goes out after the batch
    // that completes the reply.
    session.peer.send(">LOG:1,I,between\r\nSUCCESS: hold=0\r\n");
    QVERIFY(session.waitForLines({"hold", "version"}));
    QCOMPARE(session.management.commands, QStringList{"status 2"});

    session.peer.send("OpenVPN Version: 2.6\r\n");
    QCOMPARE(session.sync(), (QStringList{"logMessage 1,I,between\r\n", "holdResponse SUCCESS: hold=0\r\n"}));
    QCOMPARE(session.peer.receivedLines(), (QList<QByteArray>{"hold", "version"}));

    session.peer.send("END\r\n");
    QVERIFY(session.waitForLines({"hold", "version", "status 2"}));
    session.peer.send("END\r\n");
    QCOMPARE(session.sync(), (QStringList{"versionResponse OpenVPN Version: 2.6\r\n|END\r\n", "statusResponse END\r\n"}));
    // The next list starts empty.
    m.getVersion();
    session.peer.send("again\r\nEND\r\n");
    QCOMPARE(session.sync(), QStringList{"versionResponse again\r\n|END\r\n"});
}

void TestOpenVpnManagement::disconnectClient_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<qint64>>("clientIds");
    QTest::addColumn<QList<QByteArray>>("wire");

    QTest::newRow("by name, whatever the IDs") << "client1" << QList<qint64>{4, 9} << QList<QByteArray>{"kill \"client1\""};
    QTest::newRow("by name without IDs") << "client1" << QList<qint64>{} << QList<QByteArray>{"kill \"client1\""};
    QTest::newRow("name with a colon: each connection by its ID")
        << "x:y" << QList<qint64>{4, 9} << QList<QByteArray>{"client-kill 4", "client-kill 9"};
    QTest::newRow("name with a colon and bytes that are not UTF-8")
        << withEscapes(QStringLiteral(u"<e9>:<e9>")) << QList<qint64>{0} << QList<QByteArray>{"client-kill 0"};
    QTest::newRow("name with a colon, no IDs known: by name")
        << "x:y" << QList<qint64>{} << QList<QByteArray>{"kill \"x:y\""};
}

// A client is disconnected by its name where OpenVPN reads that as a name; a name with a colon
// it would read as an address, so each of that name's connections goes by its ID.
void TestOpenVpnManagement::disconnectClient()
{
    QFETCH(QString, name);
    QFETCH(QList<qint64>, clientIds);
    QFETCH(QList<QByteArray>, wire);

    Session session;
    QVERIFY(session.start());
    session.peer.onLine = [](const QByteArray &) { return QByteArray("SUCCESS: killed\r\n"); };
    QCOMPARE(session.management.disconnectClient(name, clientIds), int(wire.size()));
    QVERIFY(session.waitForLines(wire));
    QCOMPARE(session.sync(), QStringList(wire.size(), QStringLiteral("killResponse SUCCESS: killed\r\n")));
}

void TestOpenVpnManagement::authAnswersGoAheadOfTheQueue_data()
{
    QTest::addColumn<QByteArray>("prompt");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("retry");
    QTest::addColumn<QList<QByteArray>>("wire");
    QTest::addColumn<QString>("request");

    const QByteArray authPrompt = ">PASSWORD:Need 'Auth' username/password\r\n";
    const QByteArray keyPrompt = ">PASSWORD:Need 'Private Key' password\r\n";

    QTest::newRow("auth, retry none: quoted user and password")
        << authPrompt << "auth3" << "bob smith" << "my p\"a\\ss" << false
        << QList<QByteArray>{"auth-retry none", "username \"Auth\" \"bob smith\"",
                             "password \"Auth\" \"my p\\\"a\\\\ss\""}
        << "authRequest";
    QTest::newRow("auth, two-argument form retries interactively")
        << authPrompt << "auth2" << "bob" << "secret" << true
        << QList<QByteArray>{"auth-retry interact", "username \"Auth\" \"bob\"", "password \"Auth\" \"secret\""}
        << "authRequest";
    QTest::newRow("auth, line breaks removed from both values")
        << authPrompt << "auth3" << "bob\r\nsignal SIGTERM" << "pw\nexit" << true
        << QList<QByteArray>{"auth-retry interact", "username \"Auth\" \"bobsignal SIGTERM\"",
                             "password \"Auth\" \"pwexit\""}
        << "authRequest";
    QTest::newRow("auth, non-ASCII as UTF-8")
        << authPrompt << "auth3" << QString::fromUtf8("łukasz") << QString::fromUtf8("zażółć") << true
        << QList<QByteArray>{"auth-retry interact", "username \"Auth\" \"\xc5\x82ukasz\"",
                             "password \"Auth\" \"za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87\""}
        << "authRequest";
    QTest::newRow("private key, retry none")
        << keyPrompt << "key2" << "" << "my \"key\" \\pass" << false
        << QList<QByteArray>{"auth-retry none", "password \"Private Key\" \"my \\\"key\\\" \\\\pass\""}
        << "privKeyPasswordRequest";
    QTest::newRow("private key, one-argument form retries interactively")
        << keyPrompt << "key1" << "" << "secret" << true
        << QList<QByteArray>{"auth-retry interact", "password \"Private Key\" \"secret\""}
        << "privKeyPasswordRequest";
    QTest::newRow("private key, empty password")
        << keyPrompt << "key1" << "" << "" << true
        << QList<QByteArray>{"auth-retry interact", "password \"Private Key\" \"\""}
        << "privKeyPasswordRequest";
}

void TestOpenVpnManagement::authAnswersGoAheadOfTheQueue()
{
    QFETCH(QByteArray, prompt);
    QFETCH(QString, answer);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, retry);
    QFETCH(QList<QByteArray>, wire);
    QFETCH(QString, request);

    Session session;
    QVERIFY(session.start());
    OpenVpnManagement &m = session.management;
    m.getVersion();
    m.getStatus();
    QVERIFY(session.waitForLines({"version"}));

    // The prompt holds the queue; the reply to "version" is still on its way and still awaited.
    session.peer.send(prompt);
    QCOMPARE(session.sync(), (QStringList{request, "passwordMessage " + QString::fromLatin1(prompt.mid(10))}));
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgVersion);
    QCOMPARE(session.management.commands, QStringList{"status 2"});

    if (answer == QLatin1String("auth3"))
        m.sendAuthData(username, password, retry);
    else if (answer == QLatin1String("auth2"))
        m.sendAuthData(username, password);
    else if (answer == QLatin1String("key2"))
        m.sendPrivKeyPassword(password, retry);
    else
        m.sendPrivKeyPassword(password);
    QCOMPARE(session.management.commands.size(), wire.size() + 1);
    QCOMPARE(session.management.commands.constLast(), QStringLiteral("status 2"));

    // The answer goes out once the awaited reply is in, each line after the reply to the one
    // before; "status 2" comes last.
    session.peer.send("OpenVPN Version: 2.6\r\nEND\r\n");
    QList<QByteArray> expected{"version"};
    for (const QByteArray &line : wire) {
        expected.append(line);
        QVERIFY2(session.waitForLines(expected), line.constData());
        session.peer.send(line.startsWith("auth-retry") ? "SUCCESS: auth-retry parameter changed\r\n"
                                                        : "SUCCESS: entered, but not yet verified\r\n");
    }
    expected.append("status 2");
    QVERIFY(session.waitForLines(expected));
    session.peer.send("END\r\n");
    QCOMPARE(session.sync(), (QStringList{"versionResponse OpenVPN Version: 2.6\r\n|END\r\n",
                                          "authRetryResponse SUCCESS: auth-retry parameter changed\r\n",
                                          "statusResponse END\r\n"}));
}

void TestOpenVpnManagement::promptWhileIdleIsAnsweredAtOnce()
{
    Session session;
    QVERIFY(session.start());
    session.peer.send(">PASSWORD:Need 'Auth' username/password\r\n");
    QCOMPARE(session.sync(), (QStringList{"authRequest", "passwordMessage Need 'Auth' username/password\r\n"}));
    // Held while the user answers.
    session.management.getStatus();
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgNone);
    session.management.sendAuthData(QStringLiteral("bob"), QStringLiteral("pw"));
    QVERIFY(session.waitForLines({"auth-retry interact"}));
}

void TestOpenVpnManagement::managementPassword_data()
{
    QTest::addColumn<QList<QByteArray>>("promptChunks");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("plain password, prompt in one piece")
        << QList<QByteArray>{"ENTER PASSWORD:"} << "sesame" << QByteArray("sesame\r\n");
    QTest::newRow("space and quote stay unquoted")
        << QList<QByteArray>{"ENTER PASSWORD:"} << "open \"se\\same" << QByteArray("open \"se\\same\r\n");
    QTest::newRow("line breaks removed")
        << QList<QByteArray>{"ENTER PASSWORD:"} << "open\r\nsesame\n" << QByteArray("opensesame\r\n");
    QTest::newRow("empty password is an empty line")
        << QList<QByteArray>{"ENTER PASSWORD:"} << "" << QByteArray("\r\n");
    QTest::newRow("prompt split over two reads")
        << QList<QByteArray>{"ENTER PASS", "WORD:"} << "sesame" << QByteArray("sesame\r\n");
}

void TestOpenVpnManagement::managementPassword()
{
    QFETCH(QList<QByteArray>, promptChunks);
    QFETCH(QString, password);
    QFETCH(QByteArray, wire);

    Session session;
    QVERIFY(session.connect());
    for (const QByteArray &chunk : promptChunks) {
        session.peer.send(chunk);
        QTRY_VERIFY_WITH_TIMEOUT(session.management.socket->bytesAvailable() > 0
                                     || session.recorder.count("managementPasswordRequest") > 0, waitMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.describe(), QStringList{"managementPasswordRequest"}, waitMs);
    // Exactly the prompt was consumed; no line has been read.
    QCOMPARE(session.management.socket->bytesAvailable(), qint64(0));
    QVERIFY(session.management.passwordPending);
    QVERIFY(!session.management.managementActive);

    session.management.sendManagementPassword(password);
    QTRY_COMPARE_WITH_TIMEOUT(session.peer.received(), wire, waitMs);
    QVERIFY(!session.management.passwordPending);

    session.recorder.clear();
    session.peer.clearReceived();
    session.peer.send("SUCCESS: password is correct\r\n" + infoLine + ">HOLD:Waiting for hold release:0\r\n");
    QVERIFY(session.waitForLines({"state"}));
    // "state" is already outstanding when the batch is sorted, so the SUCCESS line is taken
    // as its first reply line.
    QCOMPARE(session.sync(), (QStringList{"managementConnected", "stateResponse SUCCESS: password is correct\r\n",
                                          "infoMessage OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n",
                                          "managementHoldActive", "holdMessage Waiting for hold release:0\r\n"}));
    session.peer.send("1796673031,CONNECTING,,,,,,\r\nEND\r\n");
    QCOMPARE(session.sync(), (QStringList{"stateMessage 1796673031,CONNECTING,,,,,,\r\n", "stateChanged 1"}));
    QVERIFY(session.isIdle());
}

void TestOpenVpnManagement::managementPasswordPromptOnlyBeforeTheFirstBatch()
{
    Session session;
    QVERIFY(session.start());
    session.peer.send("ENTER PASSWORD:");
    QTRY_COMPARE_WITH_TIMEOUT(session.management.socket->bytesAvailable(), qint64(15), waitMs);
    QCOMPARE(session.recorder.describe(), QStringList());
    // It stays an unfinished line until a line end comes; then it is an ordinary line.
    session.peer.send("\r\n");
    QCOMPARE(session.sync(), QStringList{"otherMessage ENTER PASSWORD:\r\n"});
}

void TestOpenVpnManagement::wrongManagementPasswordPromptsAgain_data()
{
    QTest::addColumn<QByteArray>("again");
    // OpenVPN 2.6 answers a wrong password with nothing but the prompt again.
    QTest::newRow("prompt alone") << QByteArray("ENTER PASSWORD:");
    QTest::newRow("error line first") << QByteArray("ERROR: bad password\r\nENTER PASSWORD:");
}

void TestOpenVpnManagement::wrongManagementPasswordPromptsAgain()
{
    QFETCH(QByteArray, again);
    Session session;
    QVERIFY(session.connect());
    session.peer.send("ENTER PASSWORD:");
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.describe(), QStringList{"managementPasswordRequest"}, waitMs);
    session.management.sendManagementPassword(QStringLiteral("wrong"));
    QVERIFY(session.waitForLines({"wrong"}));
    session.peer.send(again);
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.describe(),
                              (QStringList{"managementPasswordRequest", "managementPasswordFail", "managementPasswordRequest"}),
                              waitMs);
    QVERIFY(session.management.passwordPending);

    // After the third wrong one OpenVPN closes the connection without a word.
    session.recorder.clear();
    session.management.sendManagementPassword(QStringLiteral("wrong again"));
    QVERIFY(session.waitForLines({"wrong", "wrong again"}));
    session.peer.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.count("connectionError"), 1, waitMs);
    QCOMPARE(session.recorder.describe().constLast(),
             QStringLiteral("connectionError OpenVPN did not accept the management interface password and closed the "
                            "connection."));
    QCOMPARE(session.recorder.count("managementConnected"), 0);
}

void TestOpenVpnManagement::valuesOpenVpnWouldCutAreRefused_data()
{
    // How the value is sent: "kill", "user" or "password" (answering an 'Auth' prompt),
    // "key" (a 'Private Key' prompt), "management" (the management password).
    QTest::addColumn<QString>("as");
    QTest::addColumn<QString>("value");
    // The line on the wire; empty when the value is refused and nothing goes out.
    QTest::addColumn<QByteArray>("wire");

    const QString a256(256, u'k');
    const QString z128 = QString(u'\u017c').repeated(128);
    QTest::newRow("kill: name of 256 bytes goes out whole") << "kill" << a256 << "kill \"" + a256.toLatin1() + "\"";
    QTest::newRow("kill: name of 257 bytes refused") << "kill" << a256 + u'k' << QByteArray();
    QTest::newRow("kill: 128 two-byte characters go out whole")
        << "kill" << z128 << "kill \"" + z128.toUtf8() + "\"";
    QTest::newRow("kill: 129 two-byte characters refused") << "kill" << z128 + u'\u017c' << QByteArray();
    QTest::newRow("kill: escapes do not count") << "kill" << QString(256, u'"') << "kill \"" + QByteArray(256, '"').replace("\"", "\\\"") + "\"";
    QTest::newRow("kill: NUL removed") << "kill" << QStringLiteral(u"a\0b") << QByteArray("kill \"ab\"");
    // Cut by OpenVPN after 1024 bytes, this line would run "signal SIGTERM".
    const QString injection = QString(1000, u'A') + QString(30, u' ') + QStringLiteral("signal SIGTERM #");
    QTest::newRow("auth password carrying a second command refused") << "password" << injection << QByteArray();
    QTest::newRow("auth user of 257 bytes refused") << "user" << a256 + u'u' << QByteArray();
    QTest::newRow("private key password carrying a second command refused") << "key" << injection << QByteArray();
    QTest::newRow("management password of 1000 bytes goes out whole")
        << "management" << QString(1000, u'P') << QByteArray(1000, 'P');
    QTest::newRow("management password of 1001 bytes refused") << "management" << QString(1001, u'P') << QByteArray();
    QTest::newRow("management password of 501 characters and 1001 bytes refused")
        << "management" << QString(u'\u017c').repeated(500) + u'P' << QByteArray();
    QTest::newRow("management password: NUL removed") << "management" << QStringLiteral(u"se\0same") << QByteArray("sesame");
}

// OpenVPN takes a command line of up to 1023 bytes and a quoted argument of up to 256: what it
// would cut is refused before anything goes out, and an open prompt is asked again.
void TestOpenVpnManagement::valuesOpenVpnWouldCutAreRefused()
{
    QFETCH(QString, as);
    QFETCH(QString, value);
    QFETCH(QByteArray, wire);

    Session session;
    QByteArray prompt;
    QString request;
    if (as == QLatin1String("management")) {
        QVERIFY(session.connect());
        prompt = "ENTER PASSWORD:";
        request = QStringLiteral("managementPasswordRequest");
    } else {
        QVERIFY(session.start());
        prompt = as == QLatin1String("kill") ? QByteArray()
                 : as == QLatin1String("key") ? QByteArray(">PASSWORD:Need 'Private Key' password\r\n")
                                              : QByteArray(">PASSWORD:Need 'Auth' username/password\r\n");
        request = as == QLatin1String("key") ? QStringLiteral("privKeyPasswordRequest") : QStringLiteral("authRequest");
    }
    if (!prompt.isEmpty()) {
        session.peer.send(prompt);
        QTRY_VERIFY_WITH_TIMEOUT(session.recorder.count(request.toLatin1()) == 1, waitMs);
        session.recorder.clear();
    }

    OpenVpnManagement &m = session.management;
    if (as == QLatin1String("kill"))
        QCOMPARE(m.kill(value), !wire.isEmpty());
    else if (as == QLatin1String("management"))
        m.sendManagementPassword(value);
    else if (as == QLatin1String("key"))
        m.sendPrivKeyPassword(value);
    else if (as == QLatin1String("user"))
        m.sendAuthData(value, QStringLiteral("pw"));
    else
        m.sendAuthData(QStringLiteral("bob"), value);

    if (!wire.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(session.peer.received(), wire + "\r\n", waitMs);
        return;
    }
    const int type = as == QLatin1String("kill") ? OpenVpnManagement::MsgKill : OpenVpnManagement::MsgPassword;
    QStringList expected{QStringLiteral("commandRefused %1").arg(type)};
    if (!prompt.isEmpty())
        expected.append(request);
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.describe(), expected, waitMs);
    QCOMPARE(session.peer.received(), QByteArray());
}

void TestOpenVpnManagement::notifications_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<OpenVpnManagement::VpnState>("state");

    const auto connecting = OpenVpnManagement::StateConnecting;

    QTest::newRow("echo") << QByteArray(">ECHO:1796673031,hello\r\n")
                          << QStringList{"echoMessage 1796673031,hello\r\n"} << connecting;
    QTest::newRow("fatal") << QByteArray(">FATAL:Error: bad\r\n") << QStringList{"fatalMessage Error: bad\r\n"} << connecting;
    QTest::newRow("info") << QByteArray(">INFO:hello\r\n") << QStringList{"infoMessage hello\r\n"} << connecting;
    QTest::newRow("log with a state inside its text")
        << QByteArray(">LOG:1796673031,,MANAGEMENT: >STATE:1,CONNECTED\r\n")
        << QStringList{"logMessage 1796673031,,MANAGEMENT: >STATE:1,CONNECTED\r\n"} << connecting;
    QTest::newRow("client") << QByteArray(">CLIENT:ESTABLISHED,0\r\n")
                            << QStringList{"clientMessage ESTABLISHED,0\r\n"} << connecting;
    QTest::newRow("state CONNECTED: changed, then the message")
        << QByteArray(">STATE:1796673040,CONNECTED,SUCCESS,10.8.0.2,127.0.0.1,1194,,\r\n")
        << QStringList{"stateChanged 7", "stateMessage 1796673040,CONNECTED,SUCCESS,10.8.0.2,127.0.0.1,1194,,\r\n"}
        << OpenVpnManagement::StateConnected;
    QTest::newRow("same state twice: one change")
        << QByteArray(">STATE:1,RECONNECTING,x\r\n>STATE:2,RECONNECTING,y\r\n")
        << QStringList{"stateChanged 8", "stateMessage 1,RECONNECTING,x\r\n", "stateMessage 2,RECONNECTING,y\r\n"}
        << OpenVpnManagement::StateReconnecting;
    QTest::newRow("repeated current state: no change")
        << QByteArray(">STATE:1,CONNECTING,,\r\n") << QStringList{"stateMessage 1,CONNECTING,,\r\n"} << connecting;
    QTest::newRow("every state word in turn")
        << QByteArray(">STATE:1,WAIT,\r\n>STATE:1,AUTH,\r\n>STATE:1,GET_CONFIG,\r\n>STATE:1,ASSIGN_IP,\r\n"
                      ">STATE:1,ADD_ROUTES,\r\n>STATE:1,EXITING,\r\n")
        << QStringList{"stateChanged 2", "stateMessage 1,WAIT,\r\n", "stateChanged 3", "stateMessage 1,AUTH,\r\n",
                       "stateChanged 4", "stateMessage 1,GET_CONFIG,\r\n", "stateChanged 5", "stateMessage 1,ASSIGN_IP,\r\n",
                       "stateChanged 6", "stateMessage 1,ADD_ROUTES,\r\n", "stateChanged 9", "stateMessage 1,EXITING,\r\n"}
        << OpenVpnManagement::StateExiting;
    QTest::newRow("state word as the last field")
        << QByteArray(">STATE:1,CONNECTED\r\n") << QStringList{"stateChanged 7", "stateMessage 1,CONNECTED\r\n"}
        << OpenVpnManagement::StateConnected;
    QTest::newRow("unknown state word: undefined")
        << QByteArray(">STATE:1,TCP_CONNECT,\r\n") << QStringList{"stateChanged 0", "stateMessage 1,TCP_CONNECT,\r\n"}
        << OpenVpnManagement::StateUndefined;
    QTest::newRow("empty state word: undefined")
        << QByteArray(">STATE:1,,\r\n") << QStringList{"stateChanged 0", "stateMessage 1,,\r\n"}
        << OpenVpnManagement::StateUndefined;
    QTest::newRow("state line without a comma: undefined, nothing read past it")
        << QByteArray(">STATE:CONNECTED\r\n") << QStringList{"stateChanged 0", "stateMessage CONNECTED\r\n"}
        << OpenVpnManagement::StateUndefined;
    QTest::newRow("hold waiting: active, then the message")
        << QByteArray(">HOLD:Waiting for hold release:0\r\n")
        << QStringList{"managementHoldActive", "holdMessage Waiting for hold release:0\r\n"} << connecting;
    QTest::newRow("hold other text") << QByteArray(">HOLD:something else\r\n")
                                     << QStringList{"holdMessage something else\r\n"} << connecting;
    QTest::newRow("private key verification failed")
        << QByteArray(">PASSWORD:Verification Failed: 'Private Key'\r\n")
        << QStringList{"privKeyPasswordFail", "passwordMessage Verification Failed: 'Private Key'\r\n"} << connecting;
    QTest::newRow("auth verification failed")
        << QByteArray(">PASSWORD:Verification Failed: 'Auth'\r\n")
        << QStringList{"authFail", "passwordMessage Verification Failed: 'Auth'\r\n"} << connecting;
    QTest::newRow("other password text")
        << QByteArray(">PASSWORD:Auth-Token:abc\r\n") << QStringList{"passwordMessage Auth-Token:abc\r\n"} << connecting;
    QTest::newRow("unknown keyword, nothing awaited")
        << QByteArray(">BYTECOUNT:1,2\r\n") << QStringList{"otherMessage >BYTECOUNT:1,2\r\n"} << connecting;
    QTest::newRow("plain line, nothing awaited")
        << QByteArray("SUCCESS: stray\r\n") << QStringList{"otherMessage SUCCESS: stray\r\n"} << connecting;
    QTest::newRow("lower-case keyword is no notification")
        << QByteArray(">log:1,I,x\r\n") << QStringList{"otherMessage >log:1,I,x\r\n"} << connecting;
}

void TestOpenVpnManagement::notifications()
{
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, events);
    QFETCH(OpenVpnManagement::VpnState, state);

    Session session;
    QVERIFY(session.start());
    session.peer.send(lines);
    QCOMPARE(session.sync(), events);
    QCOMPARE(session.management.state(), state);
    QVERIFY(session.isIdle());
}

void TestOpenVpnManagement::firstBatchConnectsBeforeItsLinesAreSorted()
{
    Session session;
    QVERIFY(session.connect());
    session.peer.send(infoLine + "1796673031,WAIT,,,,,,\r\nEND\r\n");
    QVERIFY(session.waitForLines({"state"}));
    QCOMPARE(session.sync(), (QStringList{"managementConnected",
                                          "infoMessage OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n",
                                          "stateResponse 1796673031,WAIT,,,,,,\r\n", "stateChanged 2"}));
    QVERIFY(session.isIdle());
}

void TestOpenVpnManagement::unknownKeywordIsAReplyWhenOneIsAwaited()
{
    Session session;
    QVERIFY(session.start());
    session.management.getVerb();
    QVERIFY(session.waitForLines({"verb"}));
    session.peer.send(">BYTECOUNT:1,2\r\n");
    QCOMPARE(session.sync(), QStringList{"verbResponse >BYTECOUNT:1,2\r\n"});
}

void TestOpenVpnManagement::timeoutChangesNothing()
{
    Session session;
    QVERIFY(session.start());
    session.management.setTimeout(150);
    session.management.getVersion();
    session.management.getStatus();
    QVERIFY(session.waitForLines({"version"}));
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.describe(), QStringList{"timeoutReached"}, waitMs);
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgVersion);
    QCOMPARE(session.management.commands, QStringList{"status 2"});
    QVERIFY(session.peer.isConnected());

    // A late reply is still the reply.
    session.recorder.clear();
    session.peer.send("late\r\nEND\r\n");
    QVERIFY(session.waitForLines({"version", "status 2"}));
    session.peer.send("END\r\n");
    QCOMPARE(session.sync(), (QStringList{"versionResponse late\r\n|END\r\n", "statusResponse END\r\n"}));
}

void TestOpenVpnManagement::timeoutFromTheConnectionAttempt()
{
    Session session;
    session.management.setTimeout(150);
    QVERIFY(session.connect());
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.count("timeoutReached"), 1, waitMs);
    QCOMPARE(session.recorder.count("managementConnected"), 0);
}

void TestOpenVpnManagement::socketErrorStopsTheTimer()
{
    TestableManagement management;
    management.setTimeout(300);
    QSignalSpy errors(&management, &QtTelnet::connectionError);
    QSignalSpy timeouts(&management, &OpenVpnManagement::timeoutReached);
    management.connectToHost(QStringLiteral("127.0.0.1"), FreePort::tcp());
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, waitMs);
    // Absence can only be shown by waiting well past the time-out.
    QVERIFY(!timeouts.wait(1500));
}

void TestOpenVpnManagement::closeBeforeTheFirstBatchDoesNothing()
{
    Session session;
    QVERIFY(session.connect());
    session.management.close();
    QCOMPARE(session.management.socket->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(session.recorder.describe(), QStringList());
    // The connection goes on as if nothing had happened.
    session.peer.send(infoLine);
    QVERIFY(session.waitForLines({"state"}));
}

void TestOpenVpnManagement::closeEndsTheConversation()
{
    Session session;
    QVERIFY(session.start());
    session.management.getVersion();
    session.management.getStatus();
    QVERIFY(session.waitForLines({"version"}));
    session.management.close();
    QTRY_VERIFY_WITH_TIMEOUT(!session.peer.isConnected(), waitMs);
    QCOMPARE(session.management.state(), OpenVpnManagement::StateUndefined);
    QCOMPARE(session.management.commands, QStringList());
    QCOMPARE(session.management.commandTypes, QList<OpenVpnManagement::MessageType>());
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgNone);
    QCOMPARE(session.recorder.describe(), (QStringList{"disconnected", "stateChanged 0"}));
    // A second close has nothing left to do.
    session.recorder.clear();
    session.management.close();
    QCOMPARE(session.recorder.describe(), QStringList());
}

void TestOpenVpnManagement::droppedConnectionClosesAndANewOneStartsAfresh()
{
    Session session;
    QVERIFY(session.start());
    session.management.getVersion();
    session.management.getStatus();
    QVERIFY(session.waitForLines({"version"}));
    session.peer.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(session.management.state(), OpenVpnManagement::StateUndefined, waitMs);
    QVERIFY(!session.management.managementActive);
    QCOMPARE(session.recorder.count("stateChanged"), 1);

    // Nothing is outstanding any more: a request goes out at once.
    QVERIFY(session.start());
    QCOMPARE(session.peer.connectionCount(), 2);
    QVERIFY(session.isIdle());
}

void TestOpenVpnManagement::openPromptDoesNotHoldANewConnection()
{
    Session session;
    QVERIFY(session.start());
    session.peer.send(">PASSWORD:Need 'Auth' username/password\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(session.management.passwordPending, waitMs);
    // The user cancels: the window closes the connection without answering.
    session.management.close();
    QVERIFY(session.management.passwordPending);
    // OpenVPN no longer asks on the next connection; the conversation must still start.
    QVERIFY(session.start());
    QVERIFY(session.isIdle());
}

void TestOpenVpnManagement::commandOnAClosedConnectionIsDropped()
{
    Session session;
    // Nothing is queued or awaited, so no time-out can come of it; the next connection
    // starts its conversation as ever.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("device not open")));
    session.management.getStatus();
    QVERIFY(!session.management.kill(QStringLiteral("client1")));
    QVERIFY(!session.management.clientKill(4));
    QCOMPARE(session.management.disconnectClient(QStringLiteral("x:y"), {4, 5}), 0);
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgNone);
    QCOMPARE(session.management.commands, QStringList());
    QVERIFY(session.start());
    session.management.setTimeout(150);
    session.peer.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.count("disconnected"), 1, waitMs);
    session.management.getStatus();
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgNone);
    // Absence can only be shown by waiting well past the time-out.
    QVERIFY(!QTest::qWaitFor([&] { return session.recorder.count("timeoutReached") > 0; }, 600));
}

void TestOpenVpnManagement::listCutShortDoesNotLeadTheNextList()
{
    Session session;
    QVERIFY(session.start());
    session.management.getStatus();
    QVERIFY(session.waitForLines({"status 2"}));
    session.peer.send("TITLE,old\r\nCLIENT_LIST,old\r\n");
    QCOMPARE(session.sync(), QStringList());
    session.peer.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(session.recorder.count("disconnected"), 1, waitMs);

    QVERIFY(session.start());
    session.management.getStatus();
    QVERIFY(session.waitForLines({"status 2"}));
    session.peer.send("TITLE,new\r\nEND\r\n");
    QCOMPARE(session.sync(), QStringList{"statusResponse TITLE,new\r\n|END\r\n"});
}

void TestOpenVpnManagement::connectToHostWithoutPortUses23()
{
    FakeTcpPeer telnetPort(23);
    if (!telnetPort.isListening())
        QSKIP("cannot listen on port 23 here (it needs root, or it is taken)");
    TestableManagement management;
    management.connectToHost(QStringLiteral("127.0.0.1"));
    QTRY_VERIFY_WITH_TIMEOUT(telnetPort.isConnected(), waitMs);
    QCOMPARE(management.socket->peerPort(), quint16(23));
}

void TestOpenVpnManagement::hostileStreams_data()
{
    QTest::addColumn<QString>("outstanding");
    QTest::addColumn<QByteArray>("stream");
    // Compared with what the stream caused; empty when only survival is in question.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("compareEvents");

    // As long as the transport takes a line (longer ones drop the connection).
    const QByteArray huge(QtTelnet::maxLineLength - 16, 'h');
    QTest::newRow("huge line, nothing awaited")
        << "" << huge + "\r\n" << QStringList{"otherMessage " + QString::fromLatin1(huge) + "\r\n"} << true;
    QTest::newRow("huge line inside a status list")
        << "getStatus()" << "TITLE," + huge + "\r\nEND\r\n"
        << QStringList{"statusResponse TITLE," + QString::fromLatin1(huge) + "\r\n|END\r\n"} << true;
    QTest::newRow("huge state notification without a comma")
        << "" << ">STATE:" + huge + "\r\n"
        << QStringList{"stateChanged 0", "stateMessage " + QString::fromLatin1(huge) + "\r\n"} << true;
    QByteArray commas;
    QStringList commaEvents;
    for (int i = 0; i < 500; ++i) {
        commas += QByteArray(i % 40, ',') + "\r\n";
        commaEvents.append("otherMessage " + QString(i % 40, u',') + "\r\n");
    }
    QTest::newRow("lines of only commas") << "" << commas << commaEvents << true;
    QTest::newRow("state notifications of only commas")
        << "" << QByteArray(">STATE:\r\n>STATE:,\r\n>STATE:,,,,,,,,\r\n")
        << QStringList{"stateChanged 0", "stateMessage \r\n", "stateMessage ,\r\n", "stateMessage ,,,,,,,,\r\n"} << true;
    QTest::newRow("state history lines without a comma")
        << "stateOn()" << QByteArray("SUCCESS: on\r\nnonsense\r\n\r\nEND\r\n")
        << QStringList{"stateResponse SUCCESS: on\r\n", "stateMessage nonsense\r\n", "stateChanged 0", "stateMessage \r\n"}
        << true;
    QTest::newRow("unknown and empty keywords")
        << "" << QByteArray(">NEED-OK:x\r\n>\r\n>>\r\n>:\r\n>RSA_SIGN:abc\r\n")
        << QStringList{"otherMessage >NEED-OK:x\r\n", "otherMessage >\r\n", "otherMessage >>\r\n",
                       "otherMessage >:\r\n", "otherMessage >RSA_SIGN:abc\r\n"}
        << true;
    QTest::newRow("replies with nothing awaited")
        << "" << QByteArray("SUCCESS: x\r\nEND\r\nERROR: y\r\n")
        << QStringList{"otherMessage SUCCESS: x\r\n", "otherMessage END\r\n", "otherMessage ERROR: y\r\n"} << true;
    QTest::newRow("prompt texts cut short")
        << "" << QByteArray(">PASSWORD:Need 'Auth'\r\n>PASSWORD:\r\n>HOLD:\r\n")
        << QStringList{"passwordMessage Need 'Auth'\r\n", "passwordMessage \r\n", "holdMessage \r\n"} << true;
    QTest::newRow("bare line feeds and CRs")
        << "" << QByteArray("\n\r\r\n\n")
        << QStringList{"otherMessage \n", "otherMessage \r\r\n", "otherMessage \n"} << true;

    QRandomGenerator random(20261207);
    for (int round = 0; round < 3; ++round) {
        QByteArray bytes(qsizetype(256) * 1024, Qt::Uninitialized);
        for (char &byte : bytes) {
            const quint32 pick = random.bounded(100);
            byte = pick < 4 ? '\n' : pick < 6 ? '>' : pick < 10 ? ',' : char(random.bounded(256));
        }
        QTest::addRow("random bytes, round %d", round) << (round == 1 ? "getStatus()" : "") << bytes
                                                       << QStringList() << false;
    }
}

void TestOpenVpnManagement::hostileStreams()
{
    QFETCH(QString, outstanding);
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, events);
    QFETCH(bool, compareEvents);

    Session session;
    QVERIFY(session.start());
    if (!outstanding.isEmpty()) {
        actions().at(outstanding)(session.management, QString());
        QTRY_COMPARE_WITH_TIMEOUT(session.peer.receivedLines().size(), 1, waitMs);
    }
    session.peer.send(stream);
    // A line end closes whatever the stream left unfinished.
    if (!compareEvents)
        session.peer.send("\r\nEND\r\n");
    const QStringList caused = session.sync();
    if (compareEvents)
        QCOMPARE(caused, events);

    // Still usable: the conversation goes on as before.
    session.peer.clearReceived();
    QVERIFY(session.management.managementActive);
    QCOMPARE(session.management.currentCommand, OpenVpnManagement::MsgNone);
    session.management.getVersion();
    QVERIFY(session.waitForLines({"version"}));
    session.peer.send("OpenVPN Version: 2.6\r\nEND\r\n");
    QCOMPARE(session.sync(), QStringList{"versionResponse OpenVPN Version: 2.6\r\n|END\r\n"});
}

void TestOpenVpnManagement::randomLinesKeepTheQueueConsistent()
{
    // Lines and requests in random order, fed straight into the sorting: whatever comes, the
    // queue stays consistent and nothing is read past its end.
    Session session;
    QVERIFY(session.start());
    TestableManagement &m = session.management;
    const QStringList vocabulary{
        "SUCCESS: ok\r\n", "ERROR: no\r\n", "END\r\n", "1796673031,CONNECTED,SUCCESS,,,,,\r\n", ">STATE:1,WAIT,\r\n",
        ">STATE:\r\n", ">STATE:,\r\n", ">LOG:1,I,x\r\n", ">HOLD:Waiting for hold release:0\r\n",
        ">PASSWORD:Need 'Auth' username/password\r\n", ">PASSWORD:Need 'Private Key' password\r\n",
        ">PASSWORD:Verification Failed: 'Auth'\r\n", "SUCCESS: hold release succeeded\r\n", "TITLE,x\r\n", ",,,,\r\n",
        ">BYTECOUNT:1,2\r\n", ">\r\n", "\r\n", "", ">INFO:i\r\n", ">ECHO:e\r\n", ">FATAL:f\r\n", ">CLIENT:c\r\n"};
    const QStringList actionNames{"echoOn()", "echoOn(false)", "logOn()", "logOn(false)", "stateOn()", "stateOn(false)",
                                  "getState()", "getHold()", "holdRelease()", "getVerb()", "getVersion()",
                                  "getStatus()", "sendHupSignal()", "exit()"};
    QRandomGenerator random(7);
    for (int step = 0; step < 20000; ++step) {
        const quint32 pick = random.bounded(10);
        const OpenVpnManagement::MessageType before = m.currentCommand;
        const bool pendingBefore = m.passwordPending;
        if (pick < 6) {
            QStringList lines;
            for (quint32 n = random.bounded(1, 6); n > 0; --n)
                lines.append(vocabulary.at(random.bounded(vocabulary.size())));
            m.processMessage(lines);
        } else if (pick < 9) {
            actions().at(actionNames.at(random.bounded(actionNames.size())))(m, QString());
            // Nothing new goes out while a reply or an answer to a prompt is awaited.
            if (before != OpenVpnManagement::MsgNone || pendingBefore)
                QCOMPARE(m.currentCommand, before);
        } else if (random.bounded(2) == 0) {
            m.sendAuthData(QStringLiteral("u"), QStringLiteral("p"), random.bounded(2) == 0);
        } else {
            m.sendPrivKeyPassword(QStringLiteral("p"));
        }
        QCOMPARE(m.commands.size(), m.commandTypes.size());
        // The queue never stalls: with no reply and no answer awaited, nothing waits in it.
        if (m.currentCommand == OpenVpnManagement::MsgNone && !m.passwordPending)
            QCOMPARE(m.commands.size(), 0);
    }

    // Answer everything that is still awaited; the client then works as ever.
    if (m.passwordPending)
        m.sendAuthData(QStringLiteral("u"), QStringLiteral("p"));
    for (int guard = 0; guard < 100000 && (m.currentCommand != OpenVpnManagement::MsgNone || !m.commands.isEmpty()); ++guard)
        m.processMessage({QStringLiteral("END\r\n")});
    QCOMPARE(m.currentCommand, OpenVpnManagement::MsgNone);
    QCOMPARE(m.commands.size(), 0);
    session.recorder.clear();
    m.getVersion();
    QTRY_VERIFY_WITH_TIMEOUT(!session.peer.receivedLines().isEmpty() && session.peer.receivedLines().constLast() == "version",
                             waitMs);
    session.peer.send("v\r\nEND\r\n");
    QCOMPARE(session.sync(), QStringList{"versionResponse v\r\n|END\r\n"});
}

QTEST_GUILESS_MAIN(TestOpenVpnManagement)
#include "tst_openvpnmanagement.moc"
