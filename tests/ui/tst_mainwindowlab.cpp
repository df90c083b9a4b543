#include "management/qttelnet.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "support/openvpnlab.h"
#include "ui/clientlistview.h"
#include "ui/clientstatuswidget.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace {

// The management interface of this test's server; the window always uses port 11110.
const QString managementAddress = QStringLiteral("127.0.0.44");
constexpr int pollMs = 3000;
const QString initialised = QStringLiteral("Initialization Sequence Completed");
// The second client's certificate name: not ASCII, so that it travels as UTF-8 both ways.
const QString polishName = QStringLiteral(u"Za\u017c\u00f3\u0142\u0107 G\u0119\u015b");

QString label(const QWidget *panel, const char *name)
{
    return panel->findChild<QLabel *>(QLatin1String(name))->text();
}

QStringList names(const ClientListView *list)
{
    QStringList result = list->clientNames();
    result.sort();
    return result;
}

ClientStatusWidget *panelOf(const ClientListView *list, const QString &name)
{
    const int row = int(list->clientNames().indexOf(name));
    return row < 0 ? nullptr : list->panelAt(row);
}

QList<QPointer<QWidget>> panels(const ClientListView *tree)
{
    QList<QPointer<QWidget>> result;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        result.append(tree->panelAt(i));
    return result;
}

} // namespace

// The window against a real OpenVPN server with two real clients over tun on loopback, and
// against a real OpenVPN whose management interface asks for a password.
class tst_MainWindowLab : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_MainWindowLab() : MainWindowFixture(managementAddress, NoPeer) {}

private slots:
    void serverWithTwoClients();
    void clientWithAColonInItsName();
    void clientsNamedByTheirBytes();
    // The router's OpenVPN killed with SIGKILL and started again on the same ports.
    void openVpnKilledAndRestarted();
    void managementPassword_data();
    void managementPassword();

private:
    void init() override;
    void cleanup() override;
    // Starts the server, its management interface waiting for a hold release, and two tun
    // clients ("client1" and polishName) with these extra options, and sets the window to
    // server mode with the automatic hold release on.
    bool startLab(const QStringList &clientOptions);

    std::unique_ptr<OpenVpnLab> lab;
    OpenVpnLab::ServerOptions server;
};

