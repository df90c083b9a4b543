#include "ui/vpnnotifications.h"

#include <QTest>

class tst_VpnNotifications : public QObject
{
    Q_OBJECT

private slots:
    void clientsText_data();
    void clientsText();
};

void tst_VpnNotifications::clientsText_data()
{
    QTest::addColumn<QStringList>("connected");
    QTest::addColumn<QStringList>("disconnected");
    QTest::addColumn<QString>("text");

    const auto names = [](int count) {
        QStringList list;
        for (int i = 1; i <= count; ++i)
            list.append(QStringLiteral("c%1").arg(i));
        return list;
    };
    QTest::newRow("none") << QStringList() << QStringList() << QString();
    QTest::newRow("one connected") << QStringList{"alice"} << QStringList() << "Client connected: alice";
    QTest::newRow("three connected") << QStringList{"a", "b", "c"} << QStringList() << "3 clients connected: a, b, c";
    QTest::newRow("one disconnected") << QStringList() << QStringList{"bob"} << "Client disconnected: bob";
    QTest::newRow("two disconnected") << QStringList() << QStringList{"a", "b"} << "2 clients disconnected: a, b";
    QTest::newRow("both, one line each") << QStringList{"a", "b"} << QStringList{"c"}
                                         << "2 clients connected: a, b\nClient disconnected: c";
    QTest::newRow("ten listed") << names(10) << QStringList()
                                << "10 clients connected: c1, c2, c3, c4, c5, c6, c7, c8, c9, c10";
    QTest::newRow("beyond ten counted") << names(250) << QStringList()
                                        << "250 clients connected: c1, c2, c3, c4, c5, c6, c7, c8, c9, c10 and 240 more";
    // A byte that is not UTF-8 arrives as U+DC80 + byte; a zero-width space would hide.
    const QString latin1 = QStringLiteral("caf") + QChar(0xDCE9);
    const QString hidden = QStringLiteral("caf\u00E9\u200B");
    QTest::newRow("names shown as the window shows them, one")
        << QStringList{latin1} << QStringList{hidden}
        << "Client connected: caf\\xE9\nClient disconnected: caf\u00E9\\u200B";
    QTest::newRow("names shown as the window shows them, listed")
        << QStringList{latin1, hidden} << QStringList()
        << "2 clients connected: caf\\xE9, caf\u00E9\\u200B";
    QStringList placeholders = names(9);
    placeholders.append({"%2", "%1"});
    QTest::newRow("placeholders in names stay as they are")
        << placeholders << QStringList{"%2 and %1"}
        << "11 clients connected: c1, c2, c3, c4, c5, c6, c7, c8, c9, %2 and 1 more\nClient disconnected: %2 and %1";
}

void tst_VpnNotifications::clientsText()
{
    QFETCH(QStringList, connected);
    QFETCH(QStringList, disconnected);
    QFETCH(QString, text);
    QCOMPARE(VpnNotifications::clientsText(connected, disconnected), text);
}

QTEST_MAIN(tst_VpnNotifications)
#include "tst_vpnnotifications.moc"
