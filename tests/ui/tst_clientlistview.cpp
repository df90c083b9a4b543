#include "ui/clientlistview.h"

#include "ui/clientstatuswidget.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

namespace {

const QString header26 = QStringLiteral(
    "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
    "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher");

// A client line as OpenVPN 2.6 writes it.
QString line26(const QString &name, int bytes)
{
    return QStringLiteral("CLIENT_LIST,%1,127.0.0.1:4%2,10.88.0.%2,,%3,%4,2026-12-07 19:50:38,1262304000,UNDEF,0,0,AES-256-GCM")
        .arg(name)
        .arg(name.size())
        .arg(bytes)
        .arg(bytes + 1);
}

// The row the panel of line26() shows.
QString row26(const QString &name, int bytes)
{
    return QStringLiteral("%1|Connected: 10.01.01 02:00:00|Real address: 127.0.0.1:4%2|VPN address: 10.88.0.%2|"
                          "Sent bytes: %3|Received bytes: %4")
        .arg(name)
        .arg(name.size())
        .arg(bytes)
        .arg(bytes + 1);
}

// A whole status answer as the management client hands it on: every line with its CR LF.
QStringList answer(const QStringList &lines)
{
    QStringList result{QStringLiteral("TITLE,OpenVPN"), QStringLiteral("TIME,2026-12-07 19:50:43,1796673043")};
    result += lines;
    result += {QStringLiteral("GLOBAL_STATS,Max bcast/mcast queue length,1"), QStringLiteral("END")};
    for (QString &line : result)
        line += QStringLiteral("\r\n");
    return result;
}

ClientStatusWidget *panelOf(const ClientListView &view, int row)
{
    return qobject_cast<ClientStatusWidget *>(view.itemWidget(view.topLevelItem(row), 0));
}

QPushButton *disconnectButton(const ClientListView &view, int row)
{
    return panelOf(view, row)->findChild<QPushButton *>(QStringLiteral("disconnectButton"));
}

// "name|connected|real|vpn|sent|received" per row, the name being the row's key; checks the
// title and the item on the way.
QStringList rows(const ClientListView &view)
{
    const QStringList names = view.clientNames();
    if (names.size() != view.topLevelItemCount())
        return {QStringLiteral("%1 names for %2 rows").arg(names.size()).arg(view.topLevelItemCount())};
    QStringList result;
    for (int i = 0; i < names.size(); ++i) {
        const ClientStatusWidget *panel = panelOf(view, i);
        if (!panel || view.topLevelItem(i)->flags() != Qt::ItemIsEnabled)
            return {QStringLiteral("bad row %1").arg(i)};
        const auto label = [panel](const char *name) { return panel->findChild<QLabel *>(QLatin1String(name))->text(); };
        const QString title = label("titleLabel");
        if (!title.isEmpty() && title != QStringLiteral("<h2 style=\"color: #0080FF\">%1</h2>").arg(names.at(i)))
            return {QStringLiteral("bad title ") + title};
        QStringList fields{names.at(i)};
        for (const char *name : {"connectedLabel", "realAddressLabel", "vpnAddressLabel", "sentLabel", "receivedLabel"})
            fields.append(label(name));
        result.append(fields.join(QLatin1Char('|')));
    }
    return result;
}

} // namespace

class tst_ClientListView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void merge_data();
    void merge();
    void panelsLiveWithTheirRows();
    void disconnectRequested_data();
    void disconnectRequested();
    void disconnectEnabled();
    void focusStaysWhenClientsArrive();
};

void tst_ClientListView::initTestCase()
{
    qputenv("TZ", "PYL-02");
    tzset();
}

