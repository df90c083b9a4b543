#include "management/qttelnet.h"

#include "support/escapedbytes.h"
#include "support/faketcppeer.h"
#include "support/freeport.h"
#include "support/signalrecorder.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTranslator>

namespace {

// Gives the tests the transport's socket and its error slot.
class TestableTelnet final : public QtTelnet
{
public:
    using QtTelnet::socket;
    using QtTelnet::socketError;
};

// Marks every text it is asked for in the context "QtTelnet", so that a test sees both the
// source text and the context it was looked up in.
class MarkingTranslator final : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QtTelnet") != 0)
            return {};
        return QStringLiteral("[QtTelnet] ") + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace

class TestQtTelnet : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void linesFromBytesAndBack_data();
    void linesFromBytesAndBack();
    void everyShortSequenceComesBack();
    void sending_data();
    void sending();
    void errorTexts_data();
    void errorTexts();
    void refusedConnectionReportsItsText();
    void remoteCloseReportsDisconnectionThenText();
    void overLongLine_data();
    void overLongLine();
    void linesArrivingDuringANestedLoop();
    void closeWhenNotOpenDoesNothing();
    void closeIsGraceful();
    void connectingAgainDropsTheCurrentConnection();
    void floods_data();
    void floods();
    void fasterPeerWaitsInsteadOfFillingMemory();
    void nestedLoopDuringALaterSlice();

private:
    bool connectTo(TestableTelnet &telnet, FakeTcpPeer &peer);
};

bool TestQtTelnet::connectTo(TestableTelnet &telnet, FakeTcpPeer &peer)
{
    QSignalSpy connected(&telnet, &QtTelnet::connected);
    telnet.connectToHost(peer.address(), peer.port());
    return QTest::qWaitFor([&] { return connected.count() == 1 && peer.isConnected(); }, 20000);
}

void TestQtTelnet::reading_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    // Per chunk: how many bytes stay unread in the socket once it has arrived, and how many
    // batches have been emitted by then (counted from the start).
    QTest::addColumn<QList<int>>("leftovers");
    QTest::addColumn<QList<int>>("batchCounts");
    QTest::addColumn<QList<QStringList>>("batches");

    QTest::newRow("two lines and half of a third")
        << QList<QByteArray>{"one\r\ntwo\r\nthr", "ee\r\n"} << QList<int>{3, 0} << QList<int>{1, 2}
        << QList<QStringList>{{"one\r\n", "two\r\n"}, {"three\r\n"}};
    QTest::newRow("no line feed emits nothing until one comes")
        << QList<QByteArray>{"partial", "\n"} << QList<int>{7, 0} << QList<int>{0, 1}
        << QList<QStringList>{{"partial\n"}};
    QTest::newRow("line split over three reads")
        << QList<QByteArray>{"ab", "cd", "ef\r\n"} << QList<int>{2, 4, 0} << QList<int>{0, 0, 1}
        << QList<QStringList>{{"abcdef\r\n"}};
    QTest::newRow("empty line keeps its CR LF")
        << QList<QByteArray>{"\r\n"} << QList<int>{0} << QList<int>{1} << QList<QStringList>{{"\r\n"}};
    QTest::newRow("LF alone ends a line")
        << QList<QByteArray>{"a\nb\n"} << QList<int>{0} << QList<int>{1} << QList<QStringList>{{"a\n", "b\n"}};
    QTest::newRow("CR alone does not end a line")
        << QList<QByteArray>{"a\rb\r\n"} << QList<int>{0} << QList<int>{1} << QList<QStringList>{{"a\rb\r\n"}};
    QTest::newRow("NUL cuts its line, the next is whole")
        << QList<QByteArray>{QByteArray("ab\0cd\r\nnext\r\n", 13)} << QList<int>{0} << QList<int>{1}
        << QList<QStringList>{{"ab", "next\r\n"}};
    QTest::newRow("NUL first gives an empty string")
        << QList<QByteArray>{QByteArray("\0x\r\n", 4)} << QList<int>{0} << QList<int>{1}
        << QList<QStringList>{{""}};
    QTest::newRow("UTF-8 read as UTF-8")
        << QList<QByteArray>{"\xc3\xa9t\xc3\xa9\r\n"} << QList<int>{0} << QList<int>{1}
        << QList<QStringList>{{QStringLiteral(u"\u00e9t\u00e9\r\n")}};
    QTest::newRow("not UTF-8 throughout: UTF-8 read as UTF-8, other bytes escaped")
        << QList<QByteArray>{"\xc3\xa9\xff\x80\r\n"} << QList<int>{0} << QList<int>{1}
        << QList<QStringList>{{withEscapes(QStringLiteral(u"\u00e9<ff><80>\r\n"))}};
    const QByteArray longest(QtTelnet::maxLineLength - 2, 'x');
    QTest::newRow("longest line arrives whole")
        << QList<QByteArray>{longest + "\r\nafter\r\n"} << QList<int>{0} << QList<int>{1}
        << QList<QStringList>{{latin1(longest + "\r\n"), "after\r\n"}};
}

