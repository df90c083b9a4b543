#include "router/httpanswerparser.h"

#include <QTest>

Q_DECLARE_METATYPE(HttpAnswerParser::State)

class tst_HttpAnswerParser : public QObject
{
    Q_OBJECT

private slots:
    void completeAnswers_data();
    void completeAnswers();
};

void tst_HttpAnswerParser::completeAnswers_data()
{
    QTest::addColumn<QByteArray>("head");       // status line and headers, interim answers first
    QTest::addColumn<QByteArray>("body");       // as on the wire: chunks with their sizes
    QTest::addColumn<bool>("toClose");          // the body runs to the end of the connection
    QTest::addColumn<HttpAnswerParser::State>("state");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("setCookie");  // the one header kept, "" for none

    const auto complete = HttpAnswerParser::Complete;
    const auto failed = HttpAnswerParser::Failed;
    QTest::newRow("Content-Length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n") << QByteArray("hello")
                                    << false << complete << 200 << QByteArray();
    QTest::newRow("chunked, with an extension and a trailer")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
        << QByteArray("5;name=value\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: yes\r\n\r\n") << false << complete << 200
        << QByteArray();
    QTest::newRow("chunked, upper-case size, no trailer")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n")
        << QByteArray("1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n") << false << complete << 200 << QByteArray();
    QTest::newRow("interim answers before the answer")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nSet-Cookie: interim=1\r\n\r\n"
                      "HTTP/1.1 302 Found\r\nSet-Cookie: sysauth=9f8e; path=/cgi-bin/luci/\r\nContent-Length: 0\r\n\r\n")
        << QByteArray() << false << complete << 302 << QByteArray("sysauth=9f8e; path=/cgi-bin/luci/");
    QTest::newRow("HTTP/1.0, read to the close") << QByteArray("HTTP/1.0 200 OK\r\nServer: old\r\n\r\n")
                                                 << QByteArray("all of it\r\n\r\nup to the end") << true << complete << 200
                                                 << QByteArray();
    QTest::newRow("a coding other than chunked, read to the close")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n") << QByteArray("\x1f\x8b...") << true << complete
        << 200 << QByteArray();
    QTest::newRow("folded Set-Cookie") << QByteArray("HTTP/1.1 302 Found\r\nSet-Cookie: sysauth=9f8e;\r\n\tpath=/cgi-bin/luci/\r\n"
                                                     "Content-Length: 2\r\n\r\n")
                                       << QByteArray("ok") << false << complete << 302
                                       << QByteArray("sysauth=9f8e; path=/cgi-bin/luci/");
    QTest::newRow("two Set-Cookie headers, bare LF line ends")
        << QByteArray("HTTP/1.1 200 OK\nset-cookie: a=1\nSET-COOKIE: b=2\nContent-Length: 3\n\n") << QByteArray("abc")
        << false << complete << 200 << QByteArray("a=1\nb=2");
    QTest::newRow("204 without body whatever its length says")
        << QByteArray("HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n") << QByteArray() << false << complete << 204
        << QByteArray();
    QTest::newRow("the same length twice") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\n")
                                           << QByteArray("ok") << false << complete << 200 << QByteArray();

    QTest::newRow("two different lengths") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n")
                                           << QByteArray() << false << failed << 200 << QByteArray();
    QTest::newRow("switching protocols") << QByteArray("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n")
                                         << QByteArray() << false << failed << 101 << QByteArray();
    QTest::newRow("chunk size not hexadecimal") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                                                << QByteArray("5x\r\n") << false << failed << 200 << QByteArray();
    QTest::newRow("chunk longer than its size") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                                                << QByteArray("5\r\nhello!\r\n") << false << failed << 200 << QByteArray();
    QTest::newRow("chunked answer cut at the close") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                                                     << QByteArray("5\r\nhello\r\n0\r\n") << true << failed << 200
                                                     << QByteArray();
    QTest::newRow("body cut at the close") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n")
                                           << QByteArray("short") << true << failed << 200 << QByteArray();
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << QByteArray() << false << failed << 0
                              << QByteArray();
}

// Byte by byte, the answer is complete with its last byte and not before (or at the close,
// for a body that runs to it); what follows is not read. The same whole at once.
void tst_HttpAnswerParser::completeAnswers()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(bool, toClose);
    QFETCH(HttpAnswerParser::State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, setCookie);

    const QByteArray answer = head + body;
    HttpAnswerParser bytes;
    qsizetype endedAt = -1;
    for (qsizetype i = 0; i < answer.size() && endedAt < 0; ++i) {
        if (bytes.addData(answer.sliced(i, 1)) != HttpAnswerParser::Incomplete)
            endedAt = i + 1;
    }
    if (toClose) {
        QCOMPARE(endedAt, -1);
        QCOMPARE(bytes.endOfData(), state);
    } else if (state == HttpAnswerParser::Complete) {
        QCOMPARE(endedAt, answer.size());
    }
    QCOMPARE(bytes.state(), state);
    QCOMPARE(bytes.status(), status);
    QCOMPARE(bytes.setCookie(), setCookie);
    QCOMPARE(bytes.hasSetCookie(), !setCookie.isEmpty());

    // A next answer on the same connection changes nothing.
    bytes.addData("HTTP/1.1 500 Error\r\nSet-Cookie: next=1\r\nContent-Length: 0\r\n\r\n");
    QCOMPARE(bytes.state(), state);
    QCOMPARE(bytes.status(), status);
    QCOMPARE(bytes.setCookie(), setCookie);

    HttpAnswerParser whole;
    whole.addData(answer);
    if (toClose)
        whole.endOfData();
    QCOMPARE(whole.state(), state);
    QCOMPARE(whole.status(), status);
}

QTEST_GUILESS_MAIN(tst_HttpAnswerParser)
#include "tst_httpanswerparser.moc"
