#pragma once

#include "ui/clientrowkeys.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

class ClientStatusWidget;

// The list of connected VPN clients on the status tab: one row per client, keyed by its
// common name, each row showing a ClientStatusWidget. Answers to "status 2" are merged in:
// rows keep the order in which their clients first appeared, a client missing from an
// answer loses its row at once, and one that comes back gets a new row at the end. That order
// can be exchanged for another (see ClientRowKeys), which the merge keeps by moving only the
// rows whose values changed; a filter hides the rows of the other clients.
//
// A big server has thousands of clients, of which a screenful can be seen. While the list is
// shown, the rows in view have panels, and a panel whose row scrolls out of view is handed
// on to a row that scrolls in; a row whose panel holds the keyboard focus keeps it. Tab and
// Backtab go from one row's Disconnect button to the next shown row's, bringing it into view.
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
    // The rows the filter lets through: all of them while there is no filter.
    int shownCount() const;
    bool isFiltered() const { return !filter.isEmpty(); }
    ClientRowKeys::Order order() const { return rowOrder; }
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
    // The number of rows, or of rows shown, may have changed.
    void countChanged();

public slots:
    // Merges one complete status answer, all its lines, into the list.
    void setStatus(const QStringList &status);
    // Removes every row.
    void clearClients();
    // Shows only the rows whose client's name as shown, real address or VPN address contains
    // the text, whatever the case; no text (or only white space) shows every row.
    void setFilter(const QString &text);
    void setOrder(ClientRowKeys::Order order);
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
    void sortRows();
    // Hides the rows the filter does not let through and shows the others: all rows anew, or
    // (after a merge) those whose name or addresses changed.
    void filterRows(bool refilter);

    QList<Panel> panels;
    // Never shown: measures the rows that have no panel.
    ClientStatusWidget *sizer = nullptr;
    QSize filledSize;
    QSize blankSize;
    bool disconnectEnabled = true;
    bool placing = false;
    // Folded as ClientRowKeys::filterText() folds it; empty for no filter.
    QString filter;
    ClientRowKeys::Order rowOrder = ClientRowKeys::AnswerOrder;
    // The rows the filter lets through, while there is one.
    int matchingRows = 0;
    // Rows made so far: the next one's place in the answer order.
    quint64 rowsMade = 0;
};