void TestQtTelnet::reading()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, leftovers);
    QFETCH(QList<int>, batchCounts);
    QFETCH(QList<QStringList>, batches);

    FakeTcpPeer peer;
    TestableTelnet telnet;
    QSignalSpy messages(&telnet, &QtTelnet::message);
    QVERIFY(connectTo(telnet, peer));

    for (int i = 0; i < chunks.size(); ++i) {
        peer.send(chunks.at(i));
        // Waiting until the chunk has arrived keeps the next one out of the same read.
        QTRY_COMPARE_WITH_TIMEOUT(telnet.socket->bytesAvailable(), qint64(leftovers.at(i)), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(messages.count(), batchCounts.at(i), 20000);
    }
    QList<QStringList> received;
    for (const QList<QVariant> &arguments : std::as_const(messages))
        received.append(arguments.at(0).toStringList());
    QCOMPARE(received, batches);
}

void TestQtTelnet::linesFromBytesAndBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QByteArray("CLIENT_LIST,client1,127.0.0.1:1\r\n") << "CLIENT_LIST,client1,127.0.0.1:1\r\n";
    QTest::newRow("UTF-8 read as UTF-8")
        << QByteArray("Za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 G\xc4\x99\xc5\x9b\r\n") << QStringLiteral(u"Za\u017c\u00f3\u0142\u0107 G\u0119\u015b\r\n");
    QTest::newRow("Latin-1 name") << QByteArray("M\xfcller\r\n") << withEscapes(QStringLiteral(u"M<fc>ller\r\n"));
    QTest::newRow("UTF-8 name beside a field that is not UTF-8")
        << QByteArray("CLIENT_LIST,Za\xc5\xbc,x,\xfc\r\n") << withEscapes(QStringLiteral(u"CLIENT_LIST,Za\u017c,x,<fc>\r\n"));
    // The pair a client could pick to pass for another: different bytes, different texts.
    QTest::newRow("UTF-8 name ending in U+034F") << QByteArray("caf\xc3\xa9\xcd\x8f\r\n") << QStringLiteral(u"caf\u00e9\u034f\r\n");
    QTest::newRow("the same name in Latin-1") << QByteArray("caf\xe9\r\n") << withEscapes(QStringLiteral(u"caf<e9>\r\n"));
    QTest::newRow("not UTF-8 in the middle") << QByteArray("a\xc3\xa9\x80" "b\xc3\xa9\n") << withEscapes(QStringLiteral(u"a\u00e9<80>b\u00e9\n"));
    QTest::newRow("overlong encoding is no UTF-8") << QByteArray("\xc0\xaf\r\n") << withEscapes(QStringLiteral(u"<c0><af>\r\n"));
    QTest::newRow("encoded surrogate is no UTF-8") << QByteArray("\xed\xa0\x80\n") << withEscapes(QStringLiteral(u"<ed><a0><80>\n"));
    QTest::newRow("encoded escape is no UTF-8") << QByteArray("\xed\xb3\xa9\n") << withEscapes(QStringLiteral(u"<ed><b3><a9>\n"));
    QTest::newRow("beyond U+10FFFF is no UTF-8") << QByteArray("\xf4\x90\x80\x80\n") << withEscapes(QStringLiteral(u"<f4><90><80><80>\n"));
    QTest::newRow("sequence cut by the line end") << QByteArray("ab\xc5\r\n") << withEscapes(QStringLiteral(u"ab<c5>\r\n"));
    // U+10080 is the surrogate pair D800 DC80, whose second half looks like an escaped byte.
    QTest::newRow("surrogate pair beside an escaped byte")
        << QByteArray("\xf0\x90\x82\x80\x80\n") << withEscapes(QStringLiteral(u"\U00010080<80>\n"));
    QTest::newRow("NUL cuts the line before it is decoded") << QByteArray("ok\0\xff\r\n", 6) << "ok";
}

