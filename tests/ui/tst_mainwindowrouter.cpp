#include "router/pylonvpnhttpadmin.h"
#include "support/fakehttpserver.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "support/secretstorelab.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

namespace {

// This test's own loopback addresses: the router, and the router after a change of address.
const QString routerAddress = QStringLiteral("127.0.0.43");
const QString otherAddress = QStringLiteral("127.0.0.45");

const QString noticeText = QStringLiteral("No secret store: the router password is kept in the settings file.");

// The router's web interface: every login is taken.
void answerAsLuci(FakeHttpServer &luci)
{
    luci.setHandler([](const FakeHttpServer::Request &request) {
        FakeHttpServer::Response response;
        if (request.path() == "/cgi-bin/luci")
            response.addHeader("Set-Cookie", "sysauth=9f8e7d; path=/cgi-bin/luci/;stok=5");
        return response;
    });
}

QVariant inSettingsFile()
{
    return QSettings().value(QStringLiteral("password"));
}

} // namespace

class tst_MainWindowRouter : public MainWindowFixture
{
    Q_OBJECT

private slots:
    void routerCommand_data();
    void routerCommand();
    void routerCommandError_data();
    void routerCommandError();
    void vpnRestart();
    void setIpAddressOffers_data();
    void setIpAddressOffers();
    void setIpAddressCancelled();
    void setIpAddressReconnects_data();
    void setIpAddressReconnects();
    void setFtpPass_data();
    void setFtpPass();
    void routerPassword_data();
    void routerPassword();
    void passwordMovedAtStart();
};

void tst_MainWindowRouter::routerCommand_data()
{
    QTest::addColumn<QByteArray>("buttonName");
    QTest::addColumn<QVariant>("password");
    QTest::addColumn<QByteArray>("commandPath");

    QTest::newRow("router restart") << QByteArray("restartButton") << QVariant(QStringLiteral("r0uter+pw &=#%"))
                                    << QByteArray("/cgi-bin/luci/;stok=5/mini/system/reboot");
    QTest::newRow("firewall restart") << QByteArray("fwRestartButton") << QVariant(QStringLiteral("zażółć gęślą"))
                                      << QByteArray("/cgi-bin/luci/;stok=5/admin/status/iptables");
    QTest::newRow("no password stored") << QByteArray("fwRestartButton") << QVariant()
                                        << QByteArray("/cgi-bin/luci/;stok=5/admin/status/iptables");
}

