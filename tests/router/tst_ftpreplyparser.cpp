#include "router/ftpreplyparser.h"

#include <QHostAddress>
#include <QTest>

namespace {

using Replies = QList<QPair<int, QString>>;

Replies parseAll(const QByteArray &bytes, qsizetype pieceSize)
{
    FtpReplyParser parser;
    Replies replies;
    for (qsizetype i = 0; i < bytes.size(); i += pieceSize) {
        parser.addData(QByteArrayView(bytes).sliced(i, qMin(pieceSize, bytes.size() - i)));
        while (parser.hasReply()) {
            const FtpReplyParser::Reply reply = parser.takeReply();
            replies.append({reply.code, reply.text});
        }
    }
    return replies;
}

} // namespace

class TestFtpReplyParser : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void overlongLineIsCutAndParsingGoesOn();
    void longMultiLineReplyTextIsCapped();
    void incompleteReplyIsHeldBack();
    void passiveReply_data();
    void passiveReply();
};

void TestFtpReplyParser::replies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Replies>("expected");

    QTest::newRow("single line") << QByteArray("220 Service ready\r\n") << Replies{{220, QStringLiteral("Service ready")}};
    QTest::newRow("LF only") << QByteArray("331 Password\n230 In\n")
                             << Replies{{331, QStringLiteral("Password")}, {230, QStringLiteral("In")}};
    QTest::newRow("bare code") << QByteArray("200\r\n") << Replies{{200, QString()}};
    QTest::newRow("multi-line") << QByteArray("220-Welcome\r\n to the\r\n220 router\r\n")
                                << Replies{{220, QStringLiteral("Welcome\n to the\nrouter")}};
    QTest::newRow("multi-line repeating the code with a dash")
        << QByteArray("211-Features:\r\n211-UTF8\r\n211 End\r\n") << Replies{{211, QStringLiteral("Features:\nUTF8\nEnd")}};
    QTest::newRow("multi-line holding other codes")
        << QByteArray("220-first\r\n123 not the end\r\n220x neither\r\n 220 nor this\r\n220 last\r\n")
        << Replies{{220, QStringLiteral("first\n123 not the end\n220x neither\n 220 nor this\nlast")}};
    QTest::newRow("multi-line ended by a bare code") << QByteArray("230-a\r\nb\r\n230\r\n")
                                                     << Replies{{230, QStringLiteral("a\nb\n")}};
    QTest::newRow("preliminary then final") << QByteArray("120 In 5 minutes\r\n220 Ready\r\n")
                                            << Replies{{120, QStringLiteral("In 5 minutes")}, {220, QStringLiteral("Ready")}};
    QTest::newRow("blank lines between replies are ignored") << QByteArray("\r\n200 A\r\n\r\n \r\n200 B\r\n")
                                                             << Replies{{200, QStringLiteral("A")}, {200, QStringLiteral("B")}};
    QTest::newRow("line without code") << QByteArray("hello there\r\n200 Ok\r\n")
                                       << Replies{{0, QStringLiteral("hello there")}, {200, QStringLiteral("Ok")}};
    QTest::newRow("code out of range") << QByteArray("600 What\r\n099 No\r\n") << Replies{{0, QStringLiteral("600 What")},
                                                                                       {0, QStringLiteral("099 No")}};
    QTest::newRow("too short code") << QByteArray("22 Short\r\n") << Replies{{0, QStringLiteral("22 Short")}};
    QTest::newRow("code glued to text") << QByteArray("220Ready\r\n") << Replies{{0, QStringLiteral("220Ready")}};
    QTest::newRow("bare CR inside a line stays") << QByteArray("200 a\rb\r\n") << Replies{{200, QStringLiteral("a\rb")}};
    QTest::newRow("UTF-8 text") << QByteArray("550 Brak pliku: \xc5\xbc\r\n") << Replies{{550, QStringLiteral("Brak pliku: ż")}};
    QTest::newRow("227 passive") << QByteArray("227 Entering Passive Mode (127,0,0,1,4,1).\r\n")
                                 << Replies{{227, QStringLiteral("Entering Passive Mode (127,0,0,1,4,1).")}};
}

// The same replies whatever way the bytes are cut.
void TestFtpReplyParser::replies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Replies, expected);
    QCOMPARE(parseAll(bytes, bytes.size()), expected);
    QCOMPARE(parseAll(bytes, 1), expected);
    QCOMPARE(parseAll(bytes, 3), expected);
}

