#include "ui/clientrowkeys.h"

#include <QTest>

namespace {

// A client line in the eight-field layout the panels show.
QString line8(const QString &name, const QString &real, const QString &vpn, quint64 sent, quint64 received, quint64 since)
{
    return QStringLiteral("CLIENT_LIST,%1,%2,%3,%4,%5,2026-12-07 19:50:38,%6").arg(name, real, vpn).arg(sent).arg(received).arg(since);
}

ClientRowKeys keys(const QString &name, const QString &line, quint64 appeared = 0)
{
    ClientRowKeys result(name, appeared);
    result.setLine(line);
    return result;
}

} // namespace

class tst_ClientRowKeys : public QObject
{
    Q_OBJECT

private slots:
    void matches_data();
    void matches();
    void before_data();
    void before();
};

void tst_ClientRowKeys::matches_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("match");

    const QString alice = line8(QStringLiteral("Alice"), QStringLiteral("198.51.100.7:40001"), QStringLiteral("10.8.0.6"), 1, 2, 3);
    QTest::newRow("part of the name") << "Alice" << alice << "lic" << true;
    QTest::newRow("name, another case") << "Alice" << alice << "ALI" << true;
    QTest::newRow("name, case folded beyond ASCII") << QStringLiteral("STRASSE-Ǆ") << QString() << QStringLiteral("strasse-ǆ") << true;
    QTest::newRow("real address with its port") << "Alice" << alice << "100.7:4000" << true;
    QTest::newRow("VPN address") << "Alice" << alice << "10.8.0.6" << true;
    QTest::newRow("white space around the text") << "Alice" << alice << "  alice\t" << true;
    QTest::newRow("no field has it") << "Alice" << alice << "bob" << false;
    QTest::newRow("not across two fields") << "Alice" << alice << "alice,198" << false;
    QTest::newRow("byte that is not UTF-8, as shown") << QStringLiteral("caf") + QChar(0xDCE9) << QString() << "CAF\\XE9" << true;
    QTest::newRow("byte that is not UTF-8, not as its stand-in") << QStringLiteral("caf") + QChar(0xDCE9) << QString()
                                                                  << QString(QChar(0xDCE9)) << false;
    QTest::newRow("hidden character, as shown") << QStringLiteral("a\u200Bb") << QString() << "a\\u200bb" << true;
    QTest::newRow("hidden character passes for nothing") << QStringLiteral("a\u200Bb") << QString() << "ab" << false;
    QTest::newRow("line the panel does not show: the name only") << "Alice" << QStringLiteral("CLIENT_LIST,Alice,198.51.100.7:1")
                                                                 << "198.51" << false;
    QTest::newRow("nine fields: the name only") << "Alice" << alice + QStringLiteral(",x") << "10.8" << false;
    QTest::newRow("empty fields") << "Alice" << QStringLiteral("CLIENT_LIST,Alice,,10.8.0.6,,,,") << "10.8.0.6" << true;
}

void tst_ClientRowKeys::matches()
{
    QFETCH(QString, name);
    QFETCH(QString, line);
    QFETCH(QString, typed);
    QFETCH(bool, match);
    QCOMPARE(keys(name, line).matches(ClientRowKeys::filterText(typed)), match);
}

void tst_ClientRowKeys::before_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("secondName");
    QTest::addColumn<QString>("secondLine");
    // Whether the first client appeared before the second: where it did not, only the order's
    // value can put it first.
    QTest::addColumn<bool>("appearedFirst");

    const auto client = [](const char *name, quint64 sent, quint64 received, quint64 since) {
        return line8(QLatin1String(name), QStringLiteral("198.51.100.7:1"), QStringLiteral("10.8.0.6"), sent, received, since);
    };
    QTest::newRow("answer order: the one that appeared first") << int(ClientRowKeys::AnswerOrder) << "b" << client("b", 1, 1, 1)
                                                               << "a" << client("a", 9, 9, 9) << true;
    QTest::newRow("name: A to Z") << int(ClientRowKeys::NameOrder) << "a" << client("a", 1, 1, 1) << "b" << client("b", 9, 9, 9) << false;
    QTest::newRow("name: case does not count") << int(ClientRowKeys::NameOrder) << "alice" << QString() << "Bob" << QString() << false;
    QTest::newRow("name: numbers by their value") << int(ClientRowKeys::NameOrder) << "client2" << QString() << "client10" << QString() << false;
    QTest::newRow("name: a tie keeps the answer order") << int(ClientRowKeys::NameOrder) << "same" << QString() << "same" << QString() << true;
    QTest::newRow("connected since: newest first") << int(ClientRowKeys::ConnectedSinceOrder) << "a" << client("a", 1, 1, 1796673038)
                                                   << "b" << client("b", 1, 1, 1796673037) << false;
    QTest::newRow("sent bytes: biggest first, by value") << int(ClientRowKeys::SentBytesOrder) << "a" << client("a", 10, 1, 1) << "b"
                                                         << client("b", 9, 2, 2) << false;
    QTest::newRow("sent bytes: beyond 32 bits") << int(ClientRowKeys::SentBytesOrder) << "a" << client("a", 5000000000, 1, 1) << "b"
                                                << client("b", 4000000000, 1, 1) << false;
    QTest::newRow("received bytes: biggest first") << int(ClientRowKeys::ReceivedBytesOrder) << "a" << client("a", 1, 100, 1) << "b"
                                                   << client("b", 2, 99, 2) << false;
    QTest::newRow("received bytes: a tie keeps the answer order") << int(ClientRowKeys::ReceivedBytesOrder) << "b"
                                                                  << client("b", 1, 7, 1) << "a" << client("a", 2, 7, 2) << true;
    QTest::newRow("sent bytes: white space around the count") << int(ClientRowKeys::SentBytesOrder) << "a"
                                                               << QStringLiteral("CLIENT_LIST,a,r,v, 10 ,1,x,1") << "b" << client("b", 9, 1, 1)
                                                               << false;
    QTest::newRow("sent bytes: what is not a count counts as 0") << int(ClientRowKeys::SentBytesOrder) << "a" << client("a", 1, 1, 1)
                                                                 << "b" << QStringLiteral("CLIENT_LIST,b,r,v,9x,1,x,1") << false;
    QTest::newRow("sent bytes: beyond 64 bits counts as 0") << int(ClientRowKeys::SentBytesOrder) << "a" << client("a", 1, 1, 1)
                                                            << "b" << QStringLiteral("CLIENT_LIST,b,r,v,18446744073709551616,1,x,1")
                                                            << false;
    QTest::newRow("no line counts as nothing moved") << int(ClientRowKeys::SentBytesOrder) << "a" << client("a", 1, 1, 1) << "b"
                                                     << QString() << false;
}

void tst_ClientRowKeys::before()
{
    QFETCH(int, order);
    QFETCH(QString, firstName);
    QFETCH(QString, firstLine);
    QFETCH(QString, secondName);
    QFETCH(QString, secondLine);
    QFETCH(bool, appearedFirst);
    const ClientRowKeys first = keys(firstName, firstLine, appearedFirst ? 1 : 2);
    const ClientRowKeys second = keys(secondName, secondLine, appearedFirst ? 2 : 1);
    const auto by = ClientRowKeys::Order(order);
    QVERIFY(first.before(second, by));
    QVERIFY(!second.before(first, by));
    QVERIFY(!first.before(first, by));
}

QTEST_GUILESS_MAIN(tst_ClientRowKeys)
#include "tst_clientrowkeys.moc"
