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
    void replyBeyondBound_data();
    void replyBeyondBound();
    void incompleteReplyIsHeldBack();
    void passiveReply_data();
    void passiveReply();
    void modeFromFacts_data();
    void modeFromFacts();
    void modeFromListing_data();
    void modeFromListing();
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

void TestFtpReplyParser::replyBeyondBound_data()
{
    QTest::addColumn<int>("lines");     // of 20 bytes between the first and the last line
    QTest::addColumn<bool>("ended");    // whether the reply's last line comes
    QTest::addColumn<bool>("tooLong");

    const int fitting = int((FtpReplyParser::maximumReplySize - 32) / 20);
    QTest::newRow("just within the bound") << fitting << true << false;
    QTest::newRow("beyond the bound, ended") << fitting + 2 << true << true;
    QTest::newRow("a megabyte, ended") << 50000 << true << true;
    QTest::newRow("a megabyte, never ending") << 50000 << false << true;
}

// An over-long reply becomes one invalid reply, the rest of it is dropped, and the next reply
// is read as usual.
void TestFtpReplyParser::replyBeyondBound()
{
    QFETCH(int, lines);
    QFETCH(bool, ended);
    QFETCH(bool, tooLong);

    QByteArray bytes = "211-Start\r\n";
    for (int i = 0; i < lines; ++i)
        bytes += " line of help text\r\n";
    if (ended)
        bytes += "211 End\r\n200 Next\r\n";
    for (const qsizetype piece : {qsizetype(4096), qsizetype(7)}) {
        FtpReplyParser parser;
        QList<FtpReplyParser::Reply> replies;
        for (qsizetype i = 0; i < bytes.size(); i += piece) {
            parser.addData(QByteArrayView(bytes).sliced(i, qMin(piece, bytes.size() - i)));
            while (parser.hasReply())
                replies.append(parser.takeReply());
        }
        QCOMPARE(replies.size(), qsizetype(ended ? 2 : tooLong ? 1 : 0));
        QCOMPARE(replies[0].code, tooLong ? 0 : 211);
        QCOMPARE(replies[0].tooLong, tooLong);
        QVERIFY(replies[0].text.size() <= FtpReplyParser::maximumTextLength);
        QCOMPARE(parser.isInReply(), !ended);
        if (ended)
            QCOMPARE(replies[1].code, 200);
    }
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

void TestFtpReplyParser::modeFromFacts_data()
{
    QTest::addColumn<QString>("text");   // of a 250 reply to MLST
    QTest::addColumn<int>("mode");       // -1: unknown

    QTest::newRow("pyftpdlib") << QStringLiteral("Listing \"/etc/x\":\n type=file;size=4;unix.mode=0o755; /etc/x\nEnd MLST.")
                               << 0755;
    QTest::newRow("upper-case facts, plain octal") << QStringLiteral("Start\n Type=file;UNIX.mode=0600;Size=1; x\nEnd")
                                                   << 0600;
    QTest::newRow("set-user-ID bit") << QStringLiteral("Start\n type=file;unix.mode=4755; su\nEnd") << 04755;
    QTest::newRow("name with spaces") << QStringLiteral("Start\n unix.mode=644;type=file; my file\nEnd") << 0644;
    QTest::newRow("without a mode fact") << QStringLiteral("Start\n type=file;size=4; x\nEnd") << -1;
    QTest::newRow("a directory") << QStringLiteral("Start\n type=dir;unix.mode=0755; x\nEnd") << -1;
    QTest::newRow("a link") << QStringLiteral("Start\n type=OS.unix=slink:/y;unix.mode=0777; x\nEnd") << -1;
    QTest::newRow("not octal") << QStringLiteral("Start\n type=file;unix.mode=0789; x\nEnd") << -1;
    QTest::newRow("beyond the mode bits") << QStringLiteral("Start\n type=file;unix.mode=177777; x\nEnd") << -1;
    QTest::newRow("no fact line") << QStringLiteral("Ok") << -1;
}

void TestFtpReplyParser::modeFromFacts()
{
    QFETCH(QString, text);
    QFETCH(int, mode);
    const FtpReplyParser::FileMode found = FtpReplyParser::modeFromFacts(text);
    QCOMPARE(found.state, mode < 0 ? FtpReplyParser::FileMode::Unknown : FtpReplyParser::FileMode::Known);
    if (mode >= 0)
        QCOMPARE(found.mode, mode);
}

void TestFtpReplyParser::modeFromListing_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("mode");

    const int unknown = FtpReplyParser::FileMode::Unknown;
    const int absent = FtpReplyParser::FileMode::Absent;
    const int known = FtpReplyParser::FileMode::Known;
    QTest::newRow("vsftpd") << QByteArray("-rwxr-xr-x    1 1001 1001 4 Dec 09 11:01 network\r\n")
                            << QStringLiteral("network") << known << 0755;
    QTest::newRow("pyftpdlib, LF only") << QByteArray("-rw-------   1 root     root            2 Dec 09 11:27 f\n")
                                        << QStringLiteral("f") << known << 0600;
    QTest::newRow("total line first, ACL mark") << QByteArray("total 4\r\n-rw-r-----+ 1 0 0 4 Jan  1  2024 a b\r\n")
                                                << QStringLiteral("a b") << known << 0640;
    QTest::newRow("set-ID and sticky bits") << QByteArray("-rwsr-Sr-t 1 0 0 4 Dec 09 11:01 x\r\n") << QStringLiteral("x")
                                            << known << 07755 - 010;
    QTest::newRow("empty: not there") << QByteArray() << QStringLiteral("x") << absent << 0;
    QTest::newRow("only a total") << QByteArray("total 0\r\n") << QStringLiteral("x") << absent << 0;
    QTest::newRow("a link") << QByteArray("lrwxrwxrwx 1 0 0 4 Dec 09 11:01 x -> y\r\n") << QStringLiteral("x") << unknown << 0;
    QTest::newRow("a link named like the file")
        << QByteArray("lrwxrwxrwx 1 0 0 4 Dec 09 11:01 x\r\n") << QStringLiteral("x") << unknown << 0;
    QTest::newRow("a directory's content") << QByteArray("-rw-r--r-- 1 0 0 4 Dec 09 11:01 other\r\n")
                                           << QStringLiteral("x") << unknown << 0;
    QTest::newRow("named twice") << QByteArray("-rw-r--r-- 1 0 0 4 Dec 09 11:01 x\r\n-rwxr-xr-x 1 0 0 4 Dec 09 11:01 x\r\n")
                                 << QStringLiteral("x") << unknown << 0;
    QTest::newRow("DOS format") << QByteArray("12-09-26  11:01AM                 4 x\r\n") << QStringLiteral("x") << unknown << 0;
    QTest::newRow("odd permission letter") << QByteArray("-rwxr-xr-q 1 0 0 4 Dec 09 11:01 x\r\n")
                                           << QStringLiteral("x") << unknown << 0;
}

void TestFtpReplyParser::modeFromListing()
{
    QFETCH(QByteArray, listing);
    QFETCH(QString, name);
    QFETCH(int, state);
    QFETCH(int, mode);
    const FtpReplyParser::FileMode found = FtpReplyParser::modeFromListing(listing, name);
    QCOMPARE(int(found.state), state);
    if (state == FtpReplyParser::FileMode::Known)
        QCOMPARE(found.mode, mode);
}

QTEST_GUILESS_MAIN(TestFtpReplyParser)
#include "tst_ftpreplyparser.moc"
