#include "ui/clientlistview.h"

#include "support/scriptedopenvpnpeer.h"
#include "ui/clientstatuswidget.h"

#include <QAccessible>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

namespace {

// A whole status answer as the management client hands it on.
QStringList answer(const QStringList &names)
{
    QStringList lines{QStringLiteral("TITLE,OpenVPN\r\n"),
                      QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,"
                                     "Bytes Received,Bytes Sent,Connected Since,Connected Since (time_t),Username,"
                                     "Client ID,Peer ID,Data Channel Cipher\r\n")};
    int bytes = 0;
    for (const QString &name : names)
        lines.append(ScriptedOpenVpnPeer::clientLine26(name, ++bytes) + QStringLiteral("\r\n"));
    lines.append(QStringLiteral("END\r\n"));
    return lines;
}

QStringList rowNames(QAccessibleInterface *list)
{
    QStringList names;
    for (int i = 0; i < list->childCount(); ++i)
        names.append(list->child(i)->text(QAccessible::Name));
    return names;
}

} // namespace

// The client list as assistive technology reads it, every row whether it has a panel or not.
class tst_ClientListAccessible : public QObject
{
    Q_OBJECT

private slots:
    void rowsFollowTheAnswers();
    void rowReadsAsItsPanel();
    void disconnectAction_data();
    void disconnectAction();
    void rowsFollowFilterAndOrder();
};

// Rows come and go with the answers; a row that stays keeps its object, a gone row's is gone.
void tst_ClientListAccessible::rowsFollowTheAnswers()
{
    ClientListView view;
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(&view);
    QCOMPARE(list->role(), QAccessible::List);
    view.setStatus(answer({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    QCOMPARE(rowNames(list), QStringList({"a", "b", "c"}));
    const QAccessible::Id b = QAccessible::uniqueId(list->child(1));
    const QAccessible::Id c = QAccessible::uniqueId(list->child(2));
    QCOMPARE(list->indexOfChild(QAccessible::accessibleInterface(c)), 2);

    view.setStatus(answer({QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("d")}));
    QCOMPARE(rowNames(list), QStringList({"a", "c", "d"}));
    QCOMPARE(QAccessible::uniqueId(list->child(1)), c);
    QCOMPARE(list->indexOfChild(QAccessible::accessibleInterface(c)), 1);
    QCOMPARE(QAccessible::accessibleInterface(c)->parent(), list);
    // The gone row's object, where it is still kept, says so.
    QVERIFY(!QAccessible::accessibleInterface(b) || !QAccessible::accessibleInterface(b)->isValid());
    QVERIFY(!list->child(3));
}

// A screen reader hears what a sighted user sees in the panel: the name as shown, the values.
void tst_ClientListAccessible::rowReadsAsItsPanel()
{
    ClientListView view;
    // A byte that is not UTF-8 comes as a lone surrogate.
    const QString name = QStringLiteral("x") + QChar(0xDCE9);
    view.setStatus(answer({name}));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    ClientStatusWidget *panel = view.panelAt(0);
    QVERIFY(panel);

    QAccessibleInterface *row = QAccessible::queryAccessibleInterface(&view)->child(0);
    QCOMPARE(row->role(), QAccessible::ListItem);
    QCOMPARE(row->text(QAccessible::Name), QStringLiteral("x\\xE9"));
    QStringList values;
    for (const char *label : {"connectedLabel", "realAddressLabel", "vpnAddressLabel", "sentLabel", "receivedLabel"})
        values.append(panel->findChild<QLabel *>(QLatin1String(label))->text());
    QCOMPARE(row->text(QAccessible::Description), values.join(QStringLiteral(", ")));
    QVERIFY(!row->state().offscreen);
}

void tst_ClientListAccessible::disconnectAction_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("requested");
    QTest::newRow("management connected: the row's own name") << true << QStringList{QStringLiteral("x:") + QChar(0xDCE9)};
    QTest::newRow("no management connection: nothing to press") << false << QStringList();
}

// The action asks for the row's name as it came, not as it is shown, so the right kill goes out.
void tst_ClientListAccessible::disconnectAction()
{
    QFETCH(bool, enabled);
    QFETCH(QStringList, requested);

    ClientListView view;
    view.setStatus(answer({QStringLiteral("first"), QStringLiteral("x:") + QChar(0xDCE9), QStringLiteral("last")}));
    view.setDisconnectEnabled(enabled);
    QSignalSpy spy(&view, &ClientListView::disconnectRequested);
    QAccessibleActionInterface *action = QAccessible::queryAccessibleInterface(&view)->child(1)->actionInterface();
    QVERIFY(action);
    QCOMPARE(action->actionNames().size(), requested.size());
    for (const QString &name : action->actionNames())
        QCOMPARE(action->localizedActionName(name), QStringLiteral("Disconnect"));
    action->doAction(QStringLiteral("Disconnect"));

    QStringList names;
    for (const QList<QVariant> &call : spy)
        names.append(call.at(0).toString());
    QCOMPARE(names, requested);
}

// The filter hides rows and the order moves them. A hidden row is there, but not to be seen;
// a row's object keeps to its client wherever its row goes, so its Disconnect asks for that
// client and no other.
void tst_ClientListAccessible::rowsFollowFilterAndOrder()
{
    ClientListView view;
    // Sent bytes grow down the answer: that order turns the list upside down.
    view.setStatus(answer({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(&view);
    QAccessibleInterface *first = list->child(0);

    view.setOrder(ClientRowKeys::SentBytesOrder);
    QCOMPARE(rowNames(list), QStringList({"c", "b", "a"}));
    QCOMPARE(list->indexOfChild(first), 2);

    view.setFilter(QStringLiteral("B"));
    QCOMPARE(rowNames(list), QStringList({"c", "b", "a"}));
    QVERIFY(list->child(0)->state().invisible);
    QVERIFY(!list->child(1)->state().invisible);
    QVERIFY(list->child(2)->state().invisible);

    QSignalSpy spy(&view, &ClientListView::disconnectRequested);
    first->actionInterface()->doAction(QStringLiteral("Disconnect"));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("a"));
}

QTEST_MAIN(tst_ClientListAccessible)
#include "tst_clientlistaccessible.moc"
