#include "ui/clientstatuswidget.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

namespace {

const QString client1 = QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,2048,2028,2026-12-07 19:50:38,1796673038\r\n");

QString text(const ClientStatusWidget &panel, const char *name)
{
    const auto *label = panel.findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

QStringList texts(const ClientStatusWidget &panel)
{
    return {text(panel, "titleLabel"), text(panel, "connectedLabel"), text(panel, "realAddressLabel"),
            text(panel, "vpnAddressLabel"), text(panel, "sentLabel"), text(panel, "receivedLabel")};
}

} // namespace

class tst_ClientStatusWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout();
    void setStatus_data();
    void setStatus();
    void refusedLineKeepsPanel_data();
    void refusedLineKeepsPanel();
    void disconnectButton();
};

void tst_ClientStatusWidget::initTestCase()
{
    qputenv("TZ", "PYL-02");
    tzset();
}

void tst_ClientStatusWidget::layout()
{
    ClientStatusWidget panel;
    auto *grid = qobject_cast<QGridLayout *>(panel.layout());
    QVERIFY(grid);

    struct Cell { const char *name; int row, column, rowSpan, columnSpan; };
    const Cell cells[] = {
        {"titleLabel", 0, 0, 1, 2},      {"connectedLabel", 1, 0, 1, 1},  {"realAddressLabel", 2, 0, 1, 1},
        {"vpnAddressLabel", 3, 0, 1, 1}, {"sentLabel", 1, 1, 1, 1},       {"receivedLabel", 2, 1, 1, 1},
        {"disconnectButton", 3, 2, 1, 1},
    };
    for (const Cell &cell : cells) {
        auto *widget = panel.findChild<QWidget *>(QLatin1String(cell.name));
        QVERIFY2(widget, cell.name);
        const int index = grid->indexOf(widget);
        QVERIFY2(index >= 0, cell.name);
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}),
                 QList<int>({cell.row, cell.column, cell.rowSpan, cell.columnSpan}));
    }
    QCOMPARE(grid->columnStretch(0), 1);
    QCOMPARE(grid->columnStretch(1), 1);
    QCOMPARE(grid->columnStretch(2), 0);
    QCOMPARE(panel.findChild<QPushButton *>(QStringLiteral("disconnectButton"))->text(), QStringLiteral("Disconnect"));
    QCOMPARE(texts(panel), QStringList(6, QString()));
}

void tst_ClientStatusWidget::setStatus_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("status line with terminator")
        << client1
        << QStringList{QStringLiteral("<h2 style=\"color: #0080FF\">client1</h2>"), QStringLiteral("Connected: 26.12.07 21:50:38"),
                       QStringLiteral("Real address: 127.0.0.1:47228"), QStringLiteral("VPN address: 10.88.0.2"),
                       QStringLiteral("Sent bytes: 2048"), QStringLiteral("Received bytes: 2028")};
    QTest::newRow("2.7 address, big counts unformatted, no terminator")
        << QStringLiteral("CLIENT_LIST,road,udp4:203.0.113.5:52137,10.8.0.6,123456789012,0,x,1262304000")
        << QStringList{QStringLiteral("<h2 style=\"color: #0080FF\">road</h2>"), QStringLiteral("Connected: 10.01.01 02:00:00"),
                       QStringLiteral("Real address: udp4:203.0.113.5:52137"), QStringLiteral("VPN address: 10.8.0.6"),
                       QStringLiteral("Sent bytes: 123456789012"), QStringLiteral("Received bytes: 0")};
    QTest::newRow("time that is no number is the epoch")
        << QStringLiteral("CLIENT_LIST,c,a,v,1,2,t,never\r\n")
        << QStringList{QStringLiteral("<h2 style=\"color: #0080FF\">c</h2>"), QStringLiteral("Connected: 70.01.01 02:00:00"),
                       QStringLiteral("Real address: a"), QStringLiteral("VPN address: v"),
                       QStringLiteral("Sent bytes: 1"), QStringLiteral("Received bytes: 2")};
    QTest::newRow("time beyond what a date holds is the epoch")
        << QStringLiteral("CLIENT_LIST,c,a,v,1,2,t,18446744073709551615")
        << QStringList{QStringLiteral("<h2 style=\"color: #0080FF\">c</h2>"), QStringLiteral("Connected: 70.01.01 02:00:00"),
                       QStringLiteral("Real address: a"), QStringLiteral("VPN address: v"),
                       QStringLiteral("Sent bytes: 1"), QStringLiteral("Received bytes: 2")};
    QTest::newRow("markup in the common name is shown as text")
        << QStringLiteral("CLIENT_LIST,<b>x</b>&,a,v,1,2,t,0")
        << QStringList{QStringLiteral("<h2 style=\"color: #0080FF\">&lt;b&gt;x&lt;/b&gt;&amp;</h2>"), QStringLiteral("Connected: 70.01.01 02:00:00"),
                       QStringLiteral("Real address: a"), QStringLiteral("VPN address: v"),
                       QStringLiteral("Sent bytes: 1"), QStringLiteral("Received bytes: 2")};
}

