#include "router/pylonvpnhttpadmin.h"

#include "router/httpexchange.h"
#include "support/fakehttpserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using Request = FakeHttpServer::Request;
using Response = FakeHttpServer::Response;

namespace {
// LuCI's answer to a good login: a redirect into the session, with the session cookie.
Response loginAccepted(const QByteArray &setCookie)
{
    Response response;
    response.status = 302;
    response.addHeader("Location", "/cgi-bin/luci/;stok=5e55/admin");
    if (!setCookie.isNull())
        response.addHeader("Set-Cookie", setCookie);
    return response;
}

bool isLogin(const Request &request)
{
    return request.path() == "/cgi-bin/luci";
}

// Far beyond any exchange on loopback: an answer still missing then has hung.
constexpr int hangMs = 60000;

// How a raw server treats each connection, byte for byte.
enum class Behaviour {
    CloseOnAccept, CloseAfterRequest, CloseInHeaders, ResetAfterRequest, EndlessBody, EndlessChunks,
    TrickledBody, AnswerOverLimit, AnswerAtLimit
};

// A server that counts connections and requests and misbehaves as told. Whatever it sends
// endlessly is bounded by a total, so it stops by itself.
class RawServer final : public QObject
{
public:
    explicit RawServer(Behaviour behaviour) : behaviour(behaviour)
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                ++connections;
                if (this->behaviour == Behaviour::CloseOnAccept) {
                    socket->disconnectFromHost();
                    continue;
                }
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feed(socket); });
            }
        });
        trickle.setInterval(100);
    }

    QTcpServer server;
    int connections = 0;
    int requests = 0;
    qint64 sent = 0;

private:
    void read(QTcpSocket *socket)
    {
        received += socket->readAll();
        qsizetype end = -1;
        while ((end = received.indexOf("\r\n\r\n")) >= 0) {
            received.remove(0, end + 4);
            ++requests;
            answer(socket);
        }
    }

    void answer(QTcpSocket *socket)
    {
        switch (behaviour) {
        case Behaviour::CloseOnAccept:
            break;
        case Behaviour::CloseAfterRequest:
            socket->disconnectFromHost();
            break;
        case Behaviour::CloseInHeaders:
            socket->write("HTTP/1.1 200 OK\r\nSet-Cookie: sysauth=1\r\nCont");
            socket->disconnectFromHost();
            break;
        case Behaviour::ResetAfterRequest:
            socket->abort();
            break;
        case Behaviour::EndlessBody:
            socket->write("HTTP/1.1 200 OK\r\n\r\n");
            break;
        case Behaviour::EndlessChunks:
            socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
            break;
        case Behaviour::TrickledBody:
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
            connect(&trickle, &QTimer::timeout, socket, [socket] { socket->write("t"); });
            trickle.start();
            break;
        // The whole answer, head and body, is exactly the limit, or one byte more.
        case Behaviour::AnswerAtLimit:
        case Behaviour::AnswerOverLimit: {
            const auto head = [](qsizetype length) -> QByteArray {
                return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
            };
            constexpr qsizetype limit = HttpAnswerParser::maximumAnswerSize;
            const qsizetype length = limit - head(limit).size() + (behaviour == Behaviour::AnswerOverLimit ? 1 : 0);
            socket->write(head(length) + QByteArray(length, 'b'));
            break;
        }
        }
    }

    void feed(QTcpSocket *socket)
    {
        constexpr qint64 total = qint64(256) << 20;
        if (sent >= total || socket->bytesToWrite() > 0)
            return;
        const QByteArray block(qsizetype(16) * 1024, 'e');
        if (behaviour == Behaviour::EndlessBody)
            sent += socket->write(block);
        else if (behaviour == Behaviour::EndlessChunks)
            sent += socket->write("4000\r\n" + block + "\r\n");
    }

    Behaviour behaviour;
    QByteArray received;
    QTimer trickle;
};
}

Q_DECLARE_METATYPE(Behaviour)

class TestPylonVpnHttpAdmin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandExchange_data();
    void commandExchange();
    void cookie_data();
    void cookie();
    void cookieKeptWhenAReplyHasNone();
    void credentialsArriveIntact_data();
    void credentialsArriveIntact();
    void failure_data();
    void failure();
    void connectionRefused();
    void unusableHost_data();
    void unusableHost();
    void loginAloneIsABatch();
    void oneRequestWhateverTheServerDoes_data();
    void oneRequestWhateverTheServerDoes();
    void cookieBelongsToItsHost_data();
    void cookieBelongsToItsHost();

