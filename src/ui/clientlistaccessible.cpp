#include "ui/clientlistaccessible.h"

#include "management/peertext.h"
#include "ui/clientlistview.h"
#include "ui/clientstatuswidget.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QHash>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTreeWidgetItem>

namespace {

const QString disconnectAction = QStringLiteral("Disconnect");

// One row, wherever it is: the model index follows the row as rows above it come and go,
// and is invalid once the row is gone.
class ClientRowInterface final : public QAccessibleInterface, public QAccessibleActionInterface
{
    Q_DECLARE_TR_FUNCTIONS(ClientRowInterface)

public:
    ClientRowInterface(ClientListView *view, int row)
        : view(view)
        , index(view->model()->index(row, 0))
    {
    }

    int row() const { return isValid() ? index.row() : -1; }

    bool isValid() const override { return view && index.isValid(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return view ? view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(view.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid())
            return {};
        switch (kind) {
        case QAccessible::Name: return PeerText::shown(view->clientName(row()));
        case QAccessible::Description:
            return ClientStatusWidget::shownValues(view->clientLine(row())).join(QStringLiteral(", "));
        default: return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect shown = view->visualRect(index);
        return QRect(view->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid())
            return state;
        const QTreeWidgetItem *item = view->topLevelItem(row());
        state.invisible = item->isHidden() || !view->isVisible();
        state.offscreen = state.invisible || !view->viewport()->rect().intersects(view->visualRect(index));
        state.disabled = !view->isDisconnectEnabled();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        if (!isValid() || !view->isDisconnectEnabled())
            return {};
        return {disconnectAction};
    }

    QString localizedActionName(const QString &action) const override
    {
        return action == disconnectAction ? tr("Disconnect") : QString();
    }

    QString localizedActionDescription(const QString &action) const override
    {
        return action == disconnectAction ? tr("Disconnects this client from the VPN") : QString();
    }

    void doAction(const QString &action) override
    {
        if (action == disconnectAction && isValid())
            view->requestDisconnect(row());
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<ClientListView> view;
    QPersistentModelIndex index;
};

class ClientListInterface final : public QAccessibleWidget
{
public:
    explicit ClientListInterface(ClientListView *view)
        : QAccessibleWidget(view, QAccessible::List)
    {
    }

    ~ClientListInterface() override
    {
        for (const QAccessible::Id id : std::as_const(rows))
            QAccessible::deleteAccessibleInterface(id);
    }
    Q_DISABLE_COPY_MOVE(ClientListInterface)

    int childCount() const override { return list()->topLevelItemCount(); }

    QAccessibleInterface *child(int at) const override
    {
        if (at < 0 || at >= childCount())
            return nullptr;
        // Rows are made as they are asked for and kept while their row lives; an entry whose
        // row went (its item's address may be taken by a new row's since) is made anew.
        const QTreeWidgetItem *item = list()->topLevelItem(at);
        if (const QAccessible::Id id = rows.value(item)) {
            auto *known = static_cast<ClientRowInterface *>(QAccessible::accessibleInterface(id));
            if (known && known->row() == at)
                return known;
            QAccessible::deleteAccessibleInterface(id);
            rows.remove(item);
        }
        forgetGoneRows();
        auto *made = new ClientRowInterface(list(), at);
        rows.insert(item, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *row = dynamic_cast<const ClientRowInterface *>(child);
        return row && row->parent() == this ? row->row() : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QModelIndex index = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }

private:
    ClientListView *list() const { return static_cast<ClientListView *>(widget()); }

    // The rows of gone clients, once there are many of them.
    void forgetGoneRows() const
    {
        if (rows.size() < 2 * childCount() + 64)
            return;
        for (auto entry = rows.begin(); entry != rows.end();) {
            const auto *known = static_cast<ClientRowInterface *>(QAccessible::accessibleInterface(entry.value()));
            if (known && known->row() >= 0) {
                ++entry;
                continue;
            }
            QAccessible::deleteAccessibleInterface(entry.value());
            entry = rows.erase(entry);
        }
    }

    mutable QHash<const QTreeWidgetItem *, QAccessible::Id> rows;
};

QAccessibleInterface *clientListInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String(ClientListView::staticMetaObject.className()))
        return new ClientListInterface(static_cast<ClientListView *>(object));
    return nullptr;
}

} // namespace

void ClientListAccessible::install()
{
    QAccessible::installFactory(clientListInterface);
}