void tst_MainWindowRouter::routerCommand()
{
    QFETCH(QByteArray, buttonName);
    QFETCH(QVariant, password);
    QFETCH(QByteArray, commandPath);

    FakeHttpServer luci;
    answerAsLuci(luci);
    PylonVpnHttpAdmin::setPortForTesting(luci.port());
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    if (password.isValid())
        QSettings().setValue(QStringLiteral("password"), password);
    makeWindow();

    child<QPushButton>(*window, buttonName.constData())->click();
    // Busy until the router has answered.
    QVERIFY(!window->isEnabled());
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    QTRY_VERIFY(window->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(luci.requests.size(), 2);
    const FakeHttpServer::Request login = luci.requests.at(0);
    QCOMPARE(login.method, QByteArray("POST"));
    QCOMPARE(login.path(), QByteArray("/cgi-bin/luci"));
    QCOMPARE(login.queryItem("username"), QByteArray("root"));
    QCOMPARE(QString::fromUtf8(login.queryItem("password")), password.toString());
    QVERIFY(login.header("Host").startsWith("127.0.0.1"));
    const FakeHttpServer::Request command = luci.requests.at(1);
    QCOMPARE(command.method, QByteArray("POST"));
    QCOMPARE(command.path(), commandPath);
    QCOMPARE(command.queryItem("reboot"), QByteArray("1"));
    QCOMPARE(command.header("Cookie"), QByteArray("sysauth=9f8e7d; path=/cgi-bin/luci/;stok=5"));
    QVERIFY(dialogs->calls.isEmpty());
}

void tst_MainWindowRouter::routerCommandError_data()
{
    QTest::addColumn<QByteArray>("buttonName");
    QTest::addColumn<bool>("refused");
    QTest::newRow("router restart, server error") << QByteArray("restartButton") << false;
    QTest::newRow("firewall restart, server error") << QByteArray("fwRestartButton") << false;
    QTest::newRow("firewall restart, nothing listens") << QByteArray("fwRestartButton") << true;
}

void tst_MainWindowRouter::routerCommandError()
{
    QFETCH(QByteArray, buttonName);
    QFETCH(bool, refused);

    FakeHttpServer luci;
    luci.setHandler([](const FakeHttpServer::Request &) {
        FakeHttpServer::Response response;
        response.status = 500;
        return response;
    });
    PylonVpnHttpAdmin::setPortForTesting(refused ? FakeHttpServer::closedPort() : luci.port());
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    makeWindow();

    bool enabledAtBox = false;
    bool cursorRestoredAtBox = false;
    dialogs->onCall = [&](const ScriptedDialogs::Call &) {
        enabledAtBox = window->isEnabled();
        cursorRestoredAtBox = !QApplication::overrideCursor();
    };
    child<QPushButton>(*window, buttonName.constData())->click();
    QVERIFY(!window->isEnabled());
    QTRY_COMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.icon, QMessageBox::Critical);
    QCOMPARE(call.title, QStringLiteral("Error"));
    QCOMPARE(call.text, QStringLiteral("Command error!"));
    QCOMPARE(call.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(enabledAtBox);
    QVERIFY(cursorRestoredAtBox);
    QVERIFY(window->isEnabled());
    QCOMPARE(luci.requests.size(), refused ? 0 : 1);
}

void tst_MainWindowRouter::vpnRestart()
{
    ScriptedOpenVpnPeer peer{QHostAddress(routerAddress)};
    QVERIFY(peer.isListening());
    QSettings().setValue(QStringLiteral("ip"), routerAddress);
    makeWindow();
    QVERIFY(show());
    auto *restart = child<QPushButton>(*window, "vpnRestartButton");
    QTRY_VERIFY(restart->isEnabled());
    QTRY_COMPARE(peer.receivedOnConnection.size(), 4);
    QSignalSpy answered(&MainWindowTestAccess::management(*window), &OpenVpnManagement::sigusr1Response);

    QTest::mouseClick(restart, Qt::LeftButton);
    // No busy state: the command goes through the management connection.
    QVERIFY(window->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(answered.wait(5000));
    QCOMPARE(peer.receivedOnConnection.last(), QStringLiteral("signal SIGUSR1"));
    QCOMPARE(peer.receivedOnConnection.count(QStringLiteral("signal SIGUSR1")), 1);
    QVERIFY(dialogs->calls.isEmpty());
}

void tst_MainWindowRouter::setIpAddressOffers_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("offered");
    QTest::newRow("nothing stored") << QVariant() << "localhost";
    QTest::newRow("an address stored") << QVariant(QStringLiteral("192.168.1.1")) << "192.168.1.1";
    QTest::newRow("an empty address stored") << QVariant(QString()) << "";
}

void tst_MainWindowRouter::setIpAddressOffers()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, offered);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("ip"), stored);
    makeWindow();
    dialogs->cancel();
    child<QAction>(*window, "setIpAddressAction")->trigger();
    QCOMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Text);
    QCOMPARE(call.title, QStringLiteral("Router IP address"));
    QCOMPARE(call.text, QStringLiteral("Router IP address"));
    QCOMPARE(call.echoMode, QLineEdit::Normal);
    QCOMPARE(call.initialText, offered);
    // Cancelled: nothing changes.
    QCOMPARE(QSettings().contains(QStringLiteral("ip")), stored.isValid());
}

void tst_MainWindowRouter::setIpAddressCancelled()
{
    ScriptedOpenVpnPeer peer{QHostAddress(routerAddress)};
    QSettings().setValue(QStringLiteral("ip"), routerAddress);
    makeWindow();
    QVERIFY(show());
    QTRY_COMPARE(peer.receivedOnConnection.size(), 4);
    QSignalSpy closed(&peer, &ScriptedOpenVpnPeer::disconnected);

    dialogs->cancel();
    child<QAction>(*window, "setIpAddressAction")->trigger();
    QCOMPARE(QSettings().value(QStringLiteral("ip")).toString(), routerAddress);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("ipLabel"))->text(), QStringLiteral("<h1>%1</h1>").arg(routerAddress));
    QTest::qWait(300);
    QCOMPARE(closed.size(), 0);
    QCOMPARE(peer.connections, 1);
}