private:
    int commandRequests() const;

    FakeHttpServer *server = nullptr;
    PylonVpnHttpAdmin *admin = nullptr;
    QSignalSpy *doneSpy = nullptr;
    QSignalSpy *errorSpy = nullptr;
};

void TestPylonVpnHttpAdmin::init()
{
    server = new FakeHttpServer;
    PylonVpnHttpAdmin::setPortForTesting(server->port());
    admin = new PylonVpnHttpAdmin;
    admin->setHost(QStringLiteral("127.0.0.1"));
    doneSpy = new QSignalSpy(admin, &PylonVpnHttpAdmin::done);
    errorSpy = new QSignalSpy(admin, &PylonVpnHttpAdmin::error);
}

void TestPylonVpnHttpAdmin::cleanup()
{
    delete doneSpy;
    delete errorSpy;
    delete admin;
    delete server;
    PylonVpnHttpAdmin::setPortForTesting(0);
    PylonVpnHttpAdmin::setTransferTimeoutForTesting(0);
}

int TestPylonVpnHttpAdmin::commandRequests() const
{
    int count = 0;
    for (const Request &request : std::as_const(server->requests))
        count += isLogin(request) ? 0 : 1;
    return count;
}

void TestPylonVpnHttpAdmin::commandExchange_data()
{
    QTest::addColumn<bool>("reboot");
    QTest::addColumn<QByteArray>("commandPath");

    QTest::newRow("router reboot") << true << QByteArray("/mini/system/reboot");
    QTest::newRow("firewall restart") << false << QByteArray("/admin/status/iptables");
}

void TestPylonVpnHttpAdmin::commandExchange()
{
    QFETCH(bool, reboot);
    QFETCH(QByteArray, commandPath);

    const QByteArray setCookie = "sysauth=0f1e2d3c4b5a; path=/cgi-bin/luci";
    server->setHandler([&](const Request &request) {
        return isLogin(request) ? loginAccepted(setCookie) : Response();
    });

    if (reboot)
        admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));
    else
        admin->restartFirewall(QStringLiteral("root"), QStringLiteral("secret"));
    QCOMPARE(doneSpy->size() + errorSpy->size(), 0);

    QTRY_COMPARE(doneSpy->size(), 1);
    QCOMPARE(errorSpy->size(), 0);
    // Two requests only: the login's redirect was not followed.
    QCOMPARE(server->requests.size(), 2);

    const Request login = server->requests.at(0);
    QCOMPARE(login.requestLine, QByteArray("POST /cgi-bin/luci?username=root&password=secret HTTP/1.1"));
    QVERIFY(!login.hasHeader("Cookie"));
    QVERIFY(login.body.isEmpty());

    const Request command = server->requests.at(1);
    QCOMPARE(command.requestLine, "POST /cgi-bin/luci" + commandPath + "?reboot=1 HTTP/1.1");
    QCOMPARE(command.header("Cookie"), setCookie);
    QVERIFY(command.body.isEmpty());
}

