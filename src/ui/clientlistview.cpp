#include "ui/clientlistview.h"

#include "management/clientlistparser.h"
#include "ui/clientlistaccessible.h"
#include "ui/clientstatuswidget.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QStyleOptionViewItem>

#include <optional>

namespace {

// Roles of a row's item in column 0.
constexpr int seenRole = Qt::UserRole;
constexpr int nameRole = Qt::UserRole + 1;

// A row's height follows from its panel's, so a change of height moves the rows below, and the
// column's width from the panels in view; a few rounds settle both (a panel's height only
// depends on whether it shows a line).
constexpr int placeRounds = 3;

// The row of one client. The line stays with the row, for whichever panel shows it.
class ClientRow final : public QTreeWidgetItem
{
public:
    // The appeared-th row the list made.
    ClientRow(const QString &name, quint64 appeared)
        : QTreeWidgetItem(UserType)
        , appeared(appeared)
    {
        setFlags(Qt::ItemIsEnabled);
        setData(0, seenRole, true);
        setData(0, nameRole, name);
    }

    // The client's last line that a panel shows; empty while it had none.
    const QString &line() const { return shownLine; }
    void setLine(const QString &line)
    {
        shownLine = line;
        keysCurrent = false;
    }

    // What the filter and the orders read is made from the line only when one of them asks,
    // once per line: a list that is neither filtered nor sorted never reads it.
    void updateKeys()
    {
        if (!rowKeys) {
            rowKeys.emplace(data(0, nameRole).toString(), appeared);
            filterStale = true;
        }
        if (!keysCurrent && rowKeys->setLine(shownLine))
            filterStale = true;
        keysCurrent = true;
    }
    // Up to date after updateKeys().
    const ClientRowKeys &keys() const { return *rowKeys; }

    // In the list's order; the list brings both rows' keys up to date before it sorts them.
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const auto *list = static_cast<const ClientListView *>(treeWidget());
        return keys().before(static_cast<const ClientRow &>(other).keys(), list->order());
    }

    // The IDs of the client's connections in the latest answer.
    QList<qint64> clientIds;
    // In the answer being merged.
    bool seen = false;
    // Whether the filter lets the row through; the row is hidden while not.
    bool passes = true;
    // The keys the filter reads changed since it last read them.
    bool filterStale = true;

private:
    QString shownLine;
    quint64 appeared;
    std::optional<ClientRowKeys> rowKeys;
    bool keysCurrent = false;
};

ClientRow *rowOf(QTreeWidgetItem *item)
{
    return static_cast<ClientRow *>(item);
}

} // namespace

ClientListView::ClientListView(QWidget *parent)
    : QTreeWidget(parent)
{
    ClientListAccessible::install();
}

QStringList ClientListView::clientNames() const
{
    QStringList names;
    names.reserve(topLevelItemCount());
    for (int i = 0; i < topLevelItemCount(); ++i)
        names.append(topLevelItem(i)->data(0, nameRole).toString());
    return names;
}

QList<qint64> ClientListView::clientIds(const QString &name) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        if (item->data(0, nameRole).toString() == name)
            return rowOf(item)->clientIds;
    }
    return {};
}

ClientStatusWidget *ClientListView::panelAt(int row) const
{
    const qsizetype at = panelIndex(topLevelItem(row));
    return at < 0 ? nullptr : panels.at(at).widget;
}

int ClientListView::shownCount() const
{
    return isFiltered() ? matchingRows : topLevelItemCount();
}

QString ClientListView::clientName(int row) const
{
    return topLevelItem(row)->data(0, nameRole).toString();
}

QString ClientListView::clientLine(int row) const
{
    return rowOf(topLevelItem(row))->line();
}

void ClientListView::requestDisconnect(int row)
{
    if (disconnectEnabled && row >= 0 && row < topLevelItemCount())
        emit disconnectRequested(clientName(row));
}

void ClientListView::setStatus(const QStringList &status)
{
    // Mark and sweep, keyed by the name; the first row of a name is the one that counts.
    const int rowCount = topLevelItemCount();
    QHash<QString, ClientRow *> rows;
    rows.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i) {
        ClientRow *row = rowOf(topLevelItem(i));
        row->seen = false;
        ClientRow *&first = rows[row->data(0, nameRole).toString()];
        if (!first)
            first = row;
    }

    // The filter and the orders read a line best while it is at hand.
    const bool keysWanted = isFiltered() || rowOrder != ClientRowKeys::AnswerOrder;
    QList<QTreeWidgetItem *> added;
    for (const ClientListParser::Client &client : ClientListParser::parse(status)) {
        ClientRow *&row = rows[client.commonName];
        if (!row) {
            row = new ClientRow(client.commonName, rowsMade++);
            added.append(row);
        }
        if (!row->seen) {
            row->seen = true;
            row->clientIds.clear();
        }
        if (client.clientId >= 0)
            row->clientIds.append(client.clientId);
        // Any other line leaves the row as it was.
        if (!ClientStatusWidget::showsLine(client.line) || client.line == row->line())
            continue;
        const bool wasBlank = row->line().isEmpty();
        row->setLine(client.line);
        if (keysWanted)
            row->updateKeys();
        if (wasBlank && row->treeWidget())
            row->setSizeHint(0, panelSize(false));
    }

    // Rows not in this answer go; the rows after them move up.
    for (int i = 0; i < topLevelItemCount();) {
        if (rowOf(topLevelItem(i))->seen)
            ++i;
        else
            delete takeTopLevelItem(i);
    }
    // Rows are as high as their panels; rows without one as high as a panel would be.
    for (QTreeWidgetItem *item : std::as_const(added))
        item->setSizeHint(0, panelSize(rowOf(item)->line().isEmpty()));
    addTopLevelItems(added);
    if (rowOrder != ClientRowKeys::AnswerOrder)
        sortRows();
    if (isFiltered())
        filterRows(false);

    for (Panel &panel : panels) {
        if (panel.item && panel.line != rowOf(panel.item)->line())
            showRow(panel);
    }
    placePanels();
    viewport()->update();
    emit countChanged();
}