void tst_ClientListView::merge_data()
{
    QTest::addColumn<QList<QStringList>>("answers");
    QTest::addColumn<QStringList>("expected");

    const QString a8 = QStringLiteral("CLIENT_LIST,alice,198.51.100.7:1194,10.8.0.6,100,200,Thu Jan  1 00:00:00 2010,1262304000");
    const QString b8 = QStringLiteral("CLIENT_LIST,bob,198.51.100.8:1195,10.8.0.10,300,400,Thu Jan  1 00:00:00 2010,1262304000");
    const QString aRow = QStringLiteral("alice|Connected: 10.01.01 02:00:00|Real address: 198.51.100.7:1194|"
                                        "VPN address: 10.8.0.6|Sent bytes: 100|Received bytes: 200");
    const QString bRow = QStringLiteral("bob|Connected: 10.01.01 02:00:00|Real address: 198.51.100.8:1195|"
                                        "VPN address: 10.8.0.10|Sent bytes: 300|Received bytes: 400");
    const QString blank = QStringLiteral("|||||");

    QTest::newRow("eight fields without header") << QList<QStringList>{answer({a8, b8})} << QStringList{aRow, bRow};
    QTest::newRow("thirteen fields under the header")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("client1"), 2048), line26(QStringLiteral("client2"), 5)})}
        << QStringList{row26(QStringLiteral("client1"), 2048), row26(QStringLiteral("client2"), 5)};
    QTest::newRow("new byte counts in place")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("c1"), 1)}), answer({header26, line26(QStringLiteral("c1"), 99)})}
        << QStringList{row26(QStringLiteral("c1"), 99)};
    QTest::newRow("duplicates share a row, the later line shows")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("dup"), 1), line26(QStringLiteral("x"), 3),
                                      line26(QStringLiteral("dup"), 7)})}
        << QStringList{row26(QStringLiteral("dup"), 7), row26(QStringLiteral("x"), 3)};
    QTest::newRow("a client that leaves disappears, the rows after move up")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2),
                                      line26(QStringLiteral("c"), 3)}),
                              answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("c"), 3)})}
        << QStringList{row26(QStringLiteral("a"), 1), row26(QStringLiteral("c"), 3)};
    QTest::newRow("a new client comes at the end")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}),
                              answer({header26, line26(QStringLiteral("new"), 9), line26(QStringLiteral("a"), 1),
                                      line26(QStringLiteral("b"), 2)})}
        << QStringList{row26(QStringLiteral("a"), 1), row26(QStringLiteral("b"), 2), row26(QStringLiteral("new"), 9)};
    QTest::newRow("a client that comes back goes to the end")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}),
                              answer({header26, line26(QStringLiteral("b"), 2)}),
                              answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)})}
        << QStringList{row26(QStringLiteral("b"), 2), row26(QStringLiteral("a"), 1)};
    QTest::newRow("an answer without clients empties the list")
        << QList<QStringList>{answer({a8, b8}), answer({header26})} << QStringList{};
    QTest::newRow("an error answer empties the list")
        << QList<QStringList>{answer({a8}),
                              {QStringLiteral("ERROR: The 'status' command is not supported by the current daemon mode\r\n")}}
        << QStringList{};
    QTest::newRow("a line without a name is skipped")
        << QList<QStringList>{answer({header26, QStringLiteral("CLIENT_LIST"), line26(QStringLiteral("a"), 1)})}
        << QStringList{row26(QStringLiteral("a"), 1)};
    QTest::newRow("a short line keeps the row and the panel")
        << QList<QStringList>{answer({header26, line26(QStringLiteral("a"), 1)}),
                              answer({header26, QStringLiteral("CLIENT_LIST,a,127.0.0.1:41")})}
        << QStringList{row26(QStringLiteral("a"), 1)};
    QTest::newRow("without header another length leaves a new panel blank")
        << QList<QStringList>{answer({line26(QStringLiteral("x"), 1)})} << QStringList{QStringLiteral("x") + blank};
    QTest::newRow("seven fields without header")
        << QList<QStringList>{answer({a8, QStringLiteral("CLIENT_LIST,seven,a,b,1,2,t")})}
        << QStringList{aRow, QStringLiteral("seven") + blank};
    QTest::newRow("twelve fields under the 2.4 header")
        << QList<QStringList>{answer({QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,"
                                                     "Bytes Received,Bytes Sent,Connected Since,Connected Since (time_t),Username,"
                                                     "Client ID,Peer ID"),
                                      QStringLiteral("CLIENT_LIST,alice,198.51.100.7:1194,10.8.0.6,fd00::6,100,200,x,1262304000,UNDEF,3,0")})}
        << QStringList{aRow};
    QTest::newRow("nine fields under the 2.3 header")
        << QList<QStringList>{answer({QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Bytes Received,"
                                                     "Bytes Sent,Connected Since,Connected Since (time_t),Username"),
                                      QStringLiteral("CLIENT_LIST,alice,198.51.100.7:1194,10.8.0.6,100,200,x,1262304000,alice")})}
        << QStringList{aRow};
    QTest::newRow("2.7 real address with the protocol")
        << QList<QStringList>{answer({header26, QStringLiteral("CLIENT_LIST,road,udp4:203.0.113.5:52137,10.8.0.6,,5,6,x,1262304000,UNDEF,1,0,AES-256-GCM")})}
        << QStringList{QStringLiteral("road|Connected: 10.01.01 02:00:00|Real address: udp4:203.0.113.5:52137|"
                                      "VPN address: 10.8.0.6|Sent bytes: 5|Received bytes: 6")};
    QTest::newRow("other sections and lower case are no clients")
        << QList<QStringList>{answer({QStringLiteral("ROUTING_TABLE,10.8.0.6,alice,198.51.100.7:1194,x,1"),
                                      QStringLiteral("client_list,alice,a,b,1,2,t,0")})}
        << QStringList{};
}

