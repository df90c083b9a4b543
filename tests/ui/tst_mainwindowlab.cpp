#include "ui/mainwindow.h"

#include "support/mainwindowtestaccess.h"
#include "support/openvpnlab.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "ui/clientstatuswidget.h"
#include "update/updateaction.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include <memory>

namespace {

// The management interface of this test's server; the window always uses port 11110.
const QString managementAddress = QStringLiteral("127.0.0.44");
constexpr int pollMs = 3000;

QString label(const QWidget *panel, const char *name)
{
    return panel->findChild<QLabel *>(QLatin1String(name))->text();
}

QStringList names(QTreeWidget *tree)
{
    QStringList result;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        result.append(tree->topLevelItem(i)->data(0, Qt::UserRole + 1).toString());
    result.sort();
    return result;
}

ClientStatusWidget *panelOf(QTreeWidget *tree, const QString &name)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        if (item->data(0, Qt::UserRole + 1).toString() == name)
            return qobject_cast<ClientStatusWidget *>(tree->itemWidget(item, 0));
    }
    return nullptr;
}

} // namespace

// The window against a real OpenVPN server with two real clients over tun on loopback.
class tst_MainWindowLab : public QObject
{
    Q_OBJECT

private slots:
    void serverWithTwoClients();
};

void tst_MainWindowLab::serverWithTwoClients()
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
    client.extraOptions = QStringList{QStringLiteral("route-nopull")};
    QVERIFY2(lab.startServerWithClients(server, 2, client), qPrintable(lab.errorString()));

    QSettings().setValue(QStringLiteral("ip"), managementAddress);
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QSettings().setValue(QStringLiteral("AutoHoldRelease"), true);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The hold is released without a click and the server comes up.
    auto *state = window.findChild<QLabel *>(QStringLiteral("stateLabel"));
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("State: <b>Connected</b>"), 30000);
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("holdReleaseButton"))->isEnabled());

    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("clientsTree"));
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), QStringList({QStringLiteral("client1"), QStringLiteral("client2")}), 60000);
    const QRegularExpression real(QStringLiteral("^Real address: (udp4:)?127\\.0\\.0\\.1:\\d+$"));
    const QRegularExpression vpn(QStringLiteral("^VPN address: 10\\.\\d+\\.\\d+\\.\\d+$"));
    const QRegularExpression connected(QStringLiteral("^Connected: \\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    for (const QString &name : {QStringLiteral("client1"), QStringLiteral("client2")}) {
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
    const QString log = window.findChild<QTextEdit *>(QStringLiteral("terminal"))->toPlainText();
    QVERIFY(log.contains(QStringLiteral("Initialization Sequence Completed")));
    QVERIFY(log.startsWith(QLatin1Char('[')));

    dialogs.answerButton(QMessageBox::Yes);
    QTest::mouseClick(panelOf(tree, QStringLiteral("client1"))->findChild<QPushButton *>(QStringLiteral("disconnectButton")),
                      Qt::LeftButton);
    QCOMPARE(dialogs.calls.size(), 1);
    QCOMPARE(dialogs.calls.first().text, QStringLiteral("Do you really want to disconnect client1?"));
    // Gone within two polls.
    QTRY_COMPARE_WITH_TIMEOUT(names(tree), QStringList{QStringLiteral("client2")}, 2 * pollMs);
}

QTEST_MAIN(tst_MainWindowLab)
#include "tst_mainwindowlab.moc"
