#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

class ClientStatusWidget;

// The list of connected VPN clients on the status tab: one row per client, keyed by its
// common name, each row showing a ClientStatusWidget. Answers to "status 2" are merged in:
// rows keep the order in which their clients first appeared, a client missing from an
// answer loses its row at once, and one that comes back gets a new row at the end.
//
// A big server has thousands of clients, of which a screenful can be seen. While the list is
// shown, the rows in view have panels, and a panel whose row scrolls out of view is handed
// on to a row that scrolls in; a row whose panel holds the keyboard focus keeps it. Tab and
// Backtab go from one row's Disconnect button to the next row's, bringing it into view.
class ClientListView final : public QTreeWidget
{
    Q_OBJECT

public:
    explicit ClientListView(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ClientListView)

    // The common names of the rows, top to bottom.
    QStringList clientNames() const;
    // The client IDs of the connections of the row with this name in the latest answer, in
    // answer order; empty when there is no such row or the answer gave no IDs.
    QList<qint64> clientIds(const QString &name) const;
    // The panel that shows the row while the row is in view (or its panel has the focus);
    // nullptr for other rows and while the list is hidden.
    ClientStatusWidget *panelAt(int row) const;
    // For assistive technology, which reads every row, in view or not (ClientListAccessible):
    // the row's name, its last line a panel shows (empty while it had none), and asking to
    // disconnect its client as the row's Disconnect button does.
    QString clientName(int row) const;
    QString clientLine(int row) const;
    bool isDisconnectEnabled() const { return disconnectEnabled; }
    void requestDisconnect(int row);

signals:
    // A panel's Disconnect button was pressed; name is what the panel shows (empty for a
    // panel that never got a line it could show).
    void disconnectRequested(const QString &name);

public slots:
    // Merges one complete status answer, all its lines, into the list.
    void setStatus(const QStringList &status);
    // Removes every row.
    void clearClients();
    // Disconnecting needs the management connection: while there is none, no panel's
    // Disconnect button can be pressed, those of panels made meanwhile included.
    void setDisconnectEnabled(bool enabled);
    void reset() override;

protected:
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    struct Panel
    {
        ClientStatusWidget *widget = nullptr;
        // The row shown; nullptr while the panel waits, hidden, for one.
        QTreeWidgetItem *item = nullptr;
        // The row's line when it was last shown.
        QString line;
    };

    // The index in `panels` of the panel that shows the row, or -1.
    qsizetype panelIndex(const QTreeWidgetItem *item) const;
    Panel *panelOf(const QTreeWidgetItem *item);
    Panel *panelWithFocus();
    Panel &freePanel();
    // Shows the panel's row in it; true when that changed the row's height.
    bool showRow(Panel &panel);
    void release(Panel &panel);
    void placePanels();
    // True when a row's height or the column's width changed, which moves the panels.
    bool placePanelsOnce();
    // The size of a panel that shows a client line, or none.
    QSize panelSize(bool blank);

    QList<Panel> panels;
    // Never shown: measures the rows that have no panel.
    ClientStatusWidget *sizer = nullptr;
    QSize filledSize;
    QSize blankSize;
    bool disconnectEnabled = true;
    bool placing = false;
};
