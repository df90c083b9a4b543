#pragma once

#include "support/scripteddialogs.h"
#include "support/scriptedopenvpnpeer.h"
#include "support/testsettings.h"
#include "ui/mainwindow.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class ClientListView;

// The child of that name and type, or nullptr.
template<typename T>
T *child(const QObject &parent, const char *name)
{
    return parent.findChild<T *>(QLatin1String(name));
}

// The base of the window's test classes, which share what they set up: a settings store of
// their own, emptied before every test; scripted dialogs, made anew for every test; the
// update question sent to a closed port; local time two hours east of UTC all year, so
// that it differs visibly from UTC; and, when a router address is given, that address
// stored as the router's before every test with a scripted OpenVPN management peer
// listening there. After every test the window, the peer and the dialogs go, and the test
// hooks of the router's web client and the override cursor are put back.
class MainWindowFixture : public QObject
{
    Q_OBJECT

public:
    enum Peer { NoPeer, ScriptedPeer };

    // What the window sends on every new management connection, in order.
    static const QStringList startupCommands;

protected:
    explicit MainWindowFixture(const QString &routerAddress = QString(), Peer peerKind = ScriptedPeer);

    // Builds the window, in place of any earlier one, without showing it.
    MainWindow &makeWindow();
    // Shows the window (built first when there is none) and waits until it is on screen.
    bool show();
    // Shows the window and waits until the start-up commands reached the peer and were
    // answered.
    bool open();
    // Returns once everything the peer sent before has been handled.
    bool settle(int timeoutMs = 5000);
    // What the log view shows.
    QString logText() const;
    // The client list, its tab brought to the front as by a user who looks at the clients
    // (in server mode, the only one with that tab): only a list on screen shows its clients'
    // panels.
    ClientListView *showClients();

    TestSettings settings;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<ScriptedOpenVpnPeer> peer;
    std::unique_ptr<MainWindow> window;

protected slots:
    virtual void initTestCase();
    virtual void init();
    virtual void cleanup();

private:
    // Named apart from the tests' own names for their addresses, which they would hide.
    const QString fixtureRouterAddress;
    const Peer fixturePeer;
};
