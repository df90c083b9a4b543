#include "router/ftpclient.h"
#include "support/fakeftpserver.h"
#include "support/pyftpdlibserver.h"
#include "support/testfiles.h"
#include "support/vsftpdserver.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(FakeFtpServer::StoreEnd)

namespace {

const QString loopback = QStringLiteral("127.0.0.1");
const QString user = QStringLiteral("pylon");
const QString password = QStringLiteral("s3cret");

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    return bytes + "\r\n\n\r" + bytes;
}

QByteArray largePayload(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 23);
    return bytes;
}

// The real servers a replaced file's mode is kept on.
enum class Server { Pyftpdlib, PyftpdlibWithoutMlst, PyftpdlibWithoutChmod, Vsftpd, VsftpdWithoutChmod };

int modeOf(const QString &name)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(name).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

bool writeFileWithMode(const QString &name, const QByteArray &content, int mode)
{
    return writeFile(name, content) && ::chmod(QFile::encodeName(name).constData(), mode_t(mode)) == 0;
}

// The upload temporaries (".<name>.part") anywhere below a directory.
QStringList temporariesBelow(const QString &root)
{
    QStringList found;
    QDirIterator it(root, {QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(loopback), 0);
    return probe.serverPort();
}

// What the client reported, in order.
struct Recorder
{
    explicit Recorder(FtpClient *client)
        : started(client, &FtpClient::commandStarted), finished(client, &FtpClient::commandFinished),
          done(client, &FtpClient::done)
    {
    }
    QList<int> startedIds() const
    {
        QList<int> ids;
        for (const QList<QVariant> &arguments : started)
            ids.append(arguments.at(0).toInt());
        return ids;
    }
    // id -> error, in order of finishing
    QList<QPair<int, bool>> results() const
    {
        QList<QPair<int, bool>> list;
        for (const QList<QVariant> &arguments : finished)
            list.append({arguments.at(0).toInt(), arguments.at(1).toBool()});
        return list;
    }
    QSignalSpy started;
    QSignalSpy finished;
    QSignalSpy done;
};

} // namespace

Q_DECLARE_METATYPE(Server)

class TestFtpClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void uploadsToRealServer_data();
    void uploadsToRealServer();
    void failureDropsQueuedCommands_data();
    void failureDropsQueuedCommands();
    void connectionRefused();
    void commandsNeedConnection();
    void progressOfLargeUpload();
    void abortDuringTransferThenGoOn();
    void abortIsReportedLater();

    void oddReplies_data();
    void oddReplies();
    void passiveReplyForms_data();
    void passiveReplyForms();
    void passiveReplyNamingAnotherHost();
    void storeEndings_data();
    void storeEndings();
    void lineBreaksInArgumentsAreRefused_data();
    void lineBreaksInArgumentsAreRefused();
    void malformedReplyEndsConnection();
    void serverHangsUpDuringLogin();
    void asciiTypeSendsBytesUnchanged();
    void activeListingReportedAfterItsReplies();
    void replacedFilesKeepTheirMode_data();
    void replacedFilesKeepTheirMode();

private:
    PyftpdlibServer ftpServer;
};

void TestFtpClient::initTestCase()
{
    QVERIFY2(ftpServer.start(user, password), qPrintable(ftpServer.log()));
    QVERIFY(QDir().mkpath(ftpServer.root() + QStringLiteral("/etc/config")));
}

void TestFtpClient::uploadsToRealServer_data()
{
    QTest::addColumn<FtpClient::TransferMode>("mode");
    QTest::newRow("passive") << FtpClient::Passive;
    QTest::newRow("active") << FtpClient::Active;
}

