#include "ui/clientlistview.h"

#include "management/qttelnet.h"
#include "support/scriptedopenvpnpeer.h"
#include "ui/clientstatuswidget.h"

#include <QApplication>
#include <QLabel>
#include <QScrollBar>
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
    return ScriptedOpenVpnPeer::clientLine26(name, bytes);
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

QPushButton *disconnectButton(const ClientListView &view, int row)
{
    const ClientStatusWidget *panel = view.panelAt(row);
    return panel ? panel->findChild<QPushButton *>(QStringLiteral("disconnectButton")) : nullptr;
}

// The rows in view: a panel on screen over each, and none for the rows above and below.
QList<int> rowsInView(const ClientListView &view)
{
    QList<int> result;
    for (int row = 0; row < view.topLevelItemCount(); ++row) {
        const QRect rect = view.visualItemRect(view.topLevelItem(row));
        const ClientStatusWidget *panel = view.panelAt(row);
        if (rect.bottom() < 0 || rect.top() >= view.viewport()->height()) {
            if (panel && panel->isVisible() && !panel->hasFocus() && !panel->isAncestorOf(QApplication::focusWidget()))
                return {-1 - row};
            continue;
        }
        if (!panel || !panel->isVisible() || panel->geometry() != rect)
            return {-1 - row};
        result.append(row);
    }
    return result;
}

