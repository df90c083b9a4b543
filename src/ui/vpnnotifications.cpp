#include "ui/vpnnotifications.h"

#include "common/settingskeys.h"
#include "management/peertext.h"
#include "ui/accessibleannouncer.h"
#include "ui/clientlistview.h"

#include <QSettings>
#include <QWidget>

namespace {

// Names beyond these are counted, not listed: a restarted server sees all its clients again.
constexpr qsizetype listedNames = 10;

} // namespace

VpnNotifications::VpnNotifications(QWidget *window, QObject *parent)
    : QObject(parent)
    , window(window)
    , announcer(window ? new AccessibleAnnouncer(window) : nullptr)
{
    if (announcer)
        announcer->setObjectName(QStringLiteral("announcer"));
}

void VpnNotifications::setEnabled(bool on)
{
    enabled = on;
    forgetClients();
}

void VpnNotifications::managementConnected()
{
    connectionUp = true;
    forgetClients();
}

void VpnNotifications::managementLost()
{
    if (!connectionUp)
        return;
    connectionUp = false;
    notify(tr("Management connection lost"), routerText());
}

void VpnNotifications::stateChanged(OpenVpnManagement::VpnState state)
{
    switch (state) {
    case OpenVpnManagement::StateConnected: notify(tr("VPN connected"), routerText()); break;
    case OpenVpnManagement::StateReconnecting: notify(tr("VPN reconnecting"), routerText()); break;
    case OpenVpnManagement::StateExiting: notify(tr("VPN exiting"), routerText()); break;
    default: break;
    }
}

void VpnNotifications::clientsListed(const ClientListView &list, bool serverMode)
{
    if (!enabled || !serverMode) {
        forgetClients();
        return;
    }
    const QStringList names = list.clientNames();
    QSet<QString> now(names.cbegin(), names.cend());
    if (clientsKnown) {
        QStringList connected;
        for (const QString &name : names) {
            if (!clients.contains(name))
                connected.append(name);
        }
        QStringList disconnected;
        for (const QString &name : std::as_const(clients)) {
            if (!now.contains(name))
                disconnected.append(name);
        }
        // In a set they have no order of their own.
        disconnected.sort();
        const QString body = clientsText(connected, disconnected);
        if (!body.isEmpty())
            notify(tr("VPN clients"), body);
    }
    clients = std::move(now);
    clientsKnown = true;
}

void VpnNotifications::forgetClients()
{
    clients.clear();
    clientsKnown = false;
}

// Placeholders are filled in one arg() call: a name may hold "%2" itself. Names are shown as
// the window shows them, so that no two look alike.
QString VpnNotifications::clientsText(const QStringList &connected, const QStringList &disconnected)
{
    QStringList lines;
    if (connected.size() == 1)
        lines.append(tr("Client connected: %1").arg(PeerText::shown(connected.constFirst())));
    else if (connected.size() > 1)
        lines.append(tr("%1 clients connected: %2").arg(QString::number(connected.size()), nameList(connected)));
    if (disconnected.size() == 1)
        lines.append(tr("Client disconnected: %1").arg(PeerText::shown(disconnected.constFirst())));
    else if (disconnected.size() > 1)
        lines.append(tr("%1 clients disconnected: %2").arg(QString::number(disconnected.size()), nameList(disconnected)));
    return lines.join(QLatin1Char('\n'));
}

QString VpnNotifications::nameList(const QStringList &names)
{
    QStringList shown;
    for (const QString &name : names.first(qMin(names.size(), listedNames)))
        shown.append(PeerText::shown(name));
    QString listed = shown.join(QStringLiteral(", "));
    if (names.size() <= listedNames)
        return listed;
    return tr("%1 and %2 more").arg(listed, QString::number(names.size() - listedNames));
}

QString VpnNotifications::routerText()
{
    return tr("Router %1").arg(QSettings().value(SettingsKeys::ip).toString());
}

void VpnNotifications::notify(const QString &summary, const QString &body)
{
    if (!enabled || !window)
        return;
    if (window->isActiveWindow())
        announcer->announce(summary + QLatin1Char('\n') + body);
    else
        sender.notify(summary, body);
}