void TestFtpClient::uploadsToRealServer()
{
    QFETCH(FtpClient::TransferMode, mode);
    const QString prefix = QString::fromLatin1(QTest::currentDataTag());
    FtpClient client;
    Recorder recorder(&client);
    QSignalSpy states(&client, &FtpClient::stateChanged);
    const QByteArray binary = allByteValues();
    const QByteArray text = "config interface 'lan'\n\toption proto 'static'\n";
    const QList<int> ids = {
        client.setTransferMode(mode),
        client.connectToHost(loopback, ftpServer.port()),
        client.login(user, password),
        client.put(binary, QStringLiteral("/etc/config/") + prefix + QStringLiteral("-binary")),
        client.put(text, QStringLiteral("/etc/config/") + prefix + QStringLiteral("-text"), FtpClient::Ascii),
        client.cd(QStringLiteral("/etc")),
        client.put(QByteArray(), prefix + QStringLiteral("-empty")),
        client.close(),
    };
    QCOMPARE(client.currentCommand(), FtpClient::None);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 20000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), false);
    QCOMPARE(recorder.startedIds(), ids);
    QList<QPair<int, bool>> expected;
    for (int id : ids)
        expected.append({id, false});
    QCOMPARE(recorder.results(), expected);
    QCOMPARE(ftpServer.file(QStringLiteral("etc/config/") + prefix + QStringLiteral("-binary")), binary);
    QCOMPARE(ftpServer.file(QStringLiteral("etc/config/") + prefix + QStringLiteral("-text")), text);
    QVERIFY(QFile::exists(ftpServer.root() + QStringLiteral("/etc/") + prefix + QStringLiteral("-empty")));
    QCOMPARE(client.state(), FtpClient::Unconnected);
    QVERIFY(states.contains({QVariant(int(FtpClient::LoggedIn))}));
}

void TestFtpClient::failureDropsQueuedCommands_data()
{
    QTest::addColumn<QString>("loginPassword");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("failing"); // index among login, cd, put
    QTest::newRow("wrong password") << QStringLiteral("wrong") << QStringLiteral("/etc") << QStringLiteral("x") << 0;
    QTest::newRow("missing directory for cd") << password << QStringLiteral("/nowhere") << QStringLiteral("x") << 1;
    QTest::newRow("missing directory for put") << password << QStringLiteral("/etc") << QStringLiteral("/nowhere/x") << 2;
}

void TestFtpClient::failureDropsQueuedCommands()
{
    QFETCH(QString, loginPassword);
    QFETCH(QString, directory);
    QFETCH(QString, file);
    QFETCH(int, failing);
    FtpClient client;
    Recorder recorder(&client);
    FtpClient::Command failedCommand = FtpClient::None;
    connect(&client, &FtpClient::commandFinished, this, [&](int, bool error) {
        if (error)
            failedCommand = client.currentCommand();
    });
    client.connectToHost(loopback, ftpServer.port());
    const QList<int> ids = {client.login(user, loginPassword), client.cd(directory), client.put("x", file)};
    const int after = client.put("never", QStringLiteral("/never"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 10000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), true);
    QCOMPARE(recorder.results().last(), qMakePair(ids[failing], true));
    QCOMPARE(recorder.finished.count(), failing + 2);
    QVERIFY(!recorder.startedIds().contains(after));
    const FtpClient::Command commands[] = {FtpClient::Login, FtpClient::Cd, FtpClient::Put};
    QCOMPARE(failedCommand, commands[failing]);
    QVERIFY(!client.errorString().isEmpty());
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/never")));
    QVERIFY(!client.hasPendingCommands());
}

void TestFtpClient::connectionRefused()
{
    FtpClient client;
    Recorder recorder(&client);
    const int id = client.connectToHost(loopback, closedPort());
    client.login(user, password);
    QTRY_COMPARE(recorder.done.count(), 1);
    QCOMPARE(recorder.results(), (QList<QPair<int, bool>>{{id, true}}));
    QCOMPARE(client.error(), FtpClient::ConnectionRefused);
    QCOMPARE(client.state(), FtpClient::Unconnected);
}

