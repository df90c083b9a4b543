#include "ui/clientlistview.h"

#include "management/clientlistparser.h"
#include "ui/clientstatuswidget.h"

#include <QApplication>
#include <QHash>
#include <QList>
#include <QPointer>

namespace {

// Roles of a row's item in column 0.
constexpr int seenRole = Qt::UserRole;
constexpr int nameRole = Qt::UserRole + 1;

ClientStatusWidget *panelOf(const QTreeWidget *tree, QTreeWidgetItem *item)
{
    return qobject_cast<ClientStatusWidget *>(tree->itemWidget(item, 0));
}

} // namespace

ClientListView::ClientListView(QWidget *parent)
    : QTreeWidget(parent)
{
}

QStringList ClientListView::clientNames() const
{
    QStringList names;
    names.reserve(topLevelItemCount());
    for (int i = 0; i < topLevelItemCount(); ++i)
        names.append(topLevelItem(i)->data(0, nameRole).toString());
    return names;
}

void ClientListView::setStatus(const QStringList &status)
{
    // Mark and sweep. The marks are kept here while the answer is read, so that a row's own
    // seen mark only changes when its row is made (every row that stays was seen), and the
    // view is not told of two changes per row and answer.
    struct Row
    {
        QTreeWidgetItem *item = nullptr;
        bool seen = false;
        // For rows made by this answer: the last line for the panel, which is made after all
        // rows are in place (a panel put on a row before the next row is added makes every
        // insertion lay out all the panels again).
        bool isNew = false;
        QString line;
    };
    const int rowCount = topLevelItemCount();
    QHash<QString, Row> rows;
    rows.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        // The first row of a name is the one that counts.
        const QString name = item->data(0, nameRole).toString();
        if (!rows.contains(name)) {
            Row row;
            row.item = item;
            rows.insert(name, row);
        }
    }

    QList<QTreeWidgetItem *> added;
    for (const ClientListParser::Client &client : ClientListParser::parse(status)) {
        Row &row = rows[client.commonName];
        if (!row.item) {
            row.item = new QTreeWidgetItem(this);
            row.item->setFlags(Qt::ItemIsEnabled);
            row.item->setData(0, seenRole, true);
            row.item->setData(0, nameRole, client.commonName);
            row.isNew = true;
            added.append(row.item);
        }
        row.seen = true;
        if (client.line.isEmpty())
            continue;
        if (row.isNew)
            row.line = client.line;
        else if (ClientStatusWidget *panel = panelOf(this, row.item))
            panel->setStatus(client.line);
    }

    // Panels put on a visible list are clipped against every panel already there, which makes
    // a first fill of many clients quadratic; the list is hidden while they go in (no paint
    // happens in between, so nothing flickers). Hiding it takes the focus from a panel's
    // button, which is given back afterwards.
    QWidget *list = viewport();
    const bool hideList = !added.isEmpty() && list->isVisible();
    QPointer<QWidget> focus = QApplication::focusWidget();
    if (hideList)
        list->hide();
    for (QTreeWidgetItem *item : std::as_const(added))
        setItemWidget(item, 0, newPanel(rows[item->data(0, nameRole).toString()].line));

    // Rows not in this answer go; the rows after them move up.
    for (int i = 0; i < topLevelItemCount();) {
        QTreeWidgetItem *item = topLevelItem(i);
        const auto row = rows.constFind(item->data(0, nameRole).toString());
        if (row != rows.constEnd() && row->item == item && row->seen) {
            ++i;
            continue;
        }
        removeItemWidget(item, 0);
        delete takeTopLevelItem(i);
    }
    if (hideList) {
        list->show();
        if (focus && list->isAncestorOf(focus))
            focus->setFocus();
    }
    list->update();
}

void ClientListView::clearClients()
{
    clear();
}

void ClientListView::setDisconnectEnabled(bool enabled)
{
    disconnectEnabled = enabled;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (ClientStatusWidget *panel = panelOf(this, topLevelItem(i)))
            panel->setDisconnectEnabled(enabled);
    }
}

QWidget *ClientListView::newPanel(const QString &line)
{
    // Without a parent: the list takes it over as the row's item widget.
    auto *panel = new ClientStatusWidget;
    connect(panel, &ClientStatusWidget::clientDisconnected, this, &ClientListView::disconnectRequested);
    panel->setDisconnectEnabled(disconnectEnabled);
    if (!line.isEmpty())
        panel->setStatus(line);
    return panel;
}