void tst_ClientStatusWidget::setStatus()
{
    QFETCH(QString, line);
    QFETCH(QStringList, expected);

    ClientStatusWidget panel;
    panel.setStatus(line);
    QCOMPARE(texts(panel), expected);
    for (const char *name : {"connectedLabel", "realAddressLabel", "vpnAddressLabel", "sentLabel", "receivedLabel"})
        QCOMPARE(panel.findChild<QLabel *>(QLatin1String(name))->textFormat(), Qt::PlainText);
}

void tst_ClientStatusWidget::refusedLineKeepsPanel_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("seven fields") << QStringLiteral("CLIENT_LIST,other,a,v,1,2,t");
    QTest::newRow("nine fields") << QStringLiteral("CLIENT_LIST,other,a,v,1,2,t,0,UNDEF\r\n");
    QTest::newRow("thirteen fields") << QStringLiteral("CLIENT_LIST,other,a,v,,1,2,t,0,UNDEF,0,0,AES-256-GCM\r\n");
    QTest::newRow("other first word") << QStringLiteral("ROUTING_TABLE,other,a,v,1,2,t,0");
    QTest::newRow("word with a suffix") << QStringLiteral("CLIENT_LISTX,other,a,v,1,2,t,0");
    QTest::newRow("empty line") << QString();
}

void tst_ClientStatusWidget::refusedLineKeepsPanel()
{
    QFETCH(QString, line);
    ClientStatusWidget panel;
    panel.setStatus(client1);
    const QStringList before = texts(panel);
    QSignalSpy disconnected(&panel, &ClientStatusWidget::clientDisconnected);

    panel.setStatus(line);
    QCOMPARE(texts(panel), before);
    panel.clientDisconnect();
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(disconnected.at(0).at(0).toString(), QStringLiteral("client1"));
}

void tst_ClientStatusWidget::disconnectButton()
{
    ClientStatusWidget panel;
    QSignalSpy disconnected(&panel, &ClientStatusWidget::clientDisconnected);
    auto *button = panel.findChild<QPushButton *>(QStringLiteral("disconnectButton"));

    // A panel that never got a valid line asks for an empty name.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(disconnected.at(0).at(0).toString(), QString());

    panel.setStatus(client1);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(disconnected.size(), 2);
    QCOMPARE(disconnected.at(1).at(0).toString(), QStringLiteral("client1"));

    panel.setStatus(QStringLiteral("CLIENT_LIST,client9,a,v,1,2,t,0"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(disconnected.at(2).at(0).toString(), QStringLiteral("client9"));
}

QTEST_MAIN(tst_ClientStatusWidget)
#include "tst_clientstatuswidget.moc"