void TestFtpClient::commandsNeedConnection()
{
    FtpClient client;
    Recorder recorder(&client);
    const int id = client.login(user, password);
    QTRY_COMPARE(recorder.done.count(), 1);
    QCOMPARE(recorder.results(), (QList<QPair<int, bool>>{{id, true}}));
    QCOMPARE(client.error(), FtpClient::NotConnected);

    const int closeId = client.close();
    QTRY_COMPARE(recorder.done.count(), 2);
    QCOMPARE(recorder.results().last(), qMakePair(closeId, false));
}

void TestFtpClient::progressOfLargeUpload()
{
    const QByteArray payload = largePayload(8 << 20);
    FtpClient client;
    Recorder recorder(&client);
    QSignalSpy progress(&client, &FtpClient::dataTransferProgress);
    client.connectToHost(loopback, ftpServer.port());
    client.login(user, password);
    client.put(payload, QStringLiteral("/large"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 30000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), false);
    QVERIFY(progress.count() > 1);
    qint64 last = 0;
    for (const QList<QVariant> &arguments : progress) {
        QVERIFY(arguments.at(0).toLongLong() > last);
        last = arguments.at(0).toLongLong();
        QCOMPARE(arguments.at(1).toLongLong(), payload.size());
    }
    QCOMPARE(last, payload.size());
    QCOMPARE(ftpServer.file(QStringLiteral("large")), payload);
}

// The replies owed to the aborted transfer must not be taken for those of later commands.
void TestFtpClient::abortDuringTransferThenGoOn()
{
    const QByteArray payload = largePayload(64 << 20);
    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, ftpServer.port());
    client.login(user, password);
    const int putId = client.put(payload, QStringLiteral("/aborted"));
    client.put("never", QStringLiteral("/never-after-abort"));
    connect(&client, &FtpClient::dataTransferProgress, &client, &FtpClient::abort, Qt::SingleShotConnection);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 20000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), true);
    QCOMPARE(recorder.results().last(), qMakePair(putId, true));
    QVERIFY(QFileInfo(ftpServer.root() + QStringLiteral("/aborted")).size() < payload.size());

    const int cdId = client.cd(QStringLiteral("/etc"));
    const int afterId = client.put("after abort\n", QStringLiteral("after-abort"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 2, 10000);
    QCOMPARE(recorder.done.at(1).at(0).toBool(), false);
    QCOMPARE(recorder.results().mid(recorder.finished.count() - 2),
             (QList<QPair<int, bool>>{{cdId, false}, {afterId, false}}));
    QCOMPARE(ftpServer.file(QStringLiteral("etc/after-abort")), QByteArray("after abort\n"));
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/never-after-abort")));
}

// A slot that aborts must not be re-entered by the client's own signals.
void TestFtpClient::abortIsReportedLater()
{
    FtpClient client;
    Recorder recorder(&client);
    int finishedDuringAbort = -1;
    FtpClient::Command commandAfterAbort = FtpClient::None;
    const int id = client.connectToHost(loopback, ftpServer.port());
    client.login(user, password);
    connect(&client, &FtpClient::commandStarted, this, [&](int started) {
        if (started != id)
            return;
        client.abort();
        finishedDuringAbort = int(recorder.finished.count());
        commandAfterAbort = client.currentCommand();
    });
    QTRY_COMPARE(recorder.done.count(), 1);
    QCOMPARE(finishedDuringAbort, 0);
    QCOMPARE(commandAfterAbort, FtpClient::ConnectToHost);
    QCOMPARE(recorder.results(), (QList<QPair<int, bool>>{{id, true}}));
    QCOMPARE(recorder.startedIds(), QList<int>{id});
    QCOMPARE(client.state(), FtpClient::Unconnected);
}