// A line is read as UTF-8, each byte that is not part of valid UTF-8 escaped, and the text is
// written back as the very bytes it came from.
void TestQtTelnet::linesFromBytesAndBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    const QString line = QtTelnet::lineFromBytes(bytes.constData(), bytes.size());
    QCOMPARE(line, text);
    const qsizetype nul = bytes.indexOf('\0');
    QCOMPARE(QtTelnet::bytesFromLine(line), nul < 0 ? bytes : bytes.left(nul));
}

// Every byte string of up to two bytes, every one of three that begins with a lead byte of
// three or more, and every one of four that begins with a lead byte of four, comes back as
// itself: every sequence of valid UTF-8 (the
// library's decoding included, which must never yield an escape) and every near miss of one.
// Different lines are therefore always different texts.
void TestQtTelnet::everyShortSequenceComesBack()
{
    QByteArray bytes;
    qsizetype failures = 0;
    const auto check = [&] {
        const QString line = QtTelnet::lineFromBytes(bytes.constData(), bytes.size());
        if (QtTelnet::bytesFromLine(line) != bytes && ++failures <= 5)
            qWarning("%s does not come back", bytes.toHex(' ').constData());
    };
    // After a lead byte: the continuation bytes and one of each other kind.
    QByteArray after;
    for (int b = 0x80; b <= 0xbf; ++b)
        after += char(b);
    after += QByteArray("\x01" "A\xc3\xe1\xf1\xff");

    for (int first = 1; first <= 0xff; ++first) {
        bytes = QByteArray(1, char(first));
        check();
        for (int second = 1; second <= 0xff; ++second) {
            bytes = QByteArray(1, char(first)) + char(second);
            check();
        }
    }
    for (int lead = 0xe0; lead <= 0xff; ++lead) {
        for (const char second : std::as_const(after)) {
            for (const char third : std::as_const(after)) {
                bytes = QByteArray(1, char(lead)) + second + third;
                check();
                if (lead < 0xf0 || lead > 0xf4)
                    continue;
                for (const char fourth : std::as_const(after)) {
                    bytes = QByteArray(1, char(lead)) + second + third + fourth;
                    check();
                }
            }
        }
    }
    QCOMPARE(failures, 0);
}

void TestQtTelnet::sending_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("asList");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("one line gets CR LF") << QStringList{"verb 4"} << false << QByteArray("verb 4\r\n");
    QTest::newRow("empty string is a bare CR LF") << QStringList{""} << false << QByteArray("\r\n");
    QTest::newRow("non-ASCII goes out as UTF-8")
        << QStringList{QString::fromUtf8("zażółć é")} << false << QByteArray("za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87 \xc3\xa9\r\n");
    QTest::newRow("escaped bytes go back as themselves")
        << QStringList{withEscapes(QStringLiteral(u"M<fc>ller \u00e9<ff>"))} << false << QByteArray("M\xfcller \xc3\xa9\xff\r\n");
    QTest::newRow("list, one line each") << QStringList{"a", "b c"} << true << QByteArray("a\r\nb c\r\n");
    QTest::newRow("empty list writes nothing") << QStringList{} << true << QByteArray();
}