void TestFtpReplyParser::overlongLineIsCutAndParsingGoesOn()
{
    const QByteArray longLine = "200 " + QByteArray(FtpReplyParser::maximumLineLength * 3, 'x') + "\r\n";
    const Replies replies = parseAll(longLine + "250 Next\r\n", 1000);
    QCOMPARE(replies.size(), qsizetype(2));
    QCOMPARE(replies[0].first, 0);
    QCOMPARE(replies[1], qMakePair(250, QStringLiteral("Next")));
}

void TestFtpReplyParser::longMultiLineReplyTextIsCapped()
{
    QByteArray bytes = "211-Start\r\n";
    for (int i = 0; i < 20000; ++i)
        bytes += " line of help text\r\n";
    bytes += "211 End\r\n";
    const Replies replies = parseAll(bytes, 4096);
    QCOMPARE(replies.size(), qsizetype(1));
    QCOMPARE(replies[0].first, 211);
    QVERIFY(replies[0].second.size() <= FtpReplyParser::maximumTextLength + FtpReplyParser::maximumLineLength);
    QVERIFY(replies[0].second.startsWith(QStringLiteral("Start\n")));
}

void TestFtpReplyParser::incompleteReplyIsHeldBack()
{
    FtpReplyParser parser;
    parser.addData("220-one\r\n220 tw");
    QVERIFY(!parser.hasReply());
    parser.addData("o\r");
    QVERIFY(!parser.hasReply());
    parser.addData("\n");
    QVERIFY(parser.hasReply());
    QCOMPARE(parser.takeReply().text, QStringLiteral("one\ntwo"));
    parser.addData("230-unfinished\r\n");
    parser.clear();
    parser.addData("200 fresh\r\n");
    QCOMPARE(parser.takeReply().code, 200);
}

void TestFtpReplyParser::passiveReply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");

    QTest::newRow("usual") << QStringLiteral("Entering Passive Mode (192,168,1,1,4,1).") << true
                           << QStringLiteral("192.168.1.1") << 1025;
    QTest::newRow("no brackets") << QStringLiteral("Entering Passive Mode 10,0,0,5,200,10") << true
                                 << QStringLiteral("10.0.0.5") << 200 * 256 + 10;
    QTest::newRow("equals sign") << QStringLiteral("=127,0,0,1,255,255") << true << QStringLiteral("127.0.0.1") << 65535;
    QTest::newRow("spaces after commas") << QStringLiteral("Passive (127, 0, 0, 1, 0, 21)") << true
                                         << QStringLiteral("127.0.0.1") << 21;
    QTest::newRow("first group of six wins") << QStringLiteral("(1,2,3,4,0,99) or (5,6,7,8,0,1)") << true
                                             << QStringLiteral("1.2.3.4") << 99;
    QTest::newRow("multi-line text") << QStringLiteral("Entering\nPassive Mode (127,0,0,1,1,2)") << true
                                     << QStringLiteral("127.0.0.1") << 258;
    QTest::newRow("number above 255") << QStringLiteral("(127,0,0,256,4,1)") << false << QString() << 0;
    QTest::newRow("port byte above 255") << QStringLiteral("(127,0,0,1,4,300)") << false << QString() << 0;
    QTest::newRow("four-digit number") << QStringLiteral("(1127,0,0,1,4,1)") << false << QString() << 0;
    QTest::newRow("port 0") << QStringLiteral("(127,0,0,1,0,0)") << false << QString() << 0;
    QTest::newRow("five numbers") << QStringLiteral("(127,0,0,1,4)") << false << QString() << 0;
    QTest::newRow("no numbers") << QStringLiteral("Entering Passive Mode") << false << QString() << 0;
    QTest::newRow("negative") << QStringLiteral("(127,0,0,1,-4,1)") << false << QString() << 0;
}

void TestFtpReplyParser::passiveReply()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, address);
    QFETCH(int, port);
    QHostAddress parsedAddress;
    quint16 parsedPort = 0;
    QCOMPARE(FtpReplyParser::parsePassiveReply(text, &parsedAddress, &parsedPort), ok);
    if (ok) {
        QCOMPARE(parsedAddress, QHostAddress(address));
        QCOMPARE(int(parsedPort), port);
    }
}

QTEST_GUILESS_MAIN(TestFtpReplyParser)
#include "tst_ftpreplyparser.moc"