void TestFtpClient::oddReplies_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("userReply");
    QTest::addColumn<QByteArray>("passwordReply");
    QTest::addColumn<int>("pieceSize");

    QTest::newRow("multi-line greeting") << QByteArray("220-Welcome\r\n220-to the router\r\n220 ready\r\n")
                                         << QByteArray() << QByteArray() << 0;
    QTest::newRow("multi-line greeting, one byte at a time")
        << QByteArray("220-Welcome\r\n 220 not yet\r\n220 ready\r\n") << QByteArray() << QByteArray() << 1;
    QTest::newRow("service ready soon, then ready") << QByteArray("120 Wait a moment\r\n220 Ready\r\n") << QByteArray()
                                                   << QByteArray() << 0;
    QTest::newRow("LF-only line ends") << QByteArray("220 Hi\n") << QByteArray("331 Pass\n") << QByteArray("230 Ok\n") << 0;
    QTest::newRow("multi-line login replies in pieces")
        << QByteArray("220 Hi\r\n") << QByteArray("331-Password\r\n331-needed\r\n331 now\r\n")
        << QByteArray("230-Welcome\r\nbanner line\r\n230 Logged in\r\n") << 2;
    QTest::newRow("user accepted without password") << QByteArray("220 Hi\r\n") << QByteArray("230 No password needed\r\n")
                                                    << QByteArray("500 Not expected\r\n") << 0;
}

void TestFtpClient::oddReplies()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, userReply);
    QFETCH(QByteArray, passwordReply);
    QFETCH(int, pieceSize);
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.greeting = greeting;
    server.pieceSize = pieceSize;
    if (!userReply.isEmpty())
        server.replies.insert("USER", userReply);
    if (!passwordReply.isEmpty())
        server.replies.insert("PASS", passwordReply);

    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, server.port());
    client.login(user, password);
    client.put("file\n", QStringLiteral("/f"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 10000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), false);
    QCOMPARE(server.stored.value(QStringLiteral("/f")), QByteArray("file\n"));
    QCOMPARE(server.commands.count("PASS " + password.toUtf8()), userReply.startsWith("230") ? 0 : 1);
}

void TestFtpClient::passiveReplyForms_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("usual") << QByteArray("227 Entering Passive Mode (%1).\r\n");
    QTest::newRow("no brackets") << QByteArray("227 Entering Passive Mode %1\r\n");
    QTest::newRow("equals sign") << QByteArray("227 =%1\r\n");
    QTest::newRow("multi-line") << QByteArray("227-Passive\r\n227 Here: %1\r\n");
    QTest::newRow("LF only") << QByteArray("227 ok (%1)\n");
}

void TestFtpClient::passiveReplyForms()
{
    QFETCH(QByteArray, reply);
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.replies.insert("PASV", reply);
    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, server.port());
    client.login(user, password);
    client.put("bytes", QStringLiteral("name"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 10000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), false);
    QCOMPARE(server.stored.value(QStringLiteral("name")), QByteArray("bytes"));
}

// A server that names another host in its passive reply must not make us connect there.
void TestFtpClient::passiveReplyNamingAnotherHost()
{
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.advertisedAddress = QHostAddress(QStringLiteral("127.0.0.2"));
    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, server.port());
    client.login(user, password);
    client.put("bytes", QStringLiteral("name"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 10000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), false);
    QCOMPARE(server.stored.value(QStringLiteral("name")), QByteArray("bytes"));
    QCOMPARE(server.dataConnections, 1);
    QCOMPARE(server.trapConnections, 0);
}