void tst_MainWindowRouter::setIpAddressReconnects_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("another router") << otherAddress;
    QTest::newRow("the same router again") << routerAddress;
    QTest::newRow("empty address") << QString();
}

void tst_MainWindowRouter::setIpAddressReconnects()
{
    QFETCH(QString, address);
    ScriptedOpenVpnPeer first{QHostAddress(routerAddress)};
    ScriptedOpenVpnPeer second{QHostAddress(otherAddress)};
    QVERIFY(first.isListening());
    QVERIFY(second.isListening());
    QSettings().setValue(QStringLiteral("ip"), routerAddress);
    makeWindow();
    QVERIFY(show());
    QTRY_COMPARE(first.receivedOnConnection.size(), 4);

    QSignalSpy firstClosed(&first, &ScriptedOpenVpnPeer::disconnected);
    dialogs->answerText(address);
    child<QAction>(*window, "setIpAddressAction")->trigger();
    QCOMPARE(dialogs->calls.first().initialText, routerAddress);
    QVERIFY(QSettings().contains(QStringLiteral("ip")));
    QCOMPARE(QSettings().value(QStringLiteral("ip")).toString(), address);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("ipLabel"))->text(), QStringLiteral("<h1>%1</h1>").arg(address));

    if (address == routerAddress) {
        QTRY_COMPARE(first.connections, 2);
        QTRY_COMPARE(first.receivedOnConnection.size(), 4);
    } else if (address == otherAddress) {
        QVERIFY(firstClosed.wait(5000));
        QTRY_COMPARE(second.receivedOnConnection.size(), 4);
        QCOMPARE(second.connections, 1);
        QCOMPARE(first.connections, 1);
    } else {
        // An empty host cannot be reached: the old connection is gone and the error is shown.
        QVERIFY(firstClosed.wait(5000));
        QTRY_COMPARE(dialogs->calls.size(), 2);
        QCOMPARE(dialogs->calls.last().title, QStringLiteral("Network socket error"));
    }
}

void tst_MainWindowRouter::setFtpPass_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVariant>("storedAfter");
    QTest::newRow("new password") << QVariant(QStringLiteral("old")) << true << "n3w pass" << QVariant(QStringLiteral("n3w pass"));
    QTest::newRow("empty password") << QVariant(QStringLiteral("old")) << true << "" << QVariant(QString());
    QTest::newRow("first password") << QVariant() << true << "first" << QVariant(QStringLiteral("first"));
    QTest::newRow("cancelled") << QVariant(QStringLiteral("old")) << false << "" << QVariant(QStringLiteral("old"));
    QTest::newRow("cancelled, none stored") << QVariant() << false << "" << QVariant();
}

void tst_MainWindowRouter::setFtpPass()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, confirm);
    QFETCH(QString, typed);
    QFETCH(QVariant, storedAfter);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("password"), stored);
    makeWindow();
    if (confirm)
        dialogs->answerText(typed);
    else
        dialogs->cancel();
    child<QAction>(*window, "setFtpPassAction")->trigger();

    QCOMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Text);
    QCOMPARE(call.title, QStringLiteral("Router FTP password"));
    QCOMPARE(call.text, QStringLiteral("Router FTP password"));
    QCOMPARE(call.echoMode, QLineEdit::Password);
    // The stored password is never shown.
    QCOMPARE(call.initialText, QString());
    // Without a secret store here, in the settings file once the store has failed.
    QTRY_COMPARE(inSettingsFile(), storedAfter);
}