void TestPylonVpnHttpAdmin::cookie_data()
{
    // Null: no Set-Cookie header at all; a line feed separates several Set-Cookie headers.
    QTest::addColumn<QByteArray>("setCookie");
    QTest::addColumn<QByteArray>("cookie");
    QTest::addColumn<QByteArray>("commandPath");

    QTest::newRow("name, semicolon, blank, path item")
        << QByteArray("sysauth=abc; path=/x/y") << QByteArray("sysauth=abc; path=/x/y")
        << QByteArray("/x/y/mini/system/reboot");
    QTest::newRow("path runs to the next white space, semicolons included")
        << QByteArray("sysauth=abc; path=/p;q=2") << QByteArray("sysauth=abc; path=/p;q=2")
        << QByteArray("/p;q=2/mini/system/reboot");
    QTest::newRow("capital Path is not a path item")
        << QByteArray("sysauth=abc; Path=/p") << QByteArray("sysauth=abc; Path=/p")
        << QByteArray("/mini/system/reboot");
    QTest::newRow("two path items, the second wins")
        << QByteArray("a=1; path=/first b=2; path=/second")
        << QByteArray("a=1; path=/first b=2; path=/second") << QByteArray("/second/mini/system/reboot");
    QTest::newRow("tab separates items")
        << QByteArray("sysauth=abc;\tpath=/t") << QByteArray("sysauth=abc;\tpath=/t")
        << QByteArray("/t/mini/system/reboot");
    QTest::newRow("path item first")
        << QByteArray("path=/lead sysauth=abc") << QByteArray("path=/lead sysauth=abc")
        << QByteArray("/lead/mini/system/reboot");
    QTest::newRow("percent-encoding in the path kept as it is")
        << QByteArray("s=1; path=/a%20b") << QByteArray("s=1; path=/a%20b")
        << QByteArray("/a%20b/mini/system/reboot");
    QTest::newRow("NUL ends the value")
        << QByteArray("s=1; path=/n\0 path=/z", 21) << QByteArray("s=1; path=/n")
        << QByteArray("/n/mini/system/reboot");
    QTest::newRow("two Set-Cookie headers make one Cookie line")
        << QByteArray("a=1; path=/x\nb=2; path=/y") << QByteArray("a=1; path=/x; b=2; path=/y")
        << QByteArray("/y/mini/system/reboot");
    QTest::newRow("no Set-Cookie ever: empty Cookie, no prefix")
        << QByteArray() << QByteArray("") << QByteArray("/mini/system/reboot");
}

void TestPylonVpnHttpAdmin::cookie()
{
    QFETCH(QByteArray, setCookie);
    QFETCH(QByteArray, cookie);
    QFETCH(QByteArray, commandPath);

    server->setHandler([&](const Request &request) {
        if (!isLogin(request))
            return Response();
        // Several lines make several Set-Cookie headers.
        const QList<QByteArray> lines = setCookie.split('\n');
        Response response = loginAccepted(lines.first());
        for (qsizetype i = 1; i < lines.size(); ++i)
            response.addHeader("Set-Cookie", lines.at(i));
        return response;
    });
    admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));

    QTRY_COMPARE(doneSpy->size(), 1);
    QCOMPARE(server->requests.size(), 2);
    const Request command = server->requests.at(1);
    QCOMPARE(command.path(), commandPath);
    QCOMPARE(command.query(), QByteArray("reboot=1"));
    QVERIFY(command.hasHeader("Cookie"));
    QCOMPARE(command.header("Cookie"), cookie);
}

void TestPylonVpnHttpAdmin::cookieKeptWhenAReplyHasNone()
{
    QByteArray setCookie = "sysauth=first; path=/one";
    server->setHandler([&](const Request &request) {
        return isLogin(request) ? loginAccepted(setCookie) : Response();
    });
    admin->restartFirewall(QStringLiteral("root"), QStringLiteral("secret"));
    QTRY_COMPARE(doneSpy->size(), 1);

    setCookie = QByteArray();
    admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));
    QTRY_COMPARE(doneSpy->size(), 2);

    QCOMPARE(server->requests.size(), 4);
    QCOMPARE(server->requests.at(3).path(), QByteArray("/one/mini/system/reboot"));
    QCOMPARE(server->requests.at(3).header("Cookie"), QByteArray("sysauth=first; path=/one"));
}

void TestPylonVpnHttpAdmin::credentialsArriveIntact_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");

    QString printable;
    for (char c = 0x20; c < 0x7f; ++c)
        printable.append(QLatin1Char(c));

    QTest::newRow("plus") << QStringLiteral("root") << QStringLiteral("a+b++c");
    QTest::newRow("ampersand and equals") << QStringLiteral("r&user=x") << QStringLiteral("p&password=q");
    QTest::newRow("hash and percent") << QStringLiteral("#root") << QStringLiteral("100%25%zz#x");
    QTest::newRow("semicolon and slash") << QStringLiteral("a;b/c") << QStringLiteral("/;/;");
    QTest::newRow("spaces") << QStringLiteral("two words") << QStringLiteral(" lead and trail ");
    QTest::newRow("non-ASCII letters") << QStringLiteral("użytkownik") << QStringLiteral("zażółć Ωμέγα 密码");
    QTest::newRow("every printable ASCII character") << printable << printable;
    QTest::newRow("empty") << QString() << QString();
}