void TestFtpClient::storeEndings_data()
{
    QTest::addColumn<FakeFtpServer::StoreEnd>("storeEnd");
    QTest::addColumn<QByteArray>("preliminary");
    QTest::addColumn<QByteArray>("final");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("error");

    QTest::newRow("final reply after the data") << FakeFtpServer::FinalAfterData << QByteArray("150 Go\r\n")
                                                << QByteArray("226 Done\r\n") << 1000 << false;
    QTest::newRow("125 as preliminary reply") << FakeFtpServer::FinalAfterData << QByteArray("125 Already open\r\n")
                                              << QByteArray("250 Done\r\n") << 1000 << false;
    QTest::newRow("multi-line final reply") << FakeFtpServer::FinalAfterData << QByteArray("150 Go\r\n")
                                            << QByteArray("226-Done\r\n226 Really\r\n") << 1000 << false;
    QTest::newRow("final reply before the data connection ends, small file")
        << FakeFtpServer::FinalBeforeData << QByteArray("150 Go\r\n") << QByteArray("226 Done\r\n") << 100 << false;
    QTest::newRow("final reply before a large file is sent")
        << FakeFtpServer::FinalBeforeData << QByteArray("150 Go\r\n") << QByteArray("226 Done\r\n") << (16 << 20) << true;
    QTest::newRow("data connection dropped, transfer aborted")
        << FakeFtpServer::DropData << QByteArray("150 Go\r\n") << QByteArray("426 Connection closed\r\n") << 100000 << true;
    QTest::newRow("storage full after the data") << FakeFtpServer::FinalAfterData << QByteArray("150 Go\r\n")
                                                 << QByteArray("552 Exceeded storage allocation\r\n") << 1000 << true;
    QTest::newRow("refused without preliminary reply")
        << FakeFtpServer::DropData << QByteArray("553 Not allowed\r\n") << QByteArray() << 1000 << true;
}

void TestFtpClient::storeEndings()
{
    QFETCH(FakeFtpServer::StoreEnd, storeEnd);
    QFETCH(QByteArray, preliminary);
    QFETCH(QByteArray, final);
    QFETCH(int, size);
    QFETCH(bool, error);
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.storeEnd = storeEnd;
    server.storePreliminary = preliminary;
    server.storeFinal = final;
    const QByteArray payload = largePayload(size);

    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, server.port());
    client.login(user, password);
    const int id = client.put(payload, QStringLiteral("f"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 20000);
    QCOMPARE(recorder.results().last(), qMakePair(id, error));
    // The server may learn that the data connection has ended after the client has reported
    // the transfer: a final reply that came first lets the client finish on its own.
    if (!error)
        QTRY_COMPARE_WITH_TIMEOUT(server.stored.value(QStringLiteral("f")), payload, 20000);

    // The connection is still in step with the server.
    const int cdId = client.cd(QStringLiteral("/"));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 2, 10000);
    QCOMPARE(recorder.results().last(), qMakePair(cdId, false));
}

void TestFtpClient::lineBreaksInArgumentsAreRefused_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("file");
    QTest::newRow("file name with CR LF") << user << QStringLiteral("x\r\nDELE important");
    QTest::newRow("file name with LF") << user << QStringLiteral("x\nDELE important");
    QTest::newRow("user name with CR LF") << QStringLiteral("root\r\nDELE important") << QStringLiteral("x");
}

void TestFtpClient::lineBreaksInArgumentsAreRefused()
{
    QFETCH(QString, userName);
    QFETCH(QString, file);
    FakeFtpServer server;
    QVERIFY(server.listen());
    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, server.port());
    client.login(userName, password);
    client.put("data", file);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 10000);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), true);
    for (const QByteArray &command : std::as_const(server.commands))
        QVERIFY2(!command.startsWith("DELE") && !command.startsWith("STOR"), command.constData());
}

void TestFtpClient::malformedReplyEndsConnection()
{
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.replies.insert("USER", "Who are you?\r\n");
    FtpClient client;
    Recorder recorder(&client);
    client.connectToHost(loopback, server.port());
    const int loginId = client.login(user, password);
    QTRY_COMPARE(recorder.done.count(), 1);
    QCOMPARE(recorder.results().last(), qMakePair(loginId, true));
    QTRY_COMPARE(client.state(), FtpClient::Unconnected);
    for (const QByteArray &command : std::as_const(server.commands))
        QVERIFY(!command.startsWith("PASS"));
}

