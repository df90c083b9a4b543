#include "management/clientlistparser.h"

#include <QTest>

namespace {

const QString header26 = QStringLiteral(
    "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
    "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher\r\n");
const QString header24 = QStringLiteral(
    "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
    "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID\r\n");
const QString header23 = QStringLiteral(
    "HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Bytes Received,Bytes Sent,"
    "Connected Since,Connected Since (time_t),Username\r\n");
const QString routing = QStringLiteral(
    "HEADER,ROUTING_TABLE,Virtual Address,Common Name,Real Address,Last Ref,Last Ref (time_t)\r\n"
    "ROUTING_TABLE,10.88.0.2,client1,127.0.0.1:47228,2026-12-07 19:50:38,1796673038\r\n"
    "GLOBAL_STATS,Max bcast/mcast queue length,1\r\n");

QStringList answer(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        end = end < 0 ? text.size() : end + 1;
        lines.append(text.mid(start, end - start));
        start = end;
    }
    return lines;
}

} // namespace

class tst_ClientListParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void withoutTerminator_data();
    void withoutTerminator();
};

void tst_ClientListParser::parse_data()
{
    QTest::addColumn<QString>("status");
    // One "name|line" per client row, followed by "|ID" where the answer gives the client ID.
    QTest::addColumn<QStringList>("clients");

    const QString eight1 = QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,2048,2028,2026-12-07 19:50:38,1796673038");
    const QString eight2 = QStringLiteral("CLIENT_LIST,client2,127.0.0.1:50001,10.88.0.3,10,20,2026-12-07 19:50:39,1796673039");

    QTest::newRow("eight fields without header")
        << QString(QStringLiteral("TITLE,OpenVPN 2.2\r\nTIME,x,1\r\n") % eight1 % QStringLiteral("\r\n") % eight2
                   % QStringLiteral("\r\nEND\r\n"))
        << QStringList{QStringLiteral("client1|") + eight1, QStringLiteral("client2|") + eight2};

    QTest::newRow("thirteen fields under the 2.6 header")
        << QString(QStringLiteral("TITLE,OpenVPN 2.6.14\r\nTIME,2026-12-07 19:50:43,1796673043\r\n") % header26
                   % QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM\r\n")
                   % routing % QStringLiteral("END\r\n"))
        << QStringList{QStringLiteral("client1|") + eight1 + QStringLiteral("|0")};

    QTest::newRow("twelve fields under the 2.4 header")
        << QString(header24
                   % QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,fd00::2,2048,2028,2026-12-07 19:50:38,1796673038,bob,4,1\r\nEND\r\n"))
        << QStringList{QStringLiteral("client1|") + eight1 + QStringLiteral("|4")};

    QTest::newRow("nine fields under the 2.3 header")
        << QString(header23
                   % QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF\r\nEND\r\n"))
        << QStringList{QStringLiteral("client1|") + eight1};

    QTest::newRow("2.7 real address with protocol shown as it comes")
        << QString(header26
                   % QStringLiteral("CLIENT_LIST,road,udp4:203.0.113.5:52137,10.8.0.6,,5,6,2027-01-01 00:00:00,1798761600,UNDEF,1,0,AES-256-GCM\r\nEND\r\n"))
        << QStringList{QStringLiteral("road|CLIENT_LIST,road,udp4:203.0.113.5:52137,10.8.0.6,5,6,2027-01-01 00:00:00,1798761600|1")};

    QTest::newRow("header columns in another order")
        << QStringLiteral("HEADER,CLIENT_LIST,Real Address,Bytes Sent,Common Name,Connected Since (time_t),Virtual Address,Bytes Received\r\n"
                          "CLIENT_LIST,1.2.3.4:5,99,alice,1700000000,10.0.0.9,77\r\nEND\r\n")
        << QStringList{QStringLiteral("alice|CLIENT_LIST,alice,1.2.3.4:5,10.0.0.9,77,99,,1700000000")};

    QTest::newRow("client line shorter than its header keeps the row only")
        << QString(header26 % QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2\r\nEND\r\n"))
        << QStringList{QStringLiteral("client1|")};

    QTest::newRow("header without a needed column falls back to eight fields")
        << QString(QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address\r\n") % eight1 % QStringLiteral("\r\nEND\r\n"))
        << QStringList{QStringLiteral("client1|") + eight1};

    QTest::newRow("other lengths without header pass for the panel to refuse")
        << QStringLiteral("CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM\r\nEND\r\n")
        << QStringList{QStringLiteral("client1|CLIENT_LIST,client1,127.0.0.1:47228,10.88.0.2,,2048,2028,2026-12-07 19:50:38,1796673038,UNDEF,0,0,AES-256-GCM")};

    QTest::newRow("client list without second field skipped")
        << QString(QStringLiteral("CLIENT_LIST\r\n") % eight2 % QStringLiteral("\r\nCLIENT_LIST\nEND\r\n"))
        << QStringList{QStringLiteral("client2|") + eight2};

    QTest::newRow("client list without second field skipped under a header")
        << QString(header26 % QStringLiteral("CLIENT_LIST\r\nEND\r\n"))
        << QStringList{};

    QTest::newRow("empty common name is a key")
        << QStringLiteral("CLIENT_LIST,,a,b,1,2,t,3\r\n")
        << QStringList{QStringLiteral("|CLIENT_LIST,,a,b,1,2,t,3")};

    QTest::newRow("prefix match keeps the row, panel refuses the word")
        << QStringLiteral("CLIENT_LISTING,x,a,b,1,2,t,3\r\n")
        << QStringList{QStringLiteral("x|CLIENT_LISTING,x,a,b,1,2,t,3")};

    QTest::newRow("duplicates kept in answer order")
        << QString(eight1 % QStringLiteral("\r\n") % eight1.left(eight1.size() - 1) % QStringLiteral("9\r\n"))
        << QStringList{QStringLiteral("client1|") + eight1, QStringLiteral("client1|") + eight1.left(eight1.size() - 1) + QStringLiteral("9")};

    QTest::newRow("lower case word is no client line")
        << QStringLiteral("client_list,x,a,b,1,2,t,3\r\n")
        << QStringList{};

    QTest::newRow("error answer has no clients")
        << QStringLiteral("ERROR: The 'status' command is not supported by the current daemon mode\r\n")
        << QStringList{};

    QTest::newRow("only other sections")
        << QString(routing % QStringLiteral("END\r\n"))
        << QStringList{};

    QTest::newRow("line feeds only")
        << QString(header26
                   % QStringLiteral("CLIENT_LIST,c,127.0.0.1:1,10.0.0.2,,1,2,d,3,UNDEF,0,0,AES-256-GCM\nEND\n"))
        << QStringList{QStringLiteral("c|CLIENT_LIST,c,127.0.0.1:1,10.0.0.2,1,2,d,3|0")};

    QTest::newRow("client IDs of one name's connections")
        << QString(header26
                   % QStringLiteral("CLIENT_LIST,x:y,127.0.0.1:1,10.0.0.2,,1,2,d,3,UNDEF,7,0,AES-256-GCM\r\n"
                                    "CLIENT_LIST,x:y,127.0.0.1:2,10.0.0.3,,1,2,d,3,UNDEF,12,1,AES-256-GCM\r\nEND\r\n"))
        << QStringList{QStringLiteral("x:y|CLIENT_LIST,x:y,127.0.0.1:1,10.0.0.2,1,2,d,3|7"),
                       QStringLiteral("x:y|CLIENT_LIST,x:y,127.0.0.1:2,10.0.0.3,1,2,d,3|12")};
    QTest::newRow("client ID that is no number is none")
        << QString(header24 % QStringLiteral("CLIENT_LIST,c,127.0.0.1:1,10.0.0.2,,1,2,d,3,UNDEF,7;kill x,0\r\nEND\r\n"))
        << QStringList{QStringLiteral("c|CLIENT_LIST,c,127.0.0.1:1,10.0.0.2,1,2,d,3")};
    QTest::newRow("client ID column missing from a short line")
        << QString(header24 % QStringLiteral("CLIENT_LIST,c,127.0.0.1:1,10.0.0.2,,1,2,d,3,UNDEF\r\nEND\r\n"))
        << QStringList{QStringLiteral("c|CLIENT_LIST,c,127.0.0.1:1,10.0.0.2,1,2,d,3")};
    QTest::newRow("header with the client ID first")
        << QStringLiteral("HEADER,CLIENT_LIST,Client ID,Common Name,Real Address,Virtual Address,Bytes Received,Bytes Sent,Connected Since (time_t)\r\n"
                          "CLIENT_LIST,9,alice,1.2.3.4:5,10.0.0.9,77,99,1700000000\r\nEND\r\n")
        << QStringList{QStringLiteral("alice|CLIENT_LIST,alice,1.2.3.4:5,10.0.0.9,77,99,,1700000000|9")};
}

void tst_ClientListParser::parse()
{
    QFETCH(QString, status);
    QFETCH(QStringList, clients);

    QStringList got;
    for (const ClientListParser::Client &client : ClientListParser::parse(answer(status)))
        got.append(client.commonName + QLatin1Char('|') + client.line
                   + (client.clientId < 0 ? QString() : QLatin1Char('|') + QString::number(client.clientId)));
    QCOMPARE(got, clients);
}

void tst_ClientListParser::withoutTerminator_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("CR LF") << QStringLiteral("a,b\r\n") << QStringLiteral("a,b");
    QTest::newRow("LF") << QStringLiteral("a,b\n") << QStringLiteral("a,b");
    QTest::newRow("none") << QStringLiteral("a,b") << QStringLiteral("a,b");
    QTest::newRow("only terminator") << QStringLiteral("\r\n") << QString();
    QTest::newRow("inner CR kept") << QStringLiteral("a\rb\r\n") << QStringLiteral("a\rb");
}

void tst_ClientListParser::withoutTerminator()
{
    QFETCH(QString, line);
    QFETCH(QString, stripped);
    QCOMPARE(ClientListParser::withoutTerminator(line), stripped);
}

QTEST_GUILESS_MAIN(tst_ClientListParser)
#include "tst_clientlistparser.moc"