void TestQtTelnet::sending()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, asList);
    QFETCH(QByteArray, wire);

    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));

    if (asList)
        telnet.sendData(lines);
    else
        telnet.sendData(lines.first());
    // A marker written afterwards shows that nothing else came before it.
    telnet.sendData(QStringLiteral("marker"));
    QTRY_COMPARE_WITH_TIMEOUT(peer.received(), wire + "marker\r\n", 20000);
}

void TestQtTelnet::errorTexts_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");

    QTest::newRow("ConnectionRefusedError") << int(QAbstractSocket::ConnectionRefusedError)
        << "The connection was refused by the peer (or timed out).";
    QTest::newRow("RemoteHostClosedError") << int(QAbstractSocket::RemoteHostClosedError)
        << "The remote host closed the connection. Note that the client socket (i.e., this socket) will be closed after the remote close notification has been sent.";
    QTest::newRow("HostNotFoundError") << int(QAbstractSocket::HostNotFoundError)
        << "The host address was not found.";
    QTest::newRow("SocketAccessError") << int(QAbstractSocket::SocketAccessError)
        << "The socket operation failed because the application lacked the required privileges.";
    QTest::newRow("SocketResourceError") << int(QAbstractSocket::SocketResourceError)
        << "The local system ran out of resources (e.g., too many sockets).";
    QTest::newRow("SocketTimeoutError") << int(QAbstractSocket::SocketTimeoutError)
        << "The socket operation timed out.";
    QTest::newRow("DatagramTooLargeError") << int(QAbstractSocket::DatagramTooLargeError)
        << "The datagram was larger than the operating system's limit (which can be as low as 8192 bytes).";
    QTest::newRow("NetworkError") << int(QAbstractSocket::NetworkError)
        << "An error occurred with the network (e.g., the network cable was accidentally plugged out).";
    QTest::newRow("AddressInUseError") << int(QAbstractSocket::AddressInUseError)
        << "The address specified to QUdpSocket::bind() is already in use and was set to be exclusive.";
    QTest::newRow("SocketAddressNotAvailableError") << int(QAbstractSocket::SocketAddressNotAvailableError)
        << "The address specified to QUdpSocket::bind() does not belong to the host.";
    QTest::newRow("UnsupportedSocketOperationError") << int(QAbstractSocket::UnsupportedSocketOperationError)
        << "The requested socket operation is not supported by the local operating system (e.g., lack of IPv6 support).";
    QTest::newRow("UnfinishedSocketOperationError (11)") << int(QAbstractSocket::UnfinishedSocketOperationError)
        << "An unidentified error occurred.";
    QTest::newRow("ProxyAuthenticationRequiredError") << int(QAbstractSocket::ProxyAuthenticationRequiredError)
        << "The socket is using a proxy, and the proxy requires authentication.";
    QTest::newRow("SslHandshakeFailedError (13)") << int(QAbstractSocket::SslHandshakeFailedError)
        << "An unidentified error occurred.";
    QTest::newRow("TemporaryError (22)") << int(QAbstractSocket::TemporaryError)
        << "An unidentified error occurred.";
    QTest::newRow("OperationError (19)") << int(QAbstractSocket::OperationError)
        << "An unidentified error occurred.";
    QTest::newRow("UnknownSocketError (-1)") << int(QAbstractSocket::UnknownSocketError)
        << "An unidentified error occurred.";
    QTest::newRow("value far beyond the table") << 1000 << "An unidentified error occurred.";
}

void TestQtTelnet::errorTexts()
{
    QFETCH(int, error);
    QFETCH(QString, text);

    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    SignalRecorder recorder(&telnet);

    telnet.socketError(QAbstractSocket::SocketError(error));

    // The socket is aborted first (its disconnection is reported at once), then the text.
    QCOMPARE(recorder.describe(), (QStringList{"disconnected", "connectionError [QtTelnet] " + text}));
    QCOMPARE(telnet.socket->state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY_WITH_TIMEOUT(!peer.isConnected(), 20000);
}

void TestQtTelnet::refusedConnectionReportsItsText()
{
    TestableTelnet telnet;
    QSignalSpy errors(&telnet, &QtTelnet::connectionError);
    QSignalSpy connected(&telnet, &QtTelnet::connected);
    telnet.connectToHost(QStringLiteral("127.0.0.1"), FreePort::tcp());
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 20000);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("The connection was refused by the peer (or timed out)."));
    QCOMPARE(connected.count(), 0);
}

