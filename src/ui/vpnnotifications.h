#pragma once

#include "management/openvpnmanagement.h"
#include "ui/desktopnotifier.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

class AccessibleAnnouncer;
class ClientListView;
class QWidget;

// What the desktop is told while the window is not the active window: the VPN becoming
// Connected, Reconnecting or Exiting, the management connection lost, and, in server mode,
// the clients that came and went between two status answers, all in one notification per
// answer. While the window is active the same is announced to assistive technology instead:
// a screen reader's user does not see the window either. Nothing while switched off.
class VpnNotifications final : public QObject
{
    Q_OBJECT

public:
    // Watches `window` for being the active window.
    explicit VpnNotifications(QWidget *window, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(VpnNotifications)

    void setEnabled(bool on);
    bool isEnabled() const { return enabled; }

    void managementConnected();
    // A loss reported more than once (an error, then the end of the connection) is told once.
    void managementLost();
    void stateChanged(OpenVpnManagement::VpnState state);
    // The client list after a status answer. The first answer after a connection, or after
    // the server mode or the notifications were switched on, only tells who is there.
    void clientsListed(const ClientListView &list, bool serverMode);

    // The body of the notification about clients that came and went; empty when none did.
    static QString clientsText(const QStringList &connected, const QStringList &disconnected);

private:
    void notify(const QString &summary, const QString &body);
    // The next status answer only tells who is there.
    void forgetClients();
    static QString nameList(const QStringList &names);
    static QString routerText();

    QPointer<QWidget> window;
    // A child of the window; nullptr without a window.
    AccessibleAnnouncer *announcer = nullptr;
    DesktopNotifier sender;
    bool enabled = true;
    bool connectionUp = false;
    // The clients of the last status answer, while they are followed.
    QSet<QString> clients;
    bool clientsKnown = false;
};