void ClientListView::clearClients()
{
    // The panels are released by reset().
    clear();
    matchingRows = 0;
    emit countChanged();
}

void ClientListView::setFilter(const QString &text)
{
    const QString folded = ClientRowKeys::filterText(text);
    if (folded == filter)
        return;
    filter = folded;
    filterRows(true);
    // The clients found are a list of their own: it is read from its top.
    scrollToTop();
    placePanels();
    emit countChanged();
}

void ClientListView::setOrder(ClientRowKeys::Order order)
{
    if (order == rowOrder)
        return;
    rowOrder = order;
    sortRows();
    scrollToTop();
    placePanels();
}

void ClientListView::setDisconnectEnabled(bool enabled)
{
    disconnectEnabled = enabled;
    for (const Panel &panel : std::as_const(panels))
        panel.widget->setDisconnectEnabled(enabled);
}

void ClientListView::reset()
{
    // The rows are gone already; release() does not look at them.
    for (Panel &panel : panels) {
        if (panel.item)
            release(panel);
    }
    QTreeWidget::reset();
}

void ClientListView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    if (!parent.isValid()) {
        for (int row = start; row <= end; ++row) {
            if (Panel *panel = panelOf(topLevelItem(row)))
                release(*panel);
        }
    }
    QTreeWidget::rowsAboutToBeRemoved(parent, start, end);
}

void ClientListView::updateGeometries()
{
    QTreeWidget::updateGeometries();
    placePanels();
}

void ClientListView::scrollContentsBy(int dx, int dy)
{
    QTreeWidget::scrollContentsBy(dx, dy);
    placePanels();
}

void ClientListView::showEvent(QShowEvent *event)
{
    QTreeWidget::showEvent(event);
    placePanels();
}

bool ClientListView::focusNextPrevChild(bool next)
{
    // Only the rows in view have buttons to go to: the next row is brought into view first.
    // Rows the filter hides are passed over.
    const Panel *from = panelWithFocus();
    if (from && disconnectEnabled) {
        const QModelIndex index = indexFromItem(from->item);
        const QModelIndex to = next ? indexBelow(index) : indexAbove(index);
        if (to.isValid()) {
            QTreeWidgetItem *item = itemFromIndex(to);
            scrollToItem(item);
            placePanels();
            if (const Panel *to = panelOf(item)) {
                to->widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                // The row left behind may be out of view now.
                placePanels();
                return true;
            }
        }
    }
    return QTreeWidget::focusNextPrevChild(next);
}

qsizetype ClientListView::panelIndex(const QTreeWidgetItem *item) const
{
    // A waiting panel shows no row: nullptr is never looked up.
    for (qsizetype at = 0; item && at < panels.size(); ++at) {
        if (panels.at(at).item == item)
            return at;
    }
    return -1;
}

ClientListView::Panel *ClientListView::panelOf(const QTreeWidgetItem *item)
{
    const qsizetype at = panelIndex(item);
    return at < 0 ? nullptr : &panels[at];
}

ClientListView::Panel *ClientListView::panelWithFocus()
{
    const QWidget *focus = window()->focusWidget();
    for (Panel &panel : panels) {
        if (panel.item && panel.widget->isAncestorOf(focus))
            return &panel;
    }
    return nullptr;
}

ClientListView::Panel &ClientListView::freePanel()
{
    for (Panel &panel : panels) {
        if (!panel.item)
            return panel;
    }
    Panel panel;
    panel.widget = new ClientStatusWidget(viewport());
    connect(panel.widget, &ClientStatusWidget::clientDisconnected, this, &ClientListView::disconnectRequested);
    panel.widget->setDisconnectEnabled(disconnectEnabled);
    panels.append(panel);
    return panels.last();
}

bool ClientListView::showRow(Panel &panel)
{
    panel.line = rowOf(panel.item)->line();
    // A panel comes from other rows: what it showed there must not stay.
    if (panel.line.isEmpty())
        panel.widget->clearStatus();
    else
        panel.widget->setStatus(panel.line);
    const QSize size = panel.widget->sizeHint();
    if (panel.item->sizeHint(0).height() == size.height())
        return false;
    panel.item->setSizeHint(0, size);
    return true;
}