void TestQtTelnet::remoteCloseReportsDisconnectionThenText()
{
    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    SignalRecorder recorder(&telnet);
    peer.send("last words\r\n");
    peer.closeConnection();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("connectionError") == 1, 20000);
    QCOMPARE(recorder.describe(),
             (QStringList{"message last words\r\n", "disconnected",
                          "connectionError The remote host closed the connection. Note that the client socket (i.e., "
                          "this socket) will be closed after the remote close notification has been sent."}));
}

void TestQtTelnet::overLongLine_data()
{
    constexpr qsizetype max = QtTelnet::maxLineLength;
    QTest::addColumn<QList<QByteArray>>("chunks");
    // Per chunk: how many bytes stay unread in the socket once it has arrived.
    QTest::addColumn<QList<qint64>>("leftovers");
    // What the transport reports before the connection goes, as SignalRecorder describes it.
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("dropped");

    const QByteArray x(max, 'x');
    QTest::newRow("longest line, in pieces")
        << QList<QByteArray>{"before\r\n" + x.left(max / 2), x.mid(max / 2, max / 2 - 3), "x\r\n"}
        << QList<qint64>{max / 2, max - 3, 0}
        << QStringList{"message before\r\n", "message " + latin1(x.left(max - 2) + "\r\n")}
        << false;
    QTest::newRow("one byte too long, line feed and all")
        << QList<QByteArray>{"before\r\n" + x.left(max - 1) + "\r\nafter\r\n"} << QList<qint64>{0}
        << QStringList{"message before\r\n"} << true;
    QTest::newRow("too long, in pieces without a line feed")
        << QList<QByteArray>{x.left(max / 2), x.left(max / 2 - 1), "y", "never read\r\n"}
        << QList<qint64>{max / 2, max - 1, 0, 0} << QStringList{} << true;
    QTest::newRow("many megabytes without a line feed")
        << QList<QByteArray>{"first\r\n" + QByteArray(16 * max, 'z')} << QList<qint64>{0}
        << QStringList{"message first\r\n"} << true;
}