void tst_MainWindowLab::init()
{
    if (const QString reason = OpenVpnLab::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    // The management password needs no server; the rest does.
    if (QTest::currentTestFunction() != QLatin1String("managementPassword")) {
        if (const QString reason = OpenVpnLab::tunUnavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
    }
    MainWindowFixture::init();
}

void tst_MainWindowLab::cleanup()
{
    MainWindowFixture::cleanup();
    // Stops the processes and frees the ports for the next test.
    lab.reset();
}

bool tst_MainWindowLab::startLab(const QStringList &clientOptions)
{
    lab = std::make_unique<OpenVpnLab>();
    server = OpenVpnLab::ServerOptions();
    server.management.address = managementAddress;
    server.management.port = 11110;
    server.management.hold = true;
    OpenVpnLab::ClientOptions client;
    client.tun = true;
    client.management.enabled = false;
    client.extraOptions = clientOptions;
    bool started = lab->startServer(server);
    for (const QString &name : {QStringLiteral("client1"), polishName}) {
        client.commonName = name;
        started = started && lab->startClient(client);
    }
    if (!started) {
        qWarning("%s", qPrintable(lab->errorString()));
        return false;
    }
    server.port = lab->instance(QStringLiteral("server"))->port;

    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QSettings().setValue(QStringLiteral("AutoHoldRelease"), true);
    return true;
}

void tst_MainWindowLab::serverWithTwoClients()
{
    QVERIFY(startLab({QStringLiteral("route-nopull")}));

    QVERIFY(show());

    // The hold is released without a click and the server comes up.
    auto *state = window->findChild<QLabel *>(QStringLiteral("stateLabel"));
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("State: <b>Connected</b>"), 30000);
    QVERIFY(!window->findChild<QPushButton *>(QStringLiteral("holdReleaseButton"))->isEnabled());

    ClientListView *tree = showClients();
    // In the order names() gives.
    const QStringList both{polishName, QStringLiteral("client1")};
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), both, 60000);
    const QRegularExpression real(QStringLiteral("^Real address: (udp4:)?127\\.0\\.0\\.1:\\d+$"));
    const QRegularExpression vpn(QStringLiteral("^VPN address: 10\\.\\d+\\.\\d+\\.\\d+$"));
    const QRegularExpression connected(QStringLiteral("^Connected: \\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    for (const QString &name : both) {
        ClientStatusWidget *panel = panelOf(tree, name);
        QVERIFY(panel);
        QCOMPARE(label(panel, "titleLabel"), QStringLiteral("<h2 style=\"color: #0080FF\">%1</h2>").arg(name));
        QVERIFY2(real.match(label(panel, "realAddressLabel")).hasMatch(), qPrintable(label(panel, "realAddressLabel")));
        QVERIFY2(vpn.match(label(panel, "vpnAddressLabel")).hasMatch(), qPrintable(label(panel, "vpnAddressLabel")));
        QVERIFY2(connected.match(label(panel, "connectedLabel")).hasMatch(), qPrintable(label(panel, "connectedLabel")));
        // The handshake alone moves bytes both ways.
        QTRY_VERIFY_WITH_TIMEOUT(label(panel, "sentLabel").mid(int(qstrlen("Sent bytes: "))).toLongLong() > 0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(label(panel, "receivedLabel").mid(int(qstrlen("Received bytes: "))).toLongLong() > 0, 10000);
    }
    // The log shows what OpenVPN reported, time-stamped.
    const QString log = window->findChild<QTextEdit *>(QStringLiteral("terminal"))->toPlainText();
    QVERIFY(log.contains(QStringLiteral("Initialization Sequence Completed")));
    QVERIFY(log.startsWith(QLatin1Char('[')));

    // The name goes back to OpenVPN as the bytes it came as: the client is really gone.
    dialogs->answerButton(QMessageBox::Yes);
    QTest::mouseClick(panelOf(tree, polishName)->findChild<QPushButton *>(QStringLiteral("disconnectButton")),
                      Qt::LeftButton);
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(dialogs->calls.first().text, QStringLiteral("Do you really want to disconnect %1?").arg(polishName));
    // Gone within two polls, and no error came back.
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), QStringList{QStringLiteral("client1")}, 2 * pollMs);
    QCOMPARE(dialogs->calls.size(), 1);
}

// OpenVPN's kill takes a name with a colon for an address: two connections of such a client
// (its certificate allowed twice) are each dropped by their client ID, the other client stays.
void tst_MainWindowLab::clientWithAColonInItsName()
{
    const QString colonName = QStringLiteral("ops:laptop");
    lab = std::make_unique<OpenVpnLab>();
    server = OpenVpnLab::ServerOptions();
    server.management.address = managementAddress;
    server.management.port = 11110;
    server.management.hold = false;
    server.extraOptions = {QStringLiteral("duplicate-cn")};
    QVERIFY2(lab->startServer(server), qPrintable(lab->errorString()));
    OpenVpnLab::ClientOptions client;
    client.management.enabled = false;
    for (const QString &instance : {QStringLiteral("colon1"), QStringLiteral("colon2"), QStringLiteral("client1")}) {
        client.commonName = instance == QLatin1String("client1") ? instance : colonName;
        client.instanceName = instance;
        QVERIFY2(lab->startClient(client), qPrintable(lab->errorString()));
    }
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QVERIFY(show());
    ClientListView *tree = showClients();
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), (QStringList{QStringLiteral("client1"), colonName}), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(tree->clientIds(colonName).size(), 2, 60000);
    const QList<qint64> before = tree->clientIds(colonName);
    const QList<qint64> otherBefore = tree->clientIds(QStringLiteral("client1"));

    dialogs->answerButton(QMessageBox::Yes);
    QTest::mouseClick(panelOf(tree, colonName)->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    // Both connections go (OpenVPN tells the clients to restart, so they may come back under
    // new IDs); no error came back. Unlike kill by name, client-kill leaves a connection in the
    // status for about five seconds after telling its client to restart (measured 5.9 to 6.1 s
    // until the next poll no longer lists it, on an idle machine), so the bound is that delay,
    // the poll that finds it gone, and two polls of slack for a busy machine.
    constexpr int clientKillExitMs = 5000;
    QTRY_VERIFY_WITH_TIMEOUT(!tree->clientIds(colonName).contains(before.first())
                                 && !tree->clientIds(colonName).contains(before.last()),
                             clientKillExitMs + 3 * pollMs);
    QVERIFY(lab->waitForLog(QStringLiteral("colon1"), QStringLiteral("server-pushed-connection-reset")));
    QVERIFY(lab->waitForLog(QStringLiteral("colon2"), QStringLiteral("server-pushed-connection-reset")));
    QCOMPARE(tree->clientIds(QStringLiteral("client1")), otherBefore);
    QCOMPARE(dialogs->calls.size(), 1);
}

