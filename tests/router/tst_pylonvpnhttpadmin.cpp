#include "router/pylonvpnhttpadmin.h"

#include "support/fakehttpserver.h"

#include <QNetworkReply>
#include <QSignalSpy>
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
}

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
    // (A connection closed before any answer has the network layer send the login again.)
    QVERIFY(!server->requests.isEmpty());
    QCOMPARE(commandRequests(), atLogin ? 0 : 1);
    // Failed replies are released like the others.
    QTRY_VERIFY(admin->findChildren<QNetworkReply *>().isEmpty());

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
    QTRY_VERIFY(admin->findChildren<QNetworkReply *>().isEmpty());

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

QTEST_GUILESS_MAIN(TestPylonVpnHttpAdmin)
#include "tst_pylonvpnhttpadmin.moc"