// A line longer than the transport takes drops the connection with an error, as a socket
// error does, after the lines before it were delivered; however the bytes are split into
// reads, the outcome is the same. The next connection starts afresh.
void TestQtTelnet::overLongLine()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<qint64>, leftovers);
    QFETCH(QStringList, messages);
    QFETCH(bool, dropped);

    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    SignalRecorder recorder(&telnet);
    for (int i = 0; i < chunks.size(); ++i) {
        peer.send(chunks.at(i));
        QTRY_COMPARE_WITH_TIMEOUT(telnet.socket->bytesAvailable(), leftovers.at(i), 20000);
    }

    QStringList expected = messages;
    if (dropped) {
        expected << QStringLiteral("disconnected")
                 << QStringLiteral("connectionError [QtTelnet] The peer sent a line longer than 1048576 bytes. "
                                   "The connection was closed.");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.describe(), expected, 20000);
        QCOMPARE(telnet.socket->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY_WITH_TIMEOUT(!peer.isConnected(), 20000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(recorder.describe(), expected, 20000);
        QCOMPARE(telnet.socket->state(), QAbstractSocket::ConnectedState);
    }

    recorder.clear();
    QVERIFY(connectTo(telnet, peer));
    peer.send("fresh\r\n");
    QStringList again{"connected", "message fresh\r\n"};
    if (!dropped)
        again.prepend(QStringLiteral("disconnected"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.describe(), again, 20000);
}

// Lines that come while a receiver of message() runs a nested event loop (a modal dialog)
// raise no readyRead of their own; they are delivered when the receiver returns, without
// waiting for the peer to send anything more.
void TestQtTelnet::linesArrivingDuringANestedLoop()
{
    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    QList<QStringList> batches;
    connect(&telnet, &QtTelnet::message, this, [&](const QStringList &lines) {
        batches.append(lines);
        if (batches.size() != 1)
            return;
        peer.send("during one\r\nduring two\r\npart");
        QVERIFY(QTest::qWaitFor([&] { return telnet.socket->bytesAvailable() == 28; }, 20000));
    });
    peer.send("first\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(batches.size(), 2, 20000);
    QCOMPARE(batches, (QList<QStringList>{{"first\r\n"}, {"during one\r\n", "during two\r\n"}}));
    QCOMPARE(telnet.socket->bytesAvailable(), qint64(4));
}

void TestQtTelnet::closeWhenNotOpenDoesNothing()
{
    TestableTelnet telnet;
    SignalRecorder recorder(&telnet);
    telnet.close();
    FakeTcpPeer peer;
    QVERIFY(connectTo(telnet, peer));
    peer.closeConnection();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("connectionError") == 1, 20000);
    recorder.clear();
    telnet.close();
    QCOMPARE(recorder.describe(), QStringList());
}

void TestQtTelnet::closeIsGraceful()
{
    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    SignalRecorder recorder(&telnet);
    // Written data still reaches the peer before the connection goes.
    telnet.sendData(QStringLiteral("bye"));
    telnet.close();
    QTRY_COMPARE_WITH_TIMEOUT(recorder.describe(), QStringList{"disconnected"}, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!peer.isConnected(), 20000);
    QCOMPARE(peer.received(), QByteArray("bye\r\n"));
}

void TestQtTelnet::connectingAgainDropsTheCurrentConnection()
{
    FakeTcpPeer first;
    FakeTcpPeer second;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, first));
    SignalRecorder recorder(&telnet);
    QVERIFY(connectTo(telnet, second));
    QCOMPARE(recorder.describe(), (QStringList{"disconnected", "connected"}));
    QTRY_VERIFY_WITH_TIMEOUT(!first.isConnected(), 20000);
    telnet.sendData(QStringLiteral("hello"));
    QTRY_COMPARE_WITH_TIMEOUT(second.received(), QByteArray("hello\r\n"), 20000);
    QCOMPARE(first.received(), QByteArray());
}

void TestQtTelnet::floods_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("peerCloses");

    QTest::newRow("one slice exactly") << int(QtTelnet::sliceLines) << false;
    QTest::newRow("one line past a slice") << int(QtTelnet::sliceLines) + 1 << false;
    QTest::newRow("many slices") << int(QtTelnet::sliceLines) * 6 + 17 << false;
    QTest::newRow("many slices, then the peer closes") << int(QtTelnet::sliceLines) * 6 + 17 << true;
}

// More whole lines than one message() carries go up in slices, one per turn of the event
// loop, with other events handled between them; every line arrives once and in order, also
// when the peer closes the connection right after them (before its close is reported).
void TestQtTelnet::floods()
{
    QFETCH(int, lines);
    QFETCH(bool, peerCloses);

    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    QStringList received;
    QList<int> batchSizes;
    QStringList order;
    int batchesSeenByAnEvent = -1;
    // Owns the event posted below, which must not outlive this function.
    QObject poster;
    connect(&telnet, &QtTelnet::message, this, [&](const QStringList &batch) {
        if (batchSizes.isEmpty()) {
            QMetaObject::invokeMethod(&poster, [&] { batchesSeenByAnEvent = int(batchSizes.size()); }, Qt::QueuedConnection);
        }
        batchSizes.append(int(batch.size()));
        received += batch;
        if (order.isEmpty() || order.constLast() != QLatin1String("message"))
            order.append(QStringLiteral("message"));
    });
    connect(&telnet, &QtTelnet::disconnected, this, [&] { order.append(QStringLiteral("disconnected")); });
    connect(&telnet, &QtTelnet::connectionError, this, [&] { order.append(QStringLiteral("connectionError")); });

    QByteArray flood;
    QStringList expected;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = "line " + QByteArray::number(i) + "\r\n";
        flood += line;
        expected.append(latin1(line));
    }
    peer.send(flood);
    if (peerCloses)
        peer.closeConnection();

    QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), 20000);
    QCOMPARE(received, expected);
    for (const int size : std::as_const(batchSizes))
        QVERIFY2(size <= QtTelnet::sliceLines, qPrintable(QString::number(size)));
    QVERIFY(batchSizes.size() >= (lines + QtTelnet::sliceLines - 1) / QtTelnet::sliceLines);
    if (batchSizes.size() > 2)
        QVERIFY2(batchesSeenByAnEvent >= 1 && batchesSeenByAnEvent < batchSizes.size(),
                 qPrintable(QString::number(batchesSeenByAnEvent)));
    if (peerCloses) {
        QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList{"message", "disconnected", "connectionError"}), 20000);
    } else {
        QCOMPARE(order, QStringList{"message"});
        QCOMPARE(telnet.socket->state(), QAbstractSocket::ConnectedState);
    }
}