void tst_MainWindowRouter::routerPassword_data()
{
    QTest::addColumn<SecretStoreLab::Store>("store");
    QTest::addColumn<QVariant>("settingsBefore");
    QTest::addColumn<QVariant>("storeBefore");
    QTest::addColumn<QVariant>("typed"); // into the password dialog before the command
    QTest::addColumn<QString>("used");
    QTest::addColumn<QVariant>("settingsAfter");
    QTest::addColumn<QVariant>("storeAfter");
    QTest::addColumn<bool>("notice");

    const QVariant none;
    const QString kept = QStringLiteral("k3pt &=#%");
    const QString stored = QStringLiteral("st0red żółw");
    const QString typed = QStringLiteral("n3w pass");
    QTest::newRow("from the store") << SecretStoreLab::Keyring << none << QVariant(stored) << none << stored << none
                                    << QVariant(stored) << false;
    QTest::newRow("typed, into the store only") << SecretStoreLab::Keyring << QVariant(kept) << QVariant(stored)
                                                << QVariant(typed) << typed << none << QVariant(typed) << false;
    QTest::newRow("no bus, the settings file's") << SecretStoreLab::NoBus << QVariant(kept) << none << none << kept
                                                 << QVariant(kept) << none << true;
    QTest::newRow("no bus, typed into the settings file") << SecretStoreLab::NoBus << none << none << QVariant(typed)
                                                          << typed << QVariant(typed) << none << true;
    QTest::newRow("store fails the write, the settings file's stays")
        << SecretStoreLab::KeyringWithoutLogin << QVariant(kept) << none << none << kept << QVariant(kept) << none
        << true;
}

void tst_MainWindowRouter::routerPassword()
{
    QFETCH(SecretStoreLab::Store, store);
    QFETCH(QVariant, settingsBefore);
    QFETCH(QVariant, storeBefore);
    QFETCH(QVariant, typed);
    QFETCH(QString, used);
    QFETCH(QVariant, settingsAfter);
    QFETCH(QVariant, storeAfter);
    QFETCH(bool, notice);
    RUN_ON_SECRET_STORE(store);

    FakeHttpServer luci;
    answerAsLuci(luci);
    PylonVpnHttpAdmin::setPortForTesting(luci.port());
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    if (settingsBefore.isValid())
        QSettings().setValue(QStringLiteral("password"), settingsBefore);
    if (storeBefore.isValid())
        QVERIFY(SecretStoreLab::storePassword(storeBefore.toString()));
    makeWindow();
    QSignalSpy failures(&MainWindowTestAccess::routerPassword(*window), &RouterPasswordStore::storeFailed);
    if (typed.isValid()) {
        dialogs->answerText(typed.toString());
        child<QAction>(*window, "setFtpPassAction")->trigger();
    }

    // The second time after the store has settled, which a failing store fails again.
    for (int run = 1; run <= 2; ++run) {
        child<QPushButton>(*window, "restartButton")->click();
        QTRY_VERIFY(window->isEnabled());
        QCOMPARE(luci.requests.size(), 2 * run);
        QCOMPARE(QString::fromUtf8(luci.requests.at(2 * run - 2).queryItem("password")), used);
        QTRY_COMPARE(inSettingsFile(), settingsAfter);
        QTRY_COMPARE(SecretStoreLab::storedPassword(), storeAfter);
        QTRY_COMPARE(failures.size(), notice ? run : 0);
    }
    // Said once, in the status bar.
    const QList<QLabel *> notices = window->findChildren<QLabel *>(QStringLiteral("secretStoreNotice"));
    QCOMPARE(notices.size(), notice ? 1 : 0);
    if (notice) {
        QCOMPARE(notices.first()->text(), noticeText);
        QCOMPARE(notices.first()->parentWidget(), window->statusBar());
    }
}

void tst_MainWindowRouter::passwordMovedAtStart()
{
    RUN_ON_SECRET_STORE(SecretStoreLab::Keyring);

    const QString kept = QStringLiteral("k3pt");
    QSettings().setValue(QStringLiteral("password"), kept);
    makeWindow();
    // No router address yet: the window asks for one at start.
    dialogs->cancel();
    QVERIFY(show());
    QTRY_COMPARE(SecretStoreLab::storedPassword(), QVariant(kept));
    QTRY_COMPARE(inSettingsFile(), QVariant());
    QVERIFY(!window->findChild<QLabel *>(QStringLiteral("secretStoreNotice")));
}

QTEST_MAIN(tst_MainWindowRouter)
#include "tst_mainwindowrouter.moc"