// "name|connected|real|vpn|sent|received" per row (all of them, or those given), the name
// being the row's key; checks the title and the item on the way.
QStringList rows(const ClientListView &view, QList<int> which = {})
{
    const QStringList names = view.clientNames();
    if (names.size() != view.topLevelItemCount())
        return {QStringLiteral("%1 names for %2 rows").arg(names.size()).arg(view.topLevelItemCount())};
    if (which.isEmpty()) {
        for (int i = 0; i < names.size(); ++i)
            which.append(i);
    }
    QStringList result;
    for (const int i : std::as_const(which)) {
        const ClientStatusWidget *panel = view.panelAt(i);
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

// Shows the list at that size and waits until it is on screen.
bool shown(ClientListView &view, QSize size = QSize(500, 600))
{
    view.resize(size);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

} // namespace

class tst_ClientListView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void merge_data();
    void merge();
    void panelsFollowTheirRows_data();
    void panelsFollowTheirRows();
    void tabGoesFromRowToRow_data();
    void tabGoesFromRowToRow();
    void disconnectRequested_data();
    void disconnectRequested();
    void disconnectEnabled();
    void focusStaysWhenClientsArrive();
    void clientIds_data();
    void clientIds();
    void namesAreTheirBytes();
    void valuesAreNeverCut_data();
    void valuesAreNeverCut();
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
    QVERIFY(shown(view));
    for (const QStringList &status : answers)
        view.setStatus(status);
    QCOMPARE(rows(view), expected);
}

void tst_ClientListView::panelsFollowTheirRows_data()
{
    QTest::addColumn<QString>("step");
    // Where the list stands afterwards: the first row in view.
    QTest::addColumn<int>("topRow");

    QTest::newRow("first fill") << "" << 0;
    QTest::newRow("scrolled to the middle") << "middle" << 25;
    QTest::newRow("scrolled to the end and back to a blank row") << "end,back" << 7;
    QTest::newRow("a poll with new counts while scrolled") << "middle,poll" << 25;
    QTest::newRow("clients above leave while scrolled") << "middle,leave" << 25;
    QTest::newRow("list hidden, scrolled and shown again") << "hide,middle,show" << 25;
    QTest::newRow("emptied while scrolled, then filled again") << "middle,clear,fill" << 0;
}

// A screenful of panels serves all the rows: whichever row a panel showed before, it shows
// its present row's client, blank for a client without a line it could show, and its
// Disconnect button asks for that client. A poll leaves the list where the user scrolled it.
void tst_ClientListView::panelsFollowTheirRows()
{
    QFETCH(QString, step);
    QFETCH(int, topRow);

    constexpr int clients = 50;
    // Every seventh client has a line the panel cannot show.
    const auto lines = [](int bytes, int from) {
        QStringList result{header26};
        for (int i = from; i < clients; ++i) {
            const QString name = QStringLiteral("client%1").arg(i);
            result.append(i % 7 == 0 ? QStringLiteral("CLIENT_LIST,%1,127.0.0.1:1").arg(name) : line26(name, bytes + i));
        }
        return answer(result);
    };
    const auto expectedRow = [](int client, int bytes) {
        const QString name = QStringLiteral("client%1").arg(client);
        return client % 7 == 0 ? name + QStringLiteral("|||||") : row26(name, bytes + client);
    };

    ClientListView view;
    QVERIFY(shown(view, QSize(500, 300)));
    QSignalSpy requested(&view, &ClientListView::disconnectRequested);
    view.setStatus(lines(100, 0));
    int bytes = 100;
    // Clients that left, all from the top.
    int gone = 0;
    QScrollBar *bar = view.verticalScrollBar();
    int value = bar->value();
    for (const QString &action : step.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (action == QLatin1String("middle")) {
            view.scrollToItem(view.topLevelItem(25 - gone), QAbstractItemView::PositionAtTop);
        } else if (action == QLatin1String("end")) {
            view.scrollToBottom();
        } else if (action == QLatin1String("back")) {
            view.scrollToItem(view.topLevelItem(7), QAbstractItemView::PositionAtTop);
        } else if (action == QLatin1String("poll")) {
            bytes = 1000;
            view.setStatus(lines(bytes, 0));
        } else if (action == QLatin1String("leave")) {
            gone = 3;
            view.setStatus(lines(bytes, gone));
        } else if (action == QLatin1String("clear")) {
            // At once: no panel may stay on screen for a row that is gone.
            view.clearClients();
            for (const ClientStatusWidget *panel : view.viewport()->findChildren<ClientStatusWidget *>())
                QVERIFY(!panel->isVisible());
        } else if (action == QLatin1String("fill")) {
            view.setStatus(lines(bytes, 0));
        } else if (action == QLatin1String("hide")) {
            view.hide();
        } else if (action == QLatin1String("show")) {
            view.show();
        }
        QCoreApplication::processEvents();
        if (action != QLatin1String("poll") && action != QLatin1String("leave") && action != QLatin1String("fill"))
            value = bar->value();
    }
    // A poll keeps the place; clients leaving above move the rows up under it, as before.
    QCOMPARE(bar->value(), value);

    const QList<int> inView = rowsInView(view);
    QVERIFY2(inView.size() >= 2 && inView.first() >= 0, qPrintable(QString::number(inView.value(0))));
    QCOMPARE(view.clientNames().at(inView.first()), QStringLiteral("client%1").arg(topRow + (step.contains(QLatin1String("leave")) ? gone : 0)));
    QStringList expected;
    for (const int row : inView)
        expected.append(expectedRow(row + gone, bytes));
    QCOMPARE(rows(view, inView), expected);

    for (const int row : inView) {
        QTest::mouseClick(disconnectButton(view, row), Qt::LeftButton);
        const int client = row + gone;
        QCOMPARE(requested.takeFirst().first().toString(), client % 7 == 0 ? QString() : QStringLiteral("client%1").arg(client));
    }
}

// Tab and Backtab go from one client's Disconnect button to the next one's, past the rows in
// view, bringing the row it goes to into view.
void tst_ClientListView::tabGoesFromRowToRow_data()
{
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("from");
    QTest::newRow("Tab from the last row in view") << true << -1;
    QTest::newRow("Backtab from the first row in view") << false << 0;
}

void tst_ClientListView::tabGoesFromRowToRow()
{
    QFETCH(bool, forward);
    QFETCH(int, from);

    QStringList lines{header26};
    for (int i = 0; i < 30; ++i)
        lines.append(line26(QStringLiteral("client%1").arg(i), i));
    ClientListView view;
    QVERIFY(shown(view, QSize(500, 300)));
    QVERIFY(QTest::qWaitForWindowActive(&view));
    view.setStatus(answer(lines));
    view.scrollToItem(view.topLevelItem(10), QAbstractItemView::PositionAtTop);
    QCoreApplication::processEvents();
    const QList<int> inView = rowsInView(view);
    QVERIFY(inView.size() >= 2 && inView.first() == 10);
    const int start = from < 0 ? inView.last() : inView.first();
    disconnectButton(view, start)->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), disconnectButton(view, start));

    for (int step = 1; step <= inView.size() + 2; ++step) {
        QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab);
        const int row = start + (forward ? step : -step);
        QCoreApplication::processEvents();
        QVERIFY2(rowsInView(view).contains(row), qPrintable(QString::number(row)));
        QCOMPARE(QApplication::focusWidget(), disconnectButton(view, row));
    }
    // The list is where the focus took it, and every row in view has its panel.
    QCOMPARE(rows(view, rowsInView(view)).size(), rowsInView(view).size());
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
    QVERIFY(shown(view));
    QSignalSpy requested(&view, &ClientListView::disconnectRequested);
    view.setStatus(answer({header26, line26(QStringLiteral("client1"), 1), line}));
    QTest::mouseClick(disconnectButton(view, 1), Qt::LeftButton);
    QCOMPARE(requested.size(), 1);
    QCOMPARE(requested.first().first().toString(), name);
}

