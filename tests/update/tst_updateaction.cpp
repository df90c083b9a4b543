#include "update/updateaction.h"

#include "support/fakehttpserver.h"

#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using Request = FakeHttpServer::Request;
using Response = FakeHttpServer::Response;
using Interface = UpdateAction::Interface;

namespace {
const QByteArray offerBody = "2.5\nDownload Pylon Router 2.5\nhttp://download.example/pylon-2.5\n";

std::unique_ptr<UpdateAction> programAction(const QString &serverUrl = QString::fromLatin1(updateServerBaseUrl))
{
    return std::make_unique<UpdateAction>(QStringLiteral("pylon"), QStringLiteral("Pylon Router"),
                                          QStringLiteral("2.4"), QStringLiteral("0"), nullptr,
                                          serverUrl);
}

Response reply(int status, const QByteArray &body)
{
    Response response;
    response.status = status;
    response.body = body;
    if (status >= 300 && status < 400)
        response.addHeader("Location", "/moved.php");
    return response;
}

Interface interface(const QString &hardwareAddress, bool qualifies = true)
{
    Interface result;
    result.valid = result.up = result.running = qualifies;
    result.addressCount = 1;
    result.hardwareAddress = hardwareAddress;
    return result;
}
}

class TestUpdateAction : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestLine_data();
    void requestLine();
    void status_data();
    void status();
    void answer_data();
    void answer();
    void cutTransfer_data();
    void cutTransfer();
    void serverUnreachable();
    void endlessAnswer_data();
    void endlessAnswer();
    void machineId_data();
    void machineId();

private:
    // Starts the check and waits until the action has finished with its reply.
    void runCheck(UpdateAction &action);

    FakeHttpServer *server = nullptr;
};

void TestUpdateAction::init()
{
    server = new FakeHttpServer;
    UpdateAction::setHostForTesting(QStringLiteral("127.0.0.1"));
    UpdateAction::setPortForTesting(server->port());
}

void TestUpdateAction::cleanup()
{
    delete server;
    UpdateAction::setHostForTesting(QString());
    UpdateAction::setPortForTesting(0);
}

void TestUpdateAction::runCheck(UpdateAction &action)
{
    action.checkForUpdate();
    QVERIFY(!action.findChildren<QNetworkReply *>().isEmpty());
    QTRY_VERIFY(action.findChildren<QNetworkReply *>().isEmpty());
}

void TestUpdateAction::requestLine_data()
{
    QTest::addColumn<QStringList>("values");   // script, application, version, build
    QTest::addColumn<QByteArray>("target");    // up to the machine id

    QTest::newRow("the program's own query")
        << QStringList({"pylon", "Pylon Router", "2.4", "0"})
        << QByteArray("/pylon.php?app=Pylon%20Router&ver=2.4&bld=0&id=");
    QTest::newRow("reserved and non-ASCII characters encoded, upper-case hex")
        << QStringList({"up date", "Żółw & co+1/2?#%", "2.4-rc1~x_y", "a=b;c!*'()[]@$,:"})
        << QByteArray("/up%20date.php?app=%C5%BB%C3%B3%C5%82w%20%26%20co%2B1%2F2%3F%23%25"
                      "&ver=2.4-rc1~x_y&bld=a%3Db%3Bc%21%2A%27%28%29%5B%5D%40%24%2C%3A&id=");
}

