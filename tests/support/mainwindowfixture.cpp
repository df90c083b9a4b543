#include "support/mainwindowfixture.h"

#include "router/pylonvpnhttpadmin.h"
#include "support/mainwindowtestaccess.h"
#include "support/updatecheckoff.h"
#include "ui/clientlistview.h"

#include <QAction>
#include <QApplication>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

#include <ctime>

const QStringList MainWindowFixture::startupCommands{QStringLiteral("state"), QStringLiteral("state on all"),
                                                     QStringLiteral("log on all"), QStringLiteral("status 2")};

MainWindowFixture::MainWindowFixture(const QString &routerAddress, Peer peerKind)
    : fixtureRouterAddress(routerAddress), fixturePeer(peerKind)
{
}

void MainWindowFixture::initTestCase()
{
    qputenv("TZ", "PYL-02");
    tzset();
}

void MainWindowFixture::init()
{
    settings.clear();
    pointUpdateCheckAtClosedPort();
    dialogs = std::make_unique<ScriptedDialogs>();
    if (fixtureRouterAddress.isEmpty())
        return;
    QSettings().setValue(QStringLiteral("ip"), fixtureRouterAddress);
    if (fixturePeer == ScriptedPeer) {
        peer = std::make_unique<ScriptedOpenVpnPeer>(QHostAddress(fixtureRouterAddress));
        QVERIFY2(peer->isListening(), qPrintable(peer->errorString()));
    }
}

void MainWindowFixture::cleanup()
{
    window.reset();
    peer.reset();
    dialogs.reset();
    PylonVpnHttpAdmin::setPortForTesting(0);
    PylonVpnHttpAdmin::setTransferTimeoutForTesting(0);
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

MainWindow &MainWindowFixture::makeWindow()
{
    window.reset();
    window = std::make_unique<MainWindow>();
    return *window;
}

bool MainWindowFixture::show()
{
    if (!window)
        makeWindow();
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
}

ClientListView *MainWindowFixture::showClients()
{
    auto *list = child<ClientListView>(*window, "clientsTree");
    auto *page = child<QWidget>(*window, "clientsPage");
    auto *tabs = child<QTabWidget>(*window, "tabWidget");
    auto *serverMode = child<QAction>(*window, "serverAction");
    if (!list || !page || !tabs || !serverMode)
        return nullptr;
    // Only the server mode has the tab.
    if (tabs->indexOf(page) < 0)
        serverMode->trigger();
    tabs->setCurrentWidget(page);
    return list;
}

bool MainWindowFixture::open()
{
    if (!show())
        return false;
    if (!QTest::qWaitFor([&] { return peer->receivedOnConnection.size() >= startupCommands.size(); }, 5000))
        return false;
    return settle();
}

bool MainWindowFixture::settle(int timeoutMs)
{
    return MainWindowTestAccess::settle(*window, timeoutMs);
}

QString MainWindowFixture::logText() const
{
    return child<QTextEdit>(*window, "terminal")->toPlainText();
}