void tst_ClientListView::disconnectEnabled()
{
    ClientListView view;
    QVERIFY(shown(view));
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

// The Disconnect button with the focus keeps it, and stays with its client, while others
// come and go.
void tst_ClientListView::focusStaysWhenClientsArrive()
{
    ClientListView view;
    QVERIFY(shown(view, QSize(500, 300)));
    QVERIFY(QTest::qWaitForWindowActive(&view));
    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2)}));
    QPushButton *button = disconnectButton(view, 1);
    button->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), button);

    view.setStatus(answer({header26, line26(QStringLiteral("a"), 1), line26(QStringLiteral("b"), 2), line26(QStringLiteral("c"), 3)}));
    QCOMPARE(view.topLevelItemCount(), 3);
    QCOMPARE(QApplication::focusWidget(), button);
    view.setStatus(answer({header26, line26(QStringLiteral("b"), 2), line26(QStringLiteral("c"), 3)}));
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::focusWidget(), disconnectButton(view, 0));
    QCOMPARE(rows(view, {0}), QStringList{row26(QStringLiteral("b"), 2)});
}

void tst_ClientListView::clientIds_data()
{
    QTest::addColumn<QList<QStringList>>("answers");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<qint64>>("ids");

    const auto client = [](const QString &name, int id) {
        return QStringLiteral("CLIENT_LIST,%1,127.0.0.1:1,10.88.0.2,,1,2,x,1262304000,UNDEF,%2,0,AES-256-GCM").arg(name).arg(id);
    };
    QTest::newRow("each connection of a name")
        << QList<QStringList>{answer({header26, client(QStringLiteral("x:y"), 7), client(QStringLiteral("a"), 8),
                                      client(QStringLiteral("x:y"), 12)})}
        << "x:y" << QList<qint64>{7, 12};
    QTest::newRow("those of the latest answer")
        << QList<QStringList>{answer({header26, client(QStringLiteral("x:y"), 7), client(QStringLiteral("x:y"), 12)}),
                              answer({header26, client(QStringLiteral("x:y"), 12), client(QStringLiteral("x:y"), 15)})}
        << "x:y" << QList<qint64>{12, 15};
    QTest::newRow("a name no longer listed")
        << QList<QStringList>{answer({header26, client(QStringLiteral("x:y"), 7)}), answer({header26, client(QStringLiteral("a"), 8)})}
        << "x:y" << QList<qint64>{};
    QTest::newRow("an answer without client IDs")
        << QList<QStringList>{answer({QStringLiteral("CLIENT_LIST,x:y,198.51.100.7:1194,10.8.0.6,100,200,x,1262304000")})}
        << "x:y" << QList<qint64>{};
}

void tst_ClientListView::clientIds()
{
    QFETCH(QList<QStringList>, answers);
    QFETCH(QString, name);
    QFETCH(QList<qint64>, ids);
    ClientListView view;
    for (const QStringList &status : answers)
        view.setStatus(status);
    QCOMPARE(view.clientIds(name), ids);
}