void TestFtpClient::serverHangsUpDuringLogin()
{
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.replies.insert("USER", QByteArray());
    FtpClient client;
    Recorder recorder(&client);
    connect(&client, &FtpClient::commandStarted, &server, [&](int) {
        if (client.currentCommand() == FtpClient::Login)
            QTimer::singleShot(50, &server, &FakeFtpServer::closeControl);
    });
    client.connectToHost(loopback, server.port());
    const int loginId = client.login(user, password);
    QTRY_COMPARE(recorder.done.count(), 1);
    QCOMPARE(recorder.results().last(), qMakePair(loginId, true));
    QCOMPARE(client.state(), FtpClient::Unconnected);

    // A 421 greeting refuses the connection.
    server.greeting = "421 Too many users\r\n";
    const int connectId = client.connectToHost(loopback, server.port());
    QTRY_COMPARE(recorder.done.count(), 2);
    QCOMPARE(recorder.results().last(), qMakePair(connectId, true));
}

void TestFtpClient::asciiTypeSendsBytesUnchanged()
{
    FakeFtpServer server;
    QVERIFY(server.listen());
    FtpClient client;
    Recorder recorder(&client);
    const QByteArray bytes = "line one\r\nline two\nthree\r";
    client.connectToHost(loopback, server.port());
    client.login(user, password);
    client.put(bytes, QStringLiteral("/etc/ascii"), FtpClient::Ascii);
    client.put(bytes, QStringLiteral("/etc/binary"));
    QTRY_COMPARE(recorder.done.count(), 1);
    QCOMPARE(recorder.done.at(0).at(0).toBool(), false);
    QCOMPARE(server.stored.value(QStringLiteral("/etc/ascii")), bytes);
    QCOMPARE(server.stored.value(QStringLiteral("/etc/binary")), bytes);
    QByteArrayList types;
    for (const QByteArray &command : std::as_const(server.commands)) {
        if (command.startsWith("TYPE"))
            types.append(command);
    }
    QCOMPARE(types, (QByteArrayList{"TYPE A", "TYPE I"}));
    QVERIFY(server.commands.contains("STOR /etc/ascii"));
}

// A fast server in active mode has connected, sent the listing and closed before its 150 and
// 226 come, and the listener may report the connection only after those replies (seen with
// vsftpd): the listing still tells the mode.
void TestFtpClient::activeListingReportedAfterItsReplies()
{
    FakeFtpServer server;
    QVERIFY(server.listen());
    server.replies.insert("MLST", "500 Unknown command.\r\n");
    server.activeListing = "-rwxr-x--x    1 0        0               4 Dec 09 11:01 network\r\n";
    const QString name = QStringLiteral("/etc/init.d/network");
    server.stored.insert(name, "old\n");
    server.modes.insert(name, 0751);
    FtpClient client;
    Recorder recorder(&client);
    client.setTransferMode(FtpClient::Active);
    client.connectToHost(loopback, server.port());
    client.login(user, password);
    client.put("new\n", name, FtpClient::Binary, FtpClient::ViaTemporary);
    QTRY_COMPARE(recorder.done.count(), 1);
    QVERIFY2(!recorder.done.at(0).at(0).toBool(), qPrintable(client.errorString()));
    QCOMPARE(server.stored.value(name), QByteArray("new\n"));
    QCOMPARE(server.modes.value(name), 0751);
}

void TestFtpClient::replacedFilesKeepTheirMode_data()
{
    QTest::addColumn<Server>("server");
    QTest::addColumn<FtpClient::TransferMode>("mode");
    QTest::addColumn<bool>("viaTemporary"); // whether a file there goes through a temporary

    QTest::newRow("pyftpdlib, mode from MLST") << Server::Pyftpdlib << FtpClient::Passive << true;
    QTest::newRow("pyftpdlib without MLST, mode from LIST") << Server::PyftpdlibWithoutMlst << FtpClient::Passive << true;
    QTest::newRow("pyftpdlib without MLST, active mode") << Server::PyftpdlibWithoutMlst << FtpClient::Active << true;
    QTest::newRow("pyftpdlib refusing SITE CHMOD, stored in place")
        << Server::PyftpdlibWithoutChmod << FtpClient::Passive << false;
    QTest::newRow("vsftpd, mode from LIST") << Server::Vsftpd << FtpClient::Passive << true;
    QTest::newRow("vsftpd, active mode") << Server::Vsftpd << FtpClient::Active << true;
    QTest::newRow("vsftpd refusing SITE CHMOD, stored in place") << Server::VsftpdWithoutChmod << FtpClient::Passive << false;
}