void tst_ClientListView::merge()
{
    QFETCH(QList<QStringList>, answers);
    QFETCH(QStringList, expected);
    ClientListView view;
    for (const QStringList &status : answers)
        view.setStatus(status);
    QCOMPARE(rows(view), expected);
}

void tst_ClientListView::panelsLiveWithTheirRows()
{
    ClientListView view;
    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}));
    QPointer<ClientStatusWidget> a = panelOf(view, 0);
    QPointer<ClientStatusWidget> b = panelOf(view, 1);
    view.setStatus(answer({header26, line26(QStringLiteral("b"), 5), line26(QStringLiteral("a"), 6)}));
    QCOMPARE(panelOf(view, 0), a.data());
    QCOMPARE(panelOf(view, 1), b.data());

    view.setStatus(answer({header26, line26(QStringLiteral("b"), 5)}));
    QTRY_VERIFY(a.isNull());
    QCOMPARE(panelOf(view, 0), b.data());

    view.clearClients();
    QCOMPARE(view.topLevelItemCount(), 0);
    QTRY_VERIFY(b.isNull());
}

void tst_ClientListView::disconnectRequested_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::newRow("a panel that shows its client") << line26(QStringLiteral("client2"), 2) << "client2";
    QTest::newRow("a panel left blank asks for no name") << QStringLiteral("CLIENT_LIST,client2,127.0.0.1:1") << "";
}

void tst_ClientListView::disconnectRequested()
{
    QFETCH(QString, line);
    QFETCH(QString, name);
    ClientListView view;
    QSignalSpy requested(&view, &ClientListView::disconnectRequested);
    view.setStatus(answer({header26, line26(QStringLiteral("client1"), 1), line}));
    QTest::mouseClick(disconnectButton(view, 1), Qt::LeftButton);
    QCOMPARE(requested.size(), 1);
    QCOMPARE(requested.first().first().toString(), name);
}

void tst_ClientListView::disconnectEnabled()
{
    ClientListView view;
    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1)}));
    QVERIFY(disconnectButton(view, 0)->isEnabled());

    view.setDisconnectEnabled(false);
    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}));
    QVERIFY(!disconnectButton(view, 0)->isEnabled());
    QVERIFY(!disconnectButton(view, 1)->isEnabled());

    view.setDisconnectEnabled(true);
    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2), line26(QStringLiteral("c"), 3)}));
    for (int row = 0; row < 3; ++row)
        QVERIFY(disconnectButton(view, row)->isEnabled());
}

// New panels go in while the list is hidden; a panel's button that had the focus keeps it.
void tst_ClientListView::focusStaysWhenClientsArrive()
{
    ClientListView view;
    view.resize(500, 300);
    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}));
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QPushButton *button = disconnectButton(view, 1);
    button->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), button);

    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2), line26(QStringLiteral("c"), 3)}));
    QCOMPARE(view.topLevelItemCount(), 3);
    QCOMPARE(QApplication::focusWidget(), button);
}

QTEST_MAIN(tst_ClientListView)
#include "tst_clientlistview.moc"