// A peer that sends faster than the receivers take: the socket holds no more than its read
// buffer, the rest waits with the peer, and nothing is lost.
void TestQtTelnet::fasterPeerWaitsInsteadOfFillingMemory()
{
    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    constexpr int lines = 400000;
    QByteArray flood;
    for (int i = 0; i < lines; ++i)
        flood += "a line of a flood, number " + QByteArray::number(i) + "\r\n";
    QVERIFY(flood.size() > 2 * QtTelnet::readBufferSize);

    int received = 0;
    int mismatches = 0;
    qint64 mostBuffered = 0;
    bool waited = false;
    connect(&telnet, &QtTelnet::message, this, [&](const QStringList &batch) {
        for (const QString &line : batch) {
            if (line != QStringLiteral("a line of a flood, number %1\r\n").arg(received))
                ++mismatches;
            ++received;
        }
        // A receiver busy for a while (a modal dialog): the peer goes on sending meanwhile.
        if (!waited) {
            waited = true;
            QTest::qWait(300);
        }
        mostBuffered = qMax(mostBuffered, telnet.socket->bytesAvailable());
    });
    peer.send(flood);
    QTRY_COMPARE_WITH_TIMEOUT(received, lines, 60000);
    QCOMPARE(mismatches, 0);
    QVERIFY2(mostBuffered <= QtTelnet::readBufferSize, qPrintable(QString::number(mostBuffered)));
}

// A receiver that runs a nested event loop while it handles a slice that came in a later turn
// (not from the socket's own signal): lines arriving meanwhile wait until it returns, rather
// than overtaking the rest of its slice.
void TestQtTelnet::nestedLoopDuringALaterSlice()
{
    FakeTcpPeer peer;
    TestableTelnet telnet;
    QVERIFY(connectTo(telnet, peer));
    const int lines = int(QtTelnet::sliceLines) + 10;
    QList<QStringList> batches;
    int depth = 0;
    int deepest = 0;
    connect(&telnet, &QtTelnet::message, this, [&](const QStringList &batch) {
        deepest = qMax(deepest, ++depth);
        batches.append(batch);
        if (batch.constLast() == QStringLiteral("line %1\r\n").arg(lines - 1)) {
            peer.send("late one\r\nlate two\r\n");
            QVERIFY(QTest::qWaitFor([&] { return telnet.socket->bytesAvailable() >= 20; }, 20000));
        }
        --depth;
    });
    QByteArray flood;
    for (int i = 0; i < lines; ++i)
        flood += "line " + QByteArray::number(i) + "\r\n";
    peer.send(flood);
    QTRY_VERIFY_WITH_TIMEOUT(!batches.isEmpty() && batches.constLast().constLast() == QLatin1String("late two\r\n"), 20000);
    QCOMPARE(deepest, 1);
    QCOMPARE(batches.constLast(), (QStringList{"late one\r\n", "late two\r\n"}));
    QStringList all;
    for (const QStringList &batch : std::as_const(batches))
        all += batch;
    QCOMPARE(all.size(), lines + 2);
}

QTEST_GUILESS_MAIN(TestQtTelnet)
#include "tst_qttelnet.moc"
