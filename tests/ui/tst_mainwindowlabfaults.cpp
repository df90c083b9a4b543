#include "ui/mainwindow.h"

#include "support/mainwindowtestaccess.h"
#include "support/openvpnlab.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "ui/clientstatuswidget.h"
#include "update/updateaction.h"

#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

namespace {

// The management interface of this test's server; the window always uses port 11110.
const QString managementAddress = QStringLiteral("127.0.0.52");
const QString initialised = QStringLiteral("Initialization Sequence Completed");

QStringList names(QTreeWidget *tree)
{
    QStringList result;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        result.append(tree->topLevelItem(i)->data(0, Qt::UserRole + 1).toString());
    result.sort();
    return result;
}

QList<QPointer<QWidget>> panels(QTreeWidget *tree)
{
    QList<QPointer<QWidget>> result;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        result.append(tree->itemWidget(tree->topLevelItem(i), 0));
    return result;
}

} // namespace

// The window while the router's OpenVPN dies and comes back: a real server over tun with two
// real clients, killed with SIGKILL and started again on the same ports.
class tst_MainWindowLabFaults : public QObject
{
    Q_OBJECT

private slots:
    void openVpnKilledAndRestarted();
};

void tst_MainWindowLabFaults::openVpnKilledAndRestarted()
{
    if (const QString reason = OpenVpnLab::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (const QString reason = OpenVpnLab::tunUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));

    TestSettings settings;
    ScriptedDialogs dialogs;
    UpdateAction::setHostForTesting(QStringLiteral("127.0.0.1"));
    UpdateAction::setPortForTesting(1);

    OpenVpnLab lab;
    OpenVpnLab::ServerOptions server;
    server.management.address = managementAddress;
    server.management.port = 11110;
    server.management.hold = true;
    OpenVpnLab::ClientOptions client;
    client.tun = true;
    client.management.enabled = false;
    // The clients notice the lost server within seconds (rather than the 30 s the server
    // pushes) and go back to it when it is there again.
    client.extraOptions = QStringList{QStringLiteral("pull-filter ignore \"ping\""), QStringLiteral("ping 1"),
                                      QStringLiteral("ping-restart 4")};
    QVERIFY2(lab.startServerWithClients(server, 2, client), qPrintable(lab.errorString()));
    server.port = lab.instance(QStringLiteral("server"))->port;

    QSettings().setValue(QStringLiteral("ip"), managementAddress);
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QSettings().setValue(QStringLiteral("AutoHoldRelease"), true);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    OpenVpnManagement &management = MainWindowTestAccess::management(window);
    auto *state = window.findChild<QLabel *>(QStringLiteral("stateLabel"));
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("clientsTree"));
    auto *terminal = window.findChild<QTextEdit *>(QStringLiteral("terminal"));
    auto *reconnect = window.findChild<QToolButton *>(QStringLiteral("reconnectButton"));
    const QStringList both{QStringLiteral("client1"), QStringLiteral("client2")};

    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("State: <b>Connected</b>"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), both, 60000);
    QTRY_VERIFY(terminal->toPlainText().contains(initialised));
    QVERIFY(MainWindowTestAccess::settle(window));
    QVERIFY(dialogs.calls.isEmpty());

    // OpenVPN dies at once, without a word to anyone.
    const QString logBefore = terminal->toPlainText();
    const QList<QPointer<QWidget>> panelsBefore = panels(tree);
    QSignalSpy disconnected(&management, &OpenVpnManagement::disconnected);
    lab.kill(QStringLiteral("server"));
    QTRY_COMPARE(dialogs.calls.size(), 1);
    QCOMPARE(dialogs.calls.first().icon, QMessageBox::Critical);
    QCOMPARE(dialogs.calls.first().title, QStringLiteral("Network socket error"));
    QCOMPARE(dialogs.calls.first().text, QtTelnet::errorText(QAbstractSocket::RemoteHostClosedError));
    QTRY_COMPARE(disconnected.size(), 1);
    QVERIFY(reconnect->isVisible());
    QVERIFY(!MainWindowTestAccess::statusTimer(window).isActive());
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
    QCOMPARE(dialogs.calls.size(), 1);
    QCOMPARE(terminal->toPlainText(), logAtDeath);
    QCOMPARE(panels(tree), panelsBefore);
    QCOMPARE(management.state(), OpenVpnManagement::StateUndefined);

    // Reconnecting while it is down: refused, and the button stays (once).
    QTest::mouseClick(reconnect, Qt::LeftButton);
    QTRY_COMPARE(dialogs.calls.size(), 2);
    QCOMPARE(dialogs.calls.last().title, QStringLiteral("Network socket error"));
    QCOMPARE(dialogs.calls.last().text, QtTelnet::errorText(QAbstractSocket::ConnectionRefusedError));
    QVERIFY(reconnect->isVisible());
    QCOMPARE(terminal->toPlainText(), logAtDeath);

    // OpenVPN is back on the same ports, waiting for its hold release.
    QVERIFY2(lab.startServer(server), qPrintable(lab.errorString()));
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
    QVERIFY(MainWindowTestAccess::statusTimer(window).isActive());
    // The log is the new server's own history: one start, not two.
    QTRY_VERIFY(terminal->toPlainText().contains(initialised));
    QCOMPARE(terminal->toPlainText().count(initialised), 1);
    // The clients find the new server and the list fills again with new rows.
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), both, 60000);
    for (const QPointer<QWidget> &old : panelsBefore)
        QVERIFY(old.isNull());
    for (QWidget *panel : panels(tree))
        QVERIFY(qobject_cast<ClientStatusWidget *>(panel));
    QCOMPARE(dialogs.calls.size(), 2);
}

QTEST_MAIN(tst_MainWindowLabFaults)
#include "tst_mainwindowlabfaults.moc"