// An init script keeps its execute bits and a secret stays private, whatever mode the server
// gives a new file (vsftpd: 0600, pyftpdlib: the umask's); a new file gets nothing extra.
void TestFtpClient::replacedFilesKeepTheirMode()
{
    QFETCH(Server, server);
    QFETCH(FtpClient::TransferMode, mode);
    QFETCH(bool, viaTemporary);

    PyftpdlibServer pyftpdlib;
    VsftpdServer vsftpd;
    const bool real = server == Server::Vsftpd || server == Server::VsftpdWithoutChmod;
    if (real) {
        if (!vsftpd.start(user, password, server == Server::Vsftpd)) {
            if (!vsftpd.skipReason().isEmpty())
                QSKIP(qPrintable(vsftpd.skipReason()));
            QFAIL(qPrintable(vsftpd.log()));
        }
    } else {
        const PyftpdlibServer::Options options = server == Server::PyftpdlibWithoutMlst ? PyftpdlibServer::NoMlst
            : server == Server::PyftpdlibWithoutChmod                                  ? PyftpdlibServer::NoChmod
                                                                                       : PyftpdlibServer::Options();
        QVERIFY2(pyftpdlib.start(user, password, options), qPrintable(pyftpdlib.log()));
    }
    const QString root = real ? vsftpd.root() : pyftpdlib.root();
    const quint16 port = real ? vsftpd.port() : pyftpdlib.port();
    QVERIFY(QDir().mkpath(root + QStringLiteral("/etc/init.d")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/etc/config")));
    QVERIFY(writeFileWithMode(root + QStringLiteral("/etc/init.d/network"), "#!/bin/sh\nold\n", 0755));
    QVERIFY(writeFileWithMode(root + QStringLiteral("/etc/config/secret"), "old secret\n", 0600));
    if (real) {
        // On the router everything is the FTP user's own.
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY(::chown(QFile::encodeName(it.next()).constData(), 65534, 65534) == 0);
    }

    FtpClient client;
    Recorder recorder(&client);
    client.setTransferMode(mode);
    client.connectToHost(loopback, port);
    client.login(user, password);
    const QList<QPair<QString, QByteArray>> files = {{QStringLiteral("/etc/init.d/network"), "#!/bin/sh\nnew\n"},
                                                     {QStringLiteral("/etc/config/secret"), "new secret\n"},
                                                     {QStringLiteral("/etc/config/fresh"), "fresh\n"}};
    for (const auto &[path, content] : files)
        client.put(content, path, FtpClient::Ascii, FtpClient::ViaTemporary);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.done.count(), 1, 20000);
    const QString log = real ? vsftpd.log() : pyftpdlib.log();
    QVERIFY2(!recorder.done.at(0).at(0).toBool(), qPrintable(client.errorString() + u'\n' + log));

    for (const auto &[path, content] : files)
        QCOMPARE(readFile(root + path), content);
    QCOMPARE(modeOf(root + QStringLiteral("/etc/init.d/network")), 0755);
    QCOMPARE(modeOf(root + QStringLiteral("/etc/config/secret")), 0600);
    QVERIFY2(log.contains(viaTemporary ? QStringLiteral("STOR /etc/init.d/.network.part")
                                       : QStringLiteral("STOR /etc/init.d/network")),
             qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("STOR /etc/config/.fresh.part")));
    QVERIFY(!log.contains(QRegularExpression(QStringLiteral("SITE CHMOD \\d+ /etc/config/\\.fresh\\.part"))));
    QCOMPARE(temporariesBelow(root), QStringList());
}

QTEST_GUILESS_MAIN(TestFtpClient)
#include "tst_ftpclient.moc"