// Only the host of the server URL counts: the query goes over plain HTTP with its own path.
void TestUpdateAction::requestLine()
{
    QFETCH(QStringList, values);
    QFETCH(QByteArray, target);

    UpdateAction::setHostForTesting(QString());
    UpdateAction action(values.at(0), values.at(1), values.at(2), values.at(3), nullptr,
                        QStringLiteral("https://127.0.0.1:8443/base/index.php?x=1#top"));
    QCOMPARE(action.text(), QStringLiteral("Update"));
    runCheck(action);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(server->requests.size(), 1);
    const QByteArray line = server->requests.first().requestLine;
    const QRegularExpression shape(QRegularExpression::escape(QString::fromLatin1("GET " + target))
                                   + QStringLiteral("[0-9a-f]{12} HTTP/1\\.1"));
    QVERIFY2(shape.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

void TestUpdateAction::status_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("bodyHeldBack");   // the server sends part of the body and waits

    for (int status : {200, 301, 302, 303, 307})
        QTest::addRow("%d accepted", status) << status << true << false;
    for (int status : {201, 202, 308, 400, 404, 500, 503})
        QTest::addRow("%d aborted at the header", status) << status << false << true;
    for (int status : {404, 500})
        QTest::addRow("%d with a whole body", status) << status << false << false;
}

void TestUpdateAction::status()
{
    QFETCH(int, status);
    QFETCH(bool, accepted);
    QFETCH(bool, bodyHeldBack);

    server->setHandler([&](const Request &) {
        Response response = reply(status, offerBody);
        if (bodyHeldBack) {
            response.addHeader("Content-Length", "1000");
            response.sendOnly = response.serialized().size();
        }
        return response;
    });
    auto action = programAction();
    QSignalSpy offered(action.get(), &UpdateAction::updateAvaliable);
    runCheck(*action);
    if (QTest::currentTestFailed())
        return;

    if (bodyHeldBack)
        QTRY_COMPARE(server->closedByClient, 1);
    QCOMPARE(offered.size(), accepted ? 1 : 0);
    QCOMPARE(action->newVersion(), accepted ? QStringLiteral("2.5") : QString());
    // Redirections are read, not followed.
    QCOMPARE(server->requests.size(), 1);
}

void TestUpdateAction::answer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("offer");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("three lines, each ended")
        << 200 << offerBody << true
        << QStringList({"2.5", "Download Pylon Router 2.5", "http://download.example/pylon-2.5"});
    QTest::newRow("two lines, the last not ended")
        << 200 << QByteArray("2.5\nDownload") << false << QStringList();
    QTest::newRow("two lines, each ended: empty link target")
        << 200 << QByteArray("2.5\nDownload\n") << true << QStringList({"2.5", "Download", ""});
    QTest::newRow("CR LF line ends keep the CR")
        << 200 << QByteArray("2.5\r\nDownload\r\nhttp://d.example/\r\n") << true
        << QStringList({"2.5\r", "Download\r", "http://d.example/\r"});
    QTest::newRow("further lines ignored")
        << 200 << QByteArray("2.5\nText\nhttp://d.example/\nfourth\nfifth") << true
        << QStringList({"2.5", "Text", "http://d.example/"});
    QTest::newRow("empty body") << 200 << QByteArray() << false << QStringList();
    QTest::newRow("NUL ends the text before the third line")
        << 200 << QByteArray("2.5\nText\0\nhttp://d.example/\n", 29) << false << QStringList();
    QTest::newRow("NUL after the third line")
        << 200 << QByteArray("2.5\nText\nhttp://d.example/\0\nmore", 31) << true
        << QStringList({"2.5", "Text", "http://d.example/"});
    QTest::newRow("Latin-1 text")
        << 200 << QByteArray("2.5\nNowa wersja \xb1\xe6\xe9\nhttp://d.example/\n") << true
        << QStringList({"2.5", QStringLiteral("Nowa wersja ±æé"), "http://d.example/"});
    QTest::newRow("302 with an HTML body")
        << 302 << QByteArray("<html>\n<head><title>302 Found</title></head>\n<body>moved</body>\n</html>\n")
        << true
        << QStringList({"<html>", "<head><title>302 Found</title></head>", "<body>moved</body>"});
}

void TestUpdateAction::answer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, offer);
    QFETCH(QStringList, lines);

    server->setHandler([&](const Request &) { return reply(status, body); });
    auto action = programAction();
    QSignalSpy offered(action.get(), &UpdateAction::updateAvaliable);
    runCheck(*action);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(offered.size(), offer ? 1 : 0);
    if (offer) {
        QCOMPARE(action->newVersion(), lines.at(0));
        QCOMPARE(action->linkText(), lines.at(1));
        QCOMPARE(action->linkUrl(), lines.at(2));
    } else {
        QVERIFY(action->newVersion().isEmpty());
        QVERIFY(action->linkText().isEmpty());
        QVERIFY(action->linkUrl().isEmpty());
    }
}

void TestUpdateAction::cutTransfer_data()
{
    QTest::addColumn<QByteArray>("arrived");
    QTest::addColumn<bool>("offer");

    QTest::newRow("three lines arrived before the drop") << offerBody << true;
    QTest::newRow("two lines arrived before the drop") << QByteArray("2.5\nDownload") << false;
}

// The connection drops in the middle of the body: what arrived is still judged.
void TestUpdateAction::cutTransfer()
{
    QFETCH(QByteArray, arrived);
    QFETCH(bool, offer);

    server->setHandler([&](const Request &) {
        Response response = reply(200, arrived + QByteArray(500, 'x'));
        response.sendOnly = response.serialized().size() - 500;
        response.close = true;
        return response;
    });
    auto action = programAction();
    QSignalSpy offered(action.get(), &UpdateAction::updateAvaliable);
    runCheck(*action);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(offered.size(), offer ? 1 : 0);
    QCOMPARE(action->newVersion(), offer ? QStringLiteral("2.5") : QString());
}