void ClientListView::release(Panel &panel)
{
    // Out of view the panel has no row to show; the focus in it stays with the list.
    if (panel.widget->isAncestorOf(window()->focusWidget()))
        setFocus(Qt::OtherFocusReason);
    panel.item = nullptr;
    panel.line.clear();
    panel.widget->hide();
}

void ClientListView::placePanels()
{
    if (placing)
        return;
    const QScopedValueRollback<bool> guard(placing, true);
    for (int round = 0; round < placeRounds && placePanelsOnce(); ++round) {
    }
}

bool ClientListView::placePanelsOnce()
{
    // A hidden list keeps its panels where they are until it is shown again.
    if (!isVisible())
        return false;

    // Asking for a position lays the rows out first, when that is due. The rows the filter
    // hides are passed over.
    QList<QTreeWidgetItem *> inView;
    const int bottom = viewport()->height();
    for (QModelIndex index = indexAt(QPoint(0, 0)); index.isValid() && visualRect(index).top() < bottom;
         index = indexBelow(index))
        inView.append(itemFromIndex(index));

    // A row the filter hides gives its panel up, and the focus with it.
    const Panel *focused = panelWithFocus();
    const QTreeWidgetItem *focusedItem = focused && !focused->item->isHidden() ? focused->item : nullptr;
    for (Panel &panel : panels) {
        if (panel.item && panel.item != focusedItem && !inView.contains(panel.item))
            release(panel);
    }
    bool heightChanged = false;
    for (QTreeWidgetItem *item : std::as_const(inView)) {
        if (panelOf(item))
            continue;
        Panel &panel = freePanel();
        panel.item = item;
        heightChanged |= showRow(panel);
    }

    // A panel's values are never cut: the column is as wide as the widest panel in view
    // needs, and the list scrolls sideways when it is narrower than that.
    int needed = 0;
    for (QTreeWidgetItem *item : std::as_const(inView)) {
        // The row is narrower than the column by the indentation.
        const int indentation = header()->sectionSize(0) - visualItemRect(item).width();
        needed = qMax(needed, panelOf(item)->widget->minimumSizeHint().width() + indentation);
    }
    const bool widthChanged = needed > 0 && needed != header()->minimumSectionSize();
    if (widthChanged)
        header()->setMinimumSectionSize(needed);

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    QWidget *previous = nullptr;
    for (QTreeWidgetItem *item : std::as_const(inView)) {
        const Panel *panel = panelOf(item);
        option.rect = visualItemRect(item);
        const QModelIndex index = indexFromItem(item);
        itemDelegateForIndex(index)->updateEditorGeometry(panel->widget, option, index);
        panel->widget->show();
        // Tab goes down the rows in view, whichever row a panel showed before.
        if (previous)
            setTabOrder(previous, panel->widget->focusProxy());
        previous = panel->widget->focusProxy();
    }
    // Panels are made above as needed, so the focused one is looked up again.
    if (focusedItem && !inView.contains(focusedItem)) {
        option.rect = visualItemRect(focusedItem);
        const QModelIndex index = indexFromItem(focusedItem);
        itemDelegateForIndex(index)->updateEditorGeometry(panelOf(focusedItem)->widget, option, index);
    }
    return heightChanged || widthChanged;
}

void ClientListView::sortRows()
{
    // Qt sorts stably, starting from the rows' present order: a row moves only when its value
    // changed, and ties keep their places. A list in order already is left alone, which spares
    // the view laying out thousands of rows again.
    bool sorted = true;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        ClientRow *row = rowOf(topLevelItem(i));
        row->updateKeys();
        if (i > 0 && *row < *topLevelItem(i - 1))
            sorted = false;
    }
    if (!sorted)
        sortItems(0, Qt::AscendingOrder);
}

void ClientListView::filterRows(bool refilter)
{
    const bool filtered = isFiltered();
    matchingRows = 0;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        ClientRow *row = rowOf(topLevelItem(i));
        if (filtered)
            row->updateKeys();
        if (refilter || row->filterStale) {
            const bool passes = !filtered || row->keys().matches(filter);
            row->filterStale = !filtered;
            if (passes != row->passes) {
                row->passes = passes;
                setRowHidden(i, QModelIndex(), !passes);
            }
        }
        matchingRows += int(row->passes);
    }
}

QSize ClientListView::panelSize(bool blank)
{
    QSize &size = blank ? blankSize : filledSize;
    if (size.isValid())
        return size;
    if (!sizer) {
        sizer = new ClientStatusWidget(viewport());
        sizer->hide();
        sizer->ensurePolished();
    }
    if (blank)
        sizer->clearStatus();
    else
        sizer->setStatus(QStringLiteral("CLIENT_LIST,client,198.51.100.7:1194,10.8.0.6,0,0,x,0"));
    size = sizer->sizeHint();
    return size;
}