// Decoded as web servers decode a query ("+" is a space), the values must be the UTF-8 bytes
// of what the user typed.
void TestPylonVpnHttpAdmin::credentialsArriveIntact()
{
    QFETCH(QString, username);
    QFETCH(QString, password);

    admin->login(username, password);
    QTRY_COMPARE(doneSpy->size(), 1);
    QCOMPARE(server->requests.size(), 1);

    const QList<FakeHttpServer::Header> items = server->requests.first().queryItems();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(0).first, QByteArray("username"));
    QCOMPARE(items.at(0).second, username.toUtf8());
    QCOMPARE(items.at(1).first, QByteArray("password"));
    QCOMPARE(items.at(1).second, password.toUtf8());
}

void TestPylonVpnHttpAdmin::failure_data()
{
    QTest::addColumn<bool>("atLogin");
    QTest::addColumn<Response>("response");

    Response status500;
    status500.status = 500;
    status500.body = "<h1>Internal Server Error</h1>";
    Response status403;
    status403.status = 403;
    Response cutMidReply;
    cutMidReply.body = QByteArray(400, 'x');
    cutMidReply.close = true;
    Response cutMidBody = cutMidReply;
    cutMidReply.sendOnly = 20;
    cutMidBody.sendOnly = cutMidBody.serialized().size() - 200;
    Response closedUnanswered;
    closedUnanswered.sendOnly = 0;
    closedUnanswered.close = true;

    QTest::newRow("login: status 500") << true << status500;
    QTest::newRow("login: status 403") << true << status403;
    QTest::newRow("login: closed in the header") << true << cutMidReply;
    QTest::newRow("login: closed in the body") << true << cutMidBody;
    QTest::newRow("login: closed unanswered") << true << closedUnanswered;
    QTest::newRow("command: status 500") << false << status500;
    QTest::newRow("command: closed in the body") << false << cutMidBody;
}

void TestPylonVpnHttpAdmin::failure()
{
    QFETCH(bool, atLogin);
    QFETCH(Response, response);

    bool failing = true;
    server->setHandler([&](const Request &request) {
        if (failing && isLogin(request) == atLogin)
            return response;
        return isLogin(request) ? loginAccepted("sysauth=1; path=/s") : Response();
    });
    admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));
    QCOMPARE(errorSpy->size(), 0);

    QTRY_COMPARE(errorSpy->size(), 1);
    QCOMPARE(doneSpy->size(), 0);
    QCOMPARE(server->requests.size(), atLogin ? 1 : 2);
    QCOMPARE(commandRequests(), atLogin ? 0 : 1);
    // Failed exchanges are released like the others.
    QTRY_VERIFY(admin->findChildren<HttpExchange *>().isEmpty());

    // The queue was dropped: a later login finds nothing queued and ends the batch at once.
    failing = false;
    admin->login(QStringLiteral("root"), QStringLiteral("secret"));
    QTRY_COMPARE(doneSpy->size(), 1);
    QCOMPARE(errorSpy->size(), 1);
    QVERIFY(isLogin(server->requests.last()));
    QCOMPARE(commandRequests(), atLogin ? 0 : 1);
}

void TestPylonVpnHttpAdmin::connectionRefused()
{
    PylonVpnHttpAdmin::setPortForTesting(FakeHttpServer::closedPort());
    admin->restartFirewall(QStringLiteral("root"), QStringLiteral("secret"));
    QCOMPARE(errorSpy->size(), 0);
    QTRY_COMPARE(errorSpy->size(), 1);
    QCOMPARE(doneSpy->size(), 0);
    QTRY_VERIFY(admin->findChildren<HttpExchange *>().isEmpty());

    PylonVpnHttpAdmin::setPortForTesting(server->port());
    admin->login(QStringLiteral("root"), QStringLiteral("secret"));
    QTRY_COMPARE(doneSpy->size(), 1);
    QCOMPARE(server->requests.size(), 1);
}

void TestPylonVpnHttpAdmin::unusableHost_data()
{
    QTest::addColumn<QString>("host");

    QTest::newRow("no address set") << QString();
    QTest::newRow("not a host name") << QStringLiteral("router address?");
}

// A host that cannot be reached is reported like any network failure, and later.
void TestPylonVpnHttpAdmin::unusableHost()
{
    QFETCH(QString, host);

    admin->setHost(host);
    admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));
    QCOMPARE(errorSpy->size(), 0);
    QTRY_COMPARE(errorSpy->size(), 1);
    QCOMPARE(doneSpy->size(), 0);
    QVERIFY(server->requests.isEmpty());
}

