#include "ui/openvpnlogline.h"

#include <QTest>

#include <ctime>

class tst_OpenVpnLogLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void colours_data();
    void colours();
};

void tst_OpenVpnLogLine::initTestCase()
{
    // Two hours east of UTC all year, so local time differs visibly from UTC.
    qputenv("TZ", "PYL-02");
    tzset();
}

void tst_OpenVpnLogLine::parse_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<bool>("hasFields");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QString>("message");

    QTest::newRow("2010-01-01 00:00:00 UTC with line end kept")
        << QStringLiteral("1262304000,I,Initialization Sequence Completed\r\n") << true
        << QStringLiteral("[10.01.01 02:00:00] ") << QStringLiteral("Initialization Sequence Completed\r\n");
    QTest::newRow("message with commas shown whole")
        << QStringLiteral("1796673031,,Data Channel: cipher 'AES-256-GCM', peer-id: 0\r\n") << true
        << QStringLiteral("[26.12.07 21:50:31] ") << QStringLiteral("Data Channel: cipher 'AES-256-GCM', peer-id: 0\r\n");
    QTest::newRow("message of only commas")
        << QStringLiteral("1796673031,W,,,\r\n") << true
        << QStringLiteral("[26.12.07 21:50:31] ") << QStringLiteral(",,\r\n");
    QTest::newRow("line feed added when missing")
        << QStringLiteral("1262304000,N,no end") << true
        << QStringLiteral("[10.01.01 02:00:00] ") << QStringLiteral("no end\n");
    QTest::newRow("empty message")
        << QStringLiteral("1262304000,I,") << true
        << QStringLiteral("[10.01.01 02:00:00] ") << QStringLiteral("\n");
    QTest::newRow("time not a number is the epoch")
        << QStringLiteral("soon,I,text\r\n") << true
        << QStringLiteral("[70.01.01 02:00:00] ") << QStringLiteral("text\r\n");
    QTest::newRow("negative time is the epoch")
        << QStringLiteral("-5,I,text\r\n") << true
        << QStringLiteral("[70.01.01 02:00:00] ") << QStringLiteral("text\r\n");
    QTest::newRow("empty time is the epoch")
        << QStringLiteral(",I,text\r\n") << true
        << QStringLiteral("[70.01.01 02:00:00] ") << QStringLiteral("text\r\n");
    QTest::newRow("time beyond any date is the epoch")
        << QStringLiteral("99999999999999999999,I,text\r\n") << true
        << QStringLiteral("[70.01.01 02:00:00] ") << QStringLiteral("text\r\n");
    QTest::newRow("24-hour clock")
        << QStringLiteral("1262350800,I,afternoon\n") << true
        << QStringLiteral("[10.01.01 15:00:00] ") << QStringLiteral("afternoon\n");
    QTest::newRow("state notification text inside the message")
        << QStringLiteral("1796673031,,MANAGEMENT: >STATE:1796673031,CONNECTED,SUCCESS,10.8.0.2,\r\n") << true
        << QStringLiteral("[26.12.07 21:50:31] ") << QStringLiteral("MANAGEMENT: >STATE:1796673031,CONNECTED,SUCCESS,10.8.0.2,\r\n");
    QTest::newRow("two fields shown whole")
        << QStringLiteral("1262304000,I\r\n") << false << QString() << QStringLiteral("1262304000,I\r\n");
    QTest::newRow("one field shown whole, line feed added")
        << QStringLiteral("garbage") << false << QString() << QStringLiteral("garbage\n");
    QTest::newRow("empty notification")
        << QString() << false << QString() << QStringLiteral("\n");
    QTest::newRow("terminator only")
        << QStringLiteral("\r\n") << false << QString() << QStringLiteral("\r\n");
}

void tst_OpenVpnLogLine::parse()
{
    QFETCH(QString, log);
    QFETCH(bool, hasFields);
    QFETCH(QString, timestamp);
    QFETCH(QString, message);

    const OpenVpnLogLine line = OpenVpnLogLine::parse(log);
    QCOMPARE(line.hasFields, hasFields);
    QCOMPARE(line.timestamp, timestamp);
    QCOMPARE(line.message, message);
    QCOMPARE(line.colour.isValid(), hasFields);
}

void tst_OpenVpnLogLine::colours_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("I") << QStringLiteral("1,I,m\r\n") << QColor(0, 127, 255);
    QTest::newRow("F") << QStringLiteral("1,F,m\r\n") << QColor(255, 0, 0);
    QTest::newRow("N") << QStringLiteral("1,N,m\r\n") << QColor(255, 0, 255);
    QTest::newRow("W") << QStringLiteral("1,W,m\r\n") << QColor(255, 127, 0);
    QTest::newRow("D (debug) is other") << QStringLiteral("1,D,m\r\n") << QColor(0, 255, 127);
    QTest::newRow("no flags") << QStringLiteral("1,,m\r\n") << QColor(0, 255, 127);
    QTest::newRow("lower case i is other") << QStringLiteral("1,i,m\r\n") << QColor(0, 255, 127);
    QTest::newRow("only the first letter counts") << QStringLiteral("1,WF,m\r\n") << QColor(255, 127, 0);
    QTest::newRow("I later in the flags is other") << QStringLiteral("1,DI,m\r\n") << QColor(0, 255, 127);
}

void tst_OpenVpnLogLine::colours()
{
    QFETCH(QString, log);
    QFETCH(QColor, colour);
    QCOMPARE(OpenVpnLogLine::parse(log).colour, colour);
    QCOMPARE(OpenVpnLogLine::timestampColour(), QColor(127, 127, 127));
}

QTEST_GUILESS_MAIN(tst_OpenVpnLogLine)
#include "tst_openvpnlogline.moc"