void TestUpdateAction::endlessAnswer_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<bool>("offer");
    QTest::newRow("a gigabyte announced") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n")
                                          << false << true;
    QTest::newRow("read to the end of the connection") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
                                                       << false << true;
    QTest::newRow("chunks without end") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") << true
                                        << true;
    QTest::newRow("status not taken") << QByteArray("HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\n\r\n")
                                      << false << false;
}

// A server that sends for ever, as fast as it is read: the action stops reading at the
// answer's bound, closes the connection and judges what it has.
void TestUpdateAction::endlessAnswer()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, chunked);
    QFETCH(bool, offer);

    // Far beyond the bound and what the sockets' buffers hold on the way.
    constexpr qint64 giveUpAt = qint64(512) << 20;
    QTcpServer endless;
    QVERIFY(endless.listen(QHostAddress::LocalHost));
    UpdateAction::setPortForTesting(endless.serverPort());
    qint64 sent = 0;
    bool closedByClient = false;
    connect(&endless, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = endless.nextPendingConnection();
        const QByteArray bytes(qsizetype(64) * 1024, 'x');
        const QByteArray chunk = chunked ? "10000\r\n" + bytes + "\r\n" : bytes;
        const QByteArray first = chunked ? QByteArray::number(offerBody.size(), 16) + "\r\n" + offerBody + "\r\n" : offerBody;
        const auto feed = [socket, &sent, chunk, giveUpAt] {
            while (socket->bytesToWrite() < (qint64(1) << 20) && sent < giveUpAt) {
                socket->write(chunk);
                sent += chunk.size();
            }
        };
        connect(socket, &QIODevice::readyRead, socket, [socket, head, first, feed, &sent] {
            socket->readAll();
            if (sent > 0)
                return;
            socket->write(head + first);
            sent += first.size();
            feed();
        });
        connect(socket, &QIODevice::bytesWritten, socket, feed);
        connect(socket, &QAbstractSocket::disconnected, socket, [&closedByClient, &sent, giveUpAt] {
            closedByClient = sent < giveUpAt;
        });
    });

    auto action = programAction();
    QSignalSpy offered(action.get(), &UpdateAction::updateAvaliable);
    runCheck(*action);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(offered.size(), offer ? 1 : 0);
    QTRY_VERIFY(closedByClient);
    qInfo("the server had sent %lld KiB when the client closed", sent / 1024);
    QVERIFY(sent < (qint64(64) << 20));
}

void TestUpdateAction::serverUnreachable()
{
    UpdateAction::setPortForTesting(FakeHttpServer::closedPort());
    auto action = programAction();
    QSignalSpy offered(action.get(), &UpdateAction::updateAvaliable);
    runCheck(*action);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(offered.size(), 0);
}

void TestUpdateAction::machineId_data()
{
    QTest::addColumn<QList<Interface>>("interfaces");
    QTest::addColumn<QString>("id");   // from an independent MD5

    Interface loopback = interface(QStringLiteral("00:00:00:00:00:00"));
    loopback.loopback = true;
    Interface noAddress = interface(QStringLiteral("0A:0B:0C:0D:0E:0F"));
    noAddress.addressCount = 0;
    Interface down = interface(QStringLiteral("11:22:33:44:55:66"));
    down.up = false;
    Interface notRunning = interface(QStringLiteral("AA:22:33:44:55:66"));
    notRunning.running = false;
    Interface invalid = interface(QStringLiteral("BB:22:33:44:55:66"));
    invalid.valid = false;
    const Interface first = interface(QStringLiteral("00:1A:2B:3C:4D:5E"));
    const Interface second = interface(QStringLiteral("02:00:00:AA:BB:CC"));

    QTest::newRow("no interfaces") << QList<Interface>() << QStringLiteral("0998ecf8427e");
    QTest::newRow("none qualifies")
        << QList<Interface>({loopback, noAddress, down, notRunning, invalid})
        << QStringLiteral("0998ecf8427e");
    QTest::newRow("one") << QList<Interface>({first}) << QStringLiteral("7da3b82a7677");
    QTest::newRow("one among those that do not qualify")
        << QList<Interface>({loopback, down, first, noAddress, notRunning, invalid})
        << QStringLiteral("7da3b82a7677");
    QTest::newRow("two, in the order reported")
        << QList<Interface>({first, second}) << QStringLiteral("7d94190fe92c");
    QTest::newRow("two, the other order")
        << QList<Interface>({second, first}) << QStringLiteral("6ece80691c0e");
}

void TestUpdateAction::machineId()
{
    QFETCH(QList<Interface>, interfaces);
    QFETCH(QString, id);

    QCOMPARE(UpdateAction::machineIdOf(interfaces), id);
}

QTEST_MAIN(TestUpdateAction)
#include "tst_updateaction.moc"