void TestPylonVpnHttpAdmin::loginAloneIsABatch()
{

    admin->login(QStringLiteral("root"), QStringLiteral("secret"));
    QCOMPARE(doneSpy->size(), 0);
    QTRY_COMPARE(doneSpy->size(), 1);
    QCOMPARE(errorSpy->size(), 0);
    QCOMPARE(server->requests.size(), 1);
}

void TestPylonVpnHttpAdmin::oneRequestWhateverTheServerDoes_data()
{
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<bool>("fails");

    QTest::newRow("closed right after accepting") << Behaviour::CloseOnAccept << true;
    QTest::newRow("closed after reading the request") << Behaviour::CloseAfterRequest << true;
    QTest::newRow("closed in the middle of the headers") << Behaviour::CloseInHeaders << true;
    QTest::newRow("reset after reading the request") << Behaviour::ResetAfterRequest << true;
    QTest::newRow("endless body") << Behaviour::EndlessBody << true;
    QTest::newRow("endless chunked body") << Behaviour::EndlessChunks << true;
    QTest::newRow("body trickled past the deadline") << Behaviour::TrickledBody << true;
    QTest::newRow("answer one byte over 64 KiB") << Behaviour::AnswerOverLimit << true;
    QTest::newRow("answer of exactly 64 KiB") << Behaviour::AnswerAtLimit << false;
}

// Each login reaches the server once, whatever it does then, and ends the batch once. The
// endless answers must fail by their size: the deadline is far away for them.
void TestPylonVpnHttpAdmin::oneRequestWhateverTheServerDoes()
{
    QFETCH(Behaviour, behaviour);
    QFETCH(bool, fails);

    RawServer raw(behaviour);
    QVERIFY(raw.server.isListening());
    PylonVpnHttpAdmin::setPortForTesting(raw.server.serverPort());
    PylonVpnHttpAdmin::setTransferTimeoutForTesting(behaviour == Behaviour::TrickledBody ? 1000 : hangMs);
    admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));

    QTRY_COMPARE_WITH_TIMEOUT(doneSpy->size() + errorSpy->size(), 1, hangMs);
    QCOMPARE(errorSpy->size(), fails ? 1 : 0);
    // A good login is followed by the command; nothing else is sent, nothing sent again.
    const int exchanges = fails ? 1 : 2;
    QCOMPARE(raw.connections, exchanges);
    QCOMPARE(raw.requests, behaviour == Behaviour::CloseOnAccept ? 0 : exchanges);
    // Nothing comes late: no second connection, no second signal.
    QTRY_VERIFY(admin->findChildren<HttpExchange *>().isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(doneSpy->size() + errorSpy->size(), 1);
    QCOMPARE(raw.connections, exchanges);
}

void TestPylonVpnHttpAdmin::cookieBelongsToItsHost_data()
{
    QTest::addColumn<QString>("secondHost");
    QTest::addColumn<bool>("kept");

    QTest::newRow("same address again") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("another address") << QStringLiteral("localhost") << false;
}

// After a session with one router, a command for another carries no cookie and no path of
// the first; the same router keeps its session.
void TestPylonVpnHttpAdmin::cookieBelongsToItsHost()
{
    QFETCH(QString, secondHost);
    QFETCH(bool, kept);

    bool first = true;
    server->setHandler([&](const Request &request) {
        return isLogin(request) && first ? loginAccepted("sysauth=first-router; path=/one") : Response();
    });
    admin->rebootRouter(QStringLiteral("root"), QStringLiteral("secret"));
    QTRY_COMPARE(doneSpy->size(), 1);

    first = false;
    admin->setHost(secondHost);
    admin->restartFirewall(QStringLiteral("root"), QStringLiteral("secret"));
    QTRY_COMPARE(doneSpy->size(), 2);
    QCOMPARE(server->requests.size(), 4);
    const Request command = server->requests.at(3);
    QCOMPARE(command.header("Cookie"), kept ? QByteArray("sysauth=first-router; path=/one") : QByteArray(""));
    QCOMPARE(command.path(), kept ? QByteArray("/one/admin/status/iptables") : QByteArray("/admin/status/iptables"));
    QCOMPARE(command.header("Host"), secondHost.toLatin1() + ':' + QByteArray::number(server->port()));
}

QTEST_GUILESS_MAIN(TestPylonVpnHttpAdmin)
#include "tst_pylonvpnhttpadmin.moc"
