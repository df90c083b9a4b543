#pragma once

#include <QString>
#include <QStringList>
#include <QTreeWidget>

// The list of connected VPN clients on the status tab: one row per client, keyed by its
// common name, each row showing a ClientStatusWidget. Answers to "status 2" are merged in:
// rows keep the order in which their clients first appeared, a client missing from an
// answer loses its row at once, and one that comes back gets a new row at the end.
class ClientListView final : public QTreeWidget
{
    Q_OBJECT

public:
    explicit ClientListView(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ClientListView)

    // The common names of the rows, top to bottom.
    QStringList clientNames() const;

signals:
    // A panel's Disconnect button was pressed; name is what the panel shows (empty for a
    // panel that never got a line it could show).
    void disconnectRequested(const QString &name);

public slots:
    // Merges one complete status answer, all its lines, into the list.
    void setStatus(const QStringList &status);
    // Removes every row and its panel.
    void clearClients();
    // Disconnecting needs the management connection: while there is none, no panel's
    // Disconnect button can be pressed, those of panels made meanwhile included.
    void setDisconnectEnabled(bool enabled);

private:
    QWidget *newPanel(const QString &line);

    bool disconnectEnabled = true;
};