// Clients named by the user names they log in with, as bytes: the UTF-8 name "café" with a
// combining grapheme joiner after it, and "café" in Latin-1. They are two rows, shown apart,
// and each Disconnect drops its own client and no other.
void tst_MainWindowLab::clientsNamedByTheirBytes()
{
    const QByteArray utf8Name = "caf\xc3\xa9\xcd\x8f";
    const QByteArray latin1Name = "caf\xe9";
    lab = std::make_unique<OpenVpnLab>();
    server = OpenVpnLab::ServerOptions();
    server.management.address = managementAddress;
    server.management.port = 11110;
    server.management.hold = false;
    server.recordCredentials = true;
    server.extraOptions = {QStringLiteral("username-as-common-name")};
    QVERIFY2(lab->startServer(server), qPrintable(lab->errorString()));
    OpenVpnLab::ClientOptions client;
    client.management.enabled = false;
    client.authUserPass = true;
    client.password = "pw";
    for (const QByteArray &user : {utf8Name, latin1Name}) {
        client.instanceName = QString::fromLatin1(user.toHex());
        client.username = user;
        QVERIFY2(lab->startClient(client), qPrintable(lab->errorString()));
    }
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QVERIFY(show());
    ClientListView *tree = showClients();
    const auto bytesOfRows = [&] {
        QList<QByteArray> rows;
        for (const QString &name : tree->clientNames())
            rows.append(QtTelnet::bytesFromLine(name));
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    QTRY_COMPARE_WITH_TIMEOUT(bytesOfRows(), (QList<QByteArray>{utf8Name, latin1Name}), 60000);
    const auto panelOfBytes = [&](const QByteArray &bytes) -> ClientStatusWidget * {
        const QStringList names = tree->clientNames();
        for (int row = 0; row < names.size(); ++row) {
            if (QtTelnet::bytesFromLine(names.at(row)) == bytes)
                return tree->panelAt(row);
        }
        return nullptr;
    };
    QCOMPARE(label(panelOfBytes(utf8Name), "titleLabel"), QStringLiteral(u"<h2 style=\"color: #0080FF\">caf\u00e9\\u034F</h2>"));
    QCOMPARE(label(panelOfBytes(latin1Name), "titleLabel"), QStringLiteral("<h2 style=\"color: #0080FF\">caf\\xE9</h2>"));

    // The Latin-1 one first: the other stays.
    dialogs->answerButton(QMessageBox::Yes);
    QTest::mouseClick(panelOfBytes(latin1Name)->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bytesOfRows(), QList<QByteArray>{utf8Name}, 2 * pollMs);
    dialogs->answerButton(QMessageBox::Yes);
    QTest::mouseClick(panelOfBytes(utf8Name)->findChild<QPushButton *>(QStringLiteral("disconnectButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bytesOfRows(), QList<QByteArray>{}, 2 * pollMs);
    QCOMPARE(dialogs->calls.size(), 2);
}

void tst_MainWindowLab::openVpnKilledAndRestarted()
{
    // The clients notice the lost server within seconds (rather than the 30 s the server
    // pushes) and go back to it when it is there again.
    QVERIFY(startLab({QStringLiteral("pull-filter ignore \"ping\""), QStringLiteral("ping 1"),
                      QStringLiteral("ping-restart 4")}));

    QVERIFY(show());
    OpenVpnManagement &management = MainWindowTestAccess::management(*window);
    auto *state = window->findChild<QLabel *>(QStringLiteral("stateLabel"));
    ClientListView *tree = showClients();
    auto *terminal = window->findChild<QTextEdit *>(QStringLiteral("terminal"));
    auto *reconnect = window->findChild<QToolButton *>(QStringLiteral("reconnectButton"));
    // In the order names() gives.
    const QStringList both{polishName, QStringLiteral("client1")};

    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("State: <b>Connected</b>"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), both, 60000);
    QTRY_VERIFY(terminal->toPlainText().contains(initialised));
    QVERIFY(settle());
    QVERIFY(dialogs->calls.isEmpty());

    // OpenVPN dies at once, without a word to anyone.
    const QString logBefore = terminal->toPlainText();
    const QList<QPointer<QWidget>> panelsBefore = panels(tree);
    QSignalSpy disconnected(&management, &OpenVpnManagement::disconnected);
    lab->kill(QStringLiteral("server"));
    QTRY_COMPARE(dialogs->calls.size(), 1);
    QCOMPARE(dialogs->calls.first().icon, QMessageBox::Critical);
    QCOMPARE(dialogs->calls.first().title, QStringLiteral("Network socket error"));
    QCOMPARE(dialogs->calls.first().text, QtTelnet::errorText(QAbstractSocket::RemoteHostClosedError));
    QTRY_COMPARE(disconnected.size(), 1);
    QVERIFY(reconnect->isVisible());
    QVERIFY(!MainWindowTestAccess::statusTimer(*window).isActive());
    // The window no longer knows the VPN's state and says so; the log and the client list
    // stay as they were last seen.
    QCOMPARE(state->text(), QStringLiteral("State: <b>Unknown</b>"));
    // (Lines OpenVPN wrote just before it died may still have come in.)
    QVERIFY(terminal->toPlainText().startsWith(logBefore));
    const QString logAtDeath = terminal->toPlainText();
    QCOMPARE(names(tree), both);
    QCOMPARE(panels(tree), panelsBefore);

    // Nothing more happens by itself: no polling, no time-out question, no new attempt.
    QTest::qWait(3500);
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(terminal->toPlainText(), logAtDeath);
    QCOMPARE(panels(tree), panelsBefore);
    QCOMPARE(management.state(), OpenVpnManagement::StateUndefined);

    // Reconnecting while it is down: refused, and the button stays (once).
    QTest::mouseClick(reconnect, Qt::LeftButton);
    QTRY_COMPARE(dialogs->calls.size(), 2);
    QCOMPARE(dialogs->calls.last().title, QStringLiteral("Network socket error"));
    QCOMPARE(dialogs->calls.last().text, QtTelnet::errorText(QAbstractSocket::ConnectionRefusedError));
    QVERIFY(reconnect->isVisible());
    QCOMPARE(terminal->toPlainText(), logAtDeath);

    // OpenVPN is back on the same ports, waiting for its hold release.
    QVERIFY2(lab->startServer(server), qPrintable(lab->errorString()));
    QString logAtConnect = QStringLiteral("not connected");
    int rowsAtConnect = -1;
    connect(&management, &OpenVpnManagement::managementConnected, this, [&] {
        logAtConnect = terminal->toPlainText();
        rowsAtConnect = tree->topLevelItemCount();
    });
    QTest::mouseClick(reconnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("State: <b>Connected</b>"), 30000);
    QCOMPARE(logAtConnect, QString());
    QCOMPARE(rowsAtConnect, 0);
    QVERIFY(!reconnect->isVisible());
    QVERIFY(MainWindowTestAccess::statusTimer(*window).isActive());
    // The log is the new server's own history: one start, not two.
    QTRY_VERIFY(terminal->toPlainText().contains(initialised));
    QCOMPARE(terminal->toPlainText().count(initialised), 1);
    // The clients find the new server and the list fills again with new rows.
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), both, 60000);
    // Each new row's panel shows its own client.
    for (const QString &name : both) {
        ClientStatusWidget *panel = panelOf(tree, name);
        QVERIFY(panel);
        QCOMPARE(label(panel, "titleLabel"), QStringLiteral("<h2 style=\"color: #0080FF\">%1</h2>").arg(name));
    }
    QCOMPARE(dialogs->calls.size(), 2);
}

void tst_MainWindowLab::managementPassword_data()
{
    // The passwords typed, in turn; an empty one stands for Cancel.
    QTest::addColumn<QStringList>("typed");
    // How it ends: "connected", "cancelled" or "refused" (OpenVPN gives up after three).
    QTest::addColumn<QString>("outcome");
    QTest::newRow("wrong, wrong, right") << QStringList{"wrong", "wrong too", "right pw"} << "connected";
    QTest::newRow("wrong, then Cancel") << QStringList{"wrong", ""} << "cancelled";
    QTest::newRow("wrong three times") << QStringList{"wrong", "wrong too", "wrong again"} << "refused";
}

// OpenVPN asks again after a wrong management password; the prompt says why. Cancel closes
// the connection as any lost one; after three wrong ones the user is told what happened.
void tst_MainWindowLab::managementPassword()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, outcome);
    lab = std::make_unique<OpenVpnLab>();
    OpenVpnLab::ClientOptions options;
    options.management.address = managementAddress;
    options.management.port = 11110;
    options.management.password = QStringLiteral("right pw");
    const OpenVpnLab::Instance *client = lab->startClient(options);
    QVERIFY2(client, qPrintable(lab->errorString()));
    for (const QString &password : std::as_const(typed)) {
        if (password.isEmpty())
            dialogs->cancel();
        else
            dialogs->answerText(password);
    }

    QVERIFY(show());
    auto *reconnect = window->findChild<QToolButton *>(QStringLiteral("reconnectButton"));
    const auto prompts = [&] { return dialogs->callsOf(ScriptedDialogs::Text); };
    QTRY_COMPARE_WITH_TIMEOUT(prompts().size(), typed.size(), 30000);
    const QString asked = QStringLiteral("Management interface password:");
    const QString askedAgain = QStringLiteral("The previous password was wrong.\nManagement interface password:");
    for (int i = 0; i < typed.size(); ++i)
        QCOMPARE(prompts().at(i).text, i == 0 ? asked : askedAgain);

    if (outcome == QLatin1String("connected")) {
        // Past the password: OpenVPN waits for its hold release.
        QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QPushButton *>(QStringLiteral("holdReleaseButton"))->isEnabled(), 30000);
        QVERIFY(!reconnect->isVisible());
        QCOMPARE(dialogs->calls.size(), typed.size());
        return;
    }
    QVERIFY(lab->waitForLog(client->name, QStringLiteral("MANAGEMENT: Client disconnected")));
    QTRY_VERIFY(reconnect->isVisible());
    if (outcome == QLatin1String("cancelled")) {
        // A close the user asked for: no error to show.
        QCOMPARE(dialogs->calls.size(), typed.size());
    } else {
        QTRY_COMPARE(dialogs->calls.size(), typed.size() + 1);
        QCOMPARE(dialogs->calls.last().title, QStringLiteral("Network socket error"));
        QCOMPARE(dialogs->calls.last().text,
                 QStringLiteral("OpenVPN did not accept the management interface password and closed the connection."));
    }
    QVERIFY(!window->findChild<QPushButton *>(QStringLiteral("vpnRestartButton"))->isEnabled());
}

QTEST_MAIN(tst_MainWindowLab)
#include "tst_mainwindowlab.moc"