// 1,000 clients whose names differ only in bytes that are or are not UTF-8, or in what could
// pass for them: 1,000 rows, and each row's Disconnect asks for its own client's bytes.
void tst_ClientListView::namesAreTheirBytes()
{
    const QList<QByteArray> pieces{"\xe9",         "\xc3\xa9", "\xc3\xa9\xcd\x8f", "\xcd\x8f", "e\xcc\x81",
                                   "\xc3",         "\xa9",      "\xed\xa0\x80",     "\xc0\xa9", "\xef\xbb\xbf"};
    QList<QByteArray> names;
    for (int i = 0; names.size() < 1000; ++i) {
        QByteArray name = "caf";
        for (int n = i; n > 0; n /= int(pieces.size()))
            name += pieces.at(n % pieces.size());
        if (!names.contains(name))
            names.append(name);
    }
    QByteArray bytes = header26.toUtf8() + "\r\n";
    for (const QByteArray &name : std::as_const(names))
        bytes += "CLIENT_LIST," + name + ",127.0.0.1:1,10.88.0.2,,1,2,x,1262304000,UNDEF,0,0,AES-256-GCM\r\n";
    bytes += "END\r\n";
    // The answer as the transport hands it up.
    QStringList status;
    for (const QByteArray &line : bytes.split('\n')) {
        if (!line.isEmpty())
            status.append(QtTelnet::lineFromBytes(line.constData(), line.size()) + u'\n');
    }

    ClientListView view;
    QVERIFY(shown(view, QSize(500, 300)));
    view.setStatus(status);
    QCOMPARE(view.topLevelItemCount(), names.size());
    QSignalSpy requested(&view, &ClientListView::disconnectRequested);
    for (int row = 0; row < names.size(); ++row) {
        view.scrollToItem(view.topLevelItem(row));
        QPushButton *button = disconnectButton(view, row);
        QVERIFY(button);
        button->click();
        QCOMPARE(requested.size(), 1);
        QCOMPARE(QtTelnet::bytesFromLine(requested.takeFirst().first().toString()), names.at(row));
    }
}

void tst_ClientListView::valuesAreNeverCut_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("width");

    QTest::newRow("an ordinary client, wide enough")
        << QStringLiteral("CLIENT_LIST,client1,198.51.100.7:50108,10.8.0.6,,100,200,x,1262304000,UNDEF,0,0,AES-256-GCM") << 500;
    QTest::newRow("a long address, narrow")
        << QStringLiteral("CLIENT_LIST,client1,udp6:[2001:db8:85a3::8a2e:370:7334]:50108,10.8.0.6,,100,200,x,1262304000,UNDEF,0,0,AES-256-GCM")
        << 300;
    QTest::newRow("a long name")
        << QStringLiteral("CLIENT_LIST,%1,172.31.200.12:50108,10.8.0.6,,100,200,x,1262304000,UNDEF,0,0,AES-256-GCM")
               .arg(QString(60, u'n'))
        << 500;
    QTest::newRow("big byte counts, narrow")
        << QStringLiteral("CLIENT_LIST,client1,172.31.200.12:50108,10.8.0.6,,123456789012345,987654321098765,x,1262304000,UNDEF,0,0,AES-256-GCM")
        << 250;
}

// However narrow the list, a panel shows each value whole: the panel keeps the width it needs
// and the list scrolls sideways.
void tst_ClientListView::valuesAreNeverCut()
{
    QFETCH(QString, line);
    QFETCH(int, width);
    ClientListView view;
    QVERIFY(shown(view, QSize(width, 300)));
    view.setStatus(answer({header26, line, line26(QStringLiteral("client2"), 2)}));
    QCoreApplication::processEvents();
    for (int row = 0; row < 2; ++row) {
        const ClientStatusWidget *panel = view.panelAt(row);
        QVERIFY(panel);
        for (const QLabel *label : panel->findChildren<QLabel *>()) {
            QVERIFY2(label->width() >= label->sizeHint().width(),
                     qPrintable(QStringLiteral("%1: %2 of %3 pixels").arg(label->text()).arg(label->width()).arg(label->sizeHint().width())));
        }
        const QPushButton *button = panel->findChild<QPushButton *>(QStringLiteral("disconnectButton"));
        QVERIFY(button->width() >= button->sizeHint().width());
        QVERIFY(panel->rect().contains(button->geometry()));
    }
    // Scrolled to the far side, the end of the widest panel is on screen.
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    QCoreApplication::processEvents();
    int right = 0;
    for (int row = 0; row < 2; ++row)
        right = qMax(right, view.panelAt(row)->geometry().right());
    QVERIFY2(right < view.viewport()->width(), qPrintable(QStringLiteral("%1 of %2").arg(right).arg(view.viewport()->width())));
    QCOMPARE(rowsInView(view).size(), 2);
}

QTEST_MAIN(tst_ClientListView)
#include "tst_clientlistview.moc"
