#include "router/ftpclient.h"
#include "router/pylonvpnhttpadmin.h"
#include "support/fakeftpserver.h"
#include "support/fakehttpserver.h"
#include "support/pyftpdlibserver.h"
#include "support/scripteddialogs.h"
#include "support/testfiles.h"
#include "ui/ftpprogressdialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using Request = FakeHttpServer::Request;
using Response = FakeHttpServer::Response;

namespace {

const QString loopback = QStringLiteral("127.0.0.1");
const QString user = QStringLiteral("root");
const QString password = QStringLiteral("router-pw");
// Far beyond any step of these exchanges on loopback; a dialog still open then has hung.
constexpr int hangMs = 60000;

bool isLogin(const Request &request)
{
    return request.path() == "/cgi-bin/luci";
}

const QByteArray oldNetwork = "config interface 'lan'\n\toption proto 'static'\n";

// Where a stalled server stops answering.
enum class Stall { Greeting, AfterUser, AfterPass, AfterPreliminary, BeforeFinal };

// What makes the client leave a temporary file behind.
enum class Leftover { StoreStalled, StoreRefused, ChmodRefused, RenameUnknown };

// A reply of about a megabyte that never reaches its last line.
QByteArray endlessReply(const QByteArray &code)
{
    QByteArray reply = code + "-Welcome\r\n";
    while (reply.size() < (1 << 20))
        reply += code + "-and more of the same, over and over again\r\n";
    return reply;
}

QByteArray largeFile()
{
    QByteArray large(32 << 20, 'x');
    for (qsizetype i = 0; i < large.size(); i += 64)
        large[i] = '\n';
    return large;
}

// What one modal run of the upload dialog showed.
struct Run
{
    int result = -1;
    bool hung = false;
    qint64 milliseconds = 0;
    QPointer<FtpClient> client;
};

} // namespace

Q_DECLARE_METATYPE(FakeHttpServer::Response)
Q_DECLARE_METATYPE(Stall)
Q_DECLARE_METATYPE(Leftover)

// A router that fails in the middle of an exchange: a web interface that never answers, an
// FTP server that dies or hangs during a store.
class tst_RouterFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void httpWithoutAnswer_data();
    void httpWithoutAnswer();
    void ftpServerDiesDuringStore_data();
    void ftpServerDiesDuringStore();
    void ftpServerHangsDuringStore();
    void ftpServerStalls_data();
    void ftpServerStalls();
    void ftpReplyWithoutEnd_data();
    void ftpReplyWithoutEnd();
    void ftpTemporaryLeftIsNamed_data();
    void ftpTemporaryLeftIsNamed();
    void ftpNextUploadWaitsForCleanUp();

private:
    // Uploads through the dialog, run modally for real; `during` sees the dialog as it opens.
    Run upload(quint16 port, const QList<ConfigExport::File> &files,
               const std::function<void(FtpProgressDialog *)> &during);

    QStringList messageTexts() const;

    std::unique_ptr<ScriptedDialogs> dialogs;
};

void tst_RouterFaults::init()
{
    dialogs = std::make_unique<ScriptedDialogs>();
}

void tst_RouterFaults::cleanup()
{
    dialogs.reset();
    PylonVpnHttpAdmin::setPortForTesting(0);
    PylonVpnHttpAdmin::setTransferTimeoutForTesting(0);
    FtpProgressDialog::setUploadPortForTesting(0);
    FtpClient::setStallTimeoutForTesting(0);
    FtpClient::setShutDownTimeoutForTesting(0);
}

void tst_RouterFaults::httpWithoutAnswer_data()
{
    QTest::addColumn<Response>("loginAnswer");
    QTest::addColumn<Response>("commandAnswer");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("fails");

    Response accepted;
    accepted.status = 302;
    accepted.addHeader("Set-Cookie", "sysauth=9f8e7d; path=/cgi-bin/luci/;stok=5");
    Response halfHead;
    halfHead.sendOnly = 20;
    Response halfBody;
    halfBody.body = QByteArray(400, 'b');
    halfBody.sendOnly = halfBody.serialized().size() - 100;
    Response slow;
    slow.delayMs = 300;

    QTest::newRow("login never answered") << Response::noAnswer() << Response() << 1 << true;
    QTest::newRow("command never answered") << accepted << Response::noAnswer() << 2 << true;
    QTest::newRow("answer stops in the status line") << halfHead << Response() << 1 << true;
    QTest::newRow("answer stops in the body") << accepted << halfBody << 2 << true;
    QTest::newRow("slow answers within the time") << slow << slow << 2 << false;
}

// A request without a complete answer by its deadline ends the batch with error(), once; the
// connection that hung is closed.
void tst_RouterFaults::httpWithoutAnswer()
{
    QFETCH(Response, loginAnswer);
    QFETCH(Response, commandAnswer);
    QFETCH(int, requests);
    QFETCH(bool, fails);

    FakeHttpServer server;
    server.setHandler([&](const Request &request) { return isLogin(request) ? loginAnswer : commandAnswer; });
    PylonVpnHttpAdmin::setPortForTesting(server.port());
    constexpr int transferTimeout = 1500;
    PylonVpnHttpAdmin::setTransferTimeoutForTesting(transferTimeout);
    PylonVpnHttpAdmin admin;
    admin.setHost(loopback);
    QSignalSpy done(&admin, &PylonVpnHttpAdmin::done);
    QSignalSpy error(&admin, &PylonVpnHttpAdmin::error);

    QElapsedTimer clock;
    clock.start();
    admin.rebootRouter(user, password);
    QTRY_COMPARE_WITH_TIMEOUT(done.size() + error.size(), 1, hangMs);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(error.size(), fails ? 1 : 0);
    QCOMPARE(done.size(), fails ? 0 : 1);
    QCOMPARE(server.requests.size(), requests);
    if (fails) {
        // Not before the time is up.
        QVERIFY2(elapsed >= transferTimeout - 100, qPrintable(QString::number(elapsed)));
        // Every request has a connection of its own, which the client closes.
        QTRY_COMPARE(server.closedByClient, requests);
    }
    // Nothing follows: no second signal from the reply that was given up.
    QTest::qWait(transferTimeout + 500);
    QCOMPARE(error.size(), fails ? 1 : 0);
    QCOMPARE(done.size(), fails ? 0 : 1);
}

QStringList tst_RouterFaults::messageTexts() const
{
    QStringList texts;
    for (const ScriptedDialogs::Call &call : dialogs->callsOf(ScriptedDialogs::Message))
        texts.append(call.text);
    return texts;
}

Run tst_RouterFaults::upload(quint16 port, const QList<ConfigExport::File> &files,
                             const std::function<void(FtpProgressDialog *)> &during)
{
    Run run;
    QPointer<FtpProgressDialog> open;
    dialogs->answerExec([&](QDialog *dialog) {
        auto *progress = qobject_cast<FtpProgressDialog *>(dialog);
        open = progress;
        run.client = progress->client();
        during(progress);
        return progress->exec();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&] {
        run.hung = true;
        if (open)
            open->reject();
    });
    watchdog.start(hangMs);
    FtpProgressDialog::setUploadPortForTesting(port);
    QElapsedTimer clock;
    clock.start();
    run.result = FtpProgressDialog::upload(nullptr, loopback, user, password, files);
    run.milliseconds = clock.elapsed();
    return run;
}

void tst_RouterFaults::ftpServerDiesDuringStore_data()
{
    QTest::addColumn<bool>("realServer");
    QTest::newRow("pyftpdlib killed during a large store") << true;
    QTest::newRow("server drops data and control connections") << false;
}

// The store fails with the dialog's text for it, once, and the dialog ends.
void tst_RouterFaults::ftpServerDiesDuringStore()
{
    QFETCH(bool, realServer);
    PyftpdlibServer pyftpdlib;
    FakeFtpServer fake;
    quint16 port = 0;
    if (realServer) {
        QVERIFY2(pyftpdlib.start(user, password), qPrintable(pyftpdlib.log()));
        QVERIFY(QDir().mkpath(pyftpdlib.root() + QStringLiteral("/etc/config")));
        QVERIFY(writeFile(pyftpdlib.root() + QStringLiteral("/etc/config/large"), oldNetwork));
        port = pyftpdlib.port();
    } else {
        QVERIFY(fake.listen());
        fake.storeEnd = FakeFtpServer::DropConnections;
        port = fake.port();
    }
    const QByteArray large = largeFile();
    // The fake drops every store; pyftpdlib takes the first file before it dies.
    QList<ConfigExport::File> files = {{QStringLiteral("/etc/config/large"), large},
                                       {QStringLiteral("/etc/config/after"), "after\n"}};
    if (realServer)
        files.prepend({QStringLiteral("/etc/config/first"), "small\n"});
    bool killed = false;
    const Run run = upload(port, files, [&](FtpProgressDialog *dialog) {
        if (!realServer)
            return;
        // Named captures: these lambdas run after the one that made them has returned.
        connect(dialog->client(), &FtpClient::dataTransferProgress, dialog,
                [&killed, &large, &pyftpdlib, dialog](qint64 done, qint64 total) {
            if (killed || total != large.size() || done < (1 << 20))
                return;
            killed = true;
            QTimer::singleShot(0, dialog, [&pyftpdlib] { pyftpdlib.stop(); });
        });
    });

    QVERIFY(!run.hung);
    QCOMPARE(killed, realServer);
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].icon, QMessageBox::Critical);
    QCOMPARE(messages[0].title, QStringLiteral("Error"));
    QCOMPARE(messages[0].text, QStringLiteral("Can not send file to the server."));
    // With the connection gone the client has nothing to say; it goes at once.
    QTRY_VERIFY(run.client.isNull());
    if (realServer) {
        QCOMPARE(pyftpdlib.file(QStringLiteral("/etc/config/first")), QByteArray("small\n"));
        QVERIFY(!QFile::exists(pyftpdlib.root() + QStringLiteral("/etc/config/after")));
        // Back up, the server still has the old file whole; the cut-short temporary stays,
        // hidden, until the next upload of that file stores over it and renames it away.
        QVERIFY2(pyftpdlib.start(user, password), qPrintable(pyftpdlib.log()));
        QCOMPARE(pyftpdlib.file(QStringLiteral("/etc/config/large")), oldNetwork);
        qInfo("temporary files left by the dead server: %s", qPrintable(pyftpdlib.temporaries().join(u' ')));
        dialogs.reset();
        dialogs = std::make_unique<ScriptedDialogs>();
        const Run again = upload(pyftpdlib.port(), files, [](FtpProgressDialog *) {});
        QVERIFY(!again.hung);
        QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
        QCOMPARE(pyftpdlib.file(QStringLiteral("/etc/config/large")), large);
        QTRY_VERIFY(again.client.isNull());
        QCOMPARE(pyftpdlib.temporaries(), QStringList());
    } else {
        QVERIFY(fake.stored.isEmpty());
        QCOMPARE(fake.commands.count("STOR /etc/config/.large.part"), 1);
        QVERIFY(!fake.commands.contains("STOR /etc/config/after"));
    }
    qInfo("upload ended %lld ms after it began", run.milliseconds);
}

// A real server that stops answering in the middle of a store: the upload gives up after the
// time without progress, with the store's message. Once the server goes on, the client,
// still there after the dialog, aborts the store and removes its temporary file: the old file
// is untouched.
void tst_RouterFaults::ftpServerHangsDuringStore()
{
    PyftpdlibServer pyftpdlib;
    QVERIFY2(pyftpdlib.start(user, password), qPrintable(pyftpdlib.log()));
    QVERIFY(QDir().mkpath(pyftpdlib.root() + QStringLiteral("/etc/config")));
    QVERIFY(writeFile(pyftpdlib.root() + QStringLiteral("/etc/config/large"), oldNetwork));
    FtpClient::setStallTimeoutForTesting(1000);
    const QByteArray large = largeFile();
    const QList<ConfigExport::File> files = {{QStringLiteral("/etc/config/large"), large},
                                             {QStringLiteral("/etc/config/after"), "after\n"}};
    bool paused = false;
    const Run run = upload(pyftpdlib.port(), files, [&](FtpProgressDialog *dialog) {
        // Named captures: this lambda runs after the one that made it has returned.
        connect(dialog->client(), &FtpClient::dataTransferProgress, dialog,
                [&paused, &large, &pyftpdlib](qint64 done, qint64 total) {
            if (paused || total != large.size() || done < (1 << 20))
                return;
            paused = true;
            pyftpdlib.pause();
        });
    });
    pyftpdlib.resume();

    QVERIFY(!run.hung);
    QVERIFY(paused);
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].text, QStringLiteral("Can not send file to the server."));
    QTRY_VERIFY(pyftpdlib.log().contains(QStringLiteral("<- QUIT")));
    QTRY_VERIFY(run.client.isNull());
    const QString log = pyftpdlib.log();
    QVERIFY(log.contains(QStringLiteral("<- ABOR")));
    QVERIFY(log.contains(QStringLiteral("<- DELE /etc/config/.large.part")));
    QCOMPARE(pyftpdlib.file(QStringLiteral("/etc/config/large")), oldNetwork);
    QCOMPARE(pyftpdlib.temporaries(), QStringList());
    QVERIFY(!QFile::exists(pyftpdlib.root() + QStringLiteral("/etc/config/after")));
    qInfo("upload gave up %lld ms after it began", run.milliseconds);
}

void tst_RouterFaults::ftpServerStalls_data()
{
    QTest::addColumn<Stall>("stall");
    QTest::addColumn<QString>("text");

    const QString noConnection = QStringLiteral("No connection to the server.");
    const QString cannotSend = QStringLiteral("Can not send file to the server.");
    QTest::newRow("silent after accepting") << Stall::Greeting << noConnection;
    QTest::newRow("silent after USER") << Stall::AfterUser << noConnection;
    QTest::newRow("silent after PASS") << Stall::AfterPass << noConnection;
    QTest::newRow("takes no data after 150") << Stall::AfterPreliminary << cannotSend;
    QTest::newRow("no 226 after the data") << Stall::BeforeFinal << cannotSend;
}

// A server that stops answering ends the upload after the time without progress, with the
// message of the phase it hung in; a store that hung is aborted and its temporary removed.
void tst_RouterFaults::ftpServerStalls()
{
    QFETCH(Stall, stall);
    QFETCH(QString, text);

    FakeFtpServer fake;
    QVERIFY(fake.listen());
    QByteArray content = oldNetwork;
    switch (stall) {
    case Stall::Greeting:
        fake.greeting.clear();
        break;
    case Stall::AfterUser:
        fake.replies.insert("USER", QByteArray());
        break;
    case Stall::AfterPass:
        fake.replies.insert("PASS", QByteArray());
        break;
    case Stall::AfterPreliminary:
        fake.takeData = false;
        // More than the connection's buffers hold.
        content = largeFile();
        break;
    case Stall::BeforeFinal:
        fake.storeFinal.clear();
        break;
    }
    FtpClient::setStallTimeoutForTesting(1000);
    FtpClient::setShutDownTimeoutForTesting(hangMs);
    const Run run = upload(fake.port(), {{QStringLiteral("/etc/config/network"), content}}, [](FtpProgressDialog *) {});

    QVERIFY(!run.hung);
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].text, text);
    QTRY_VERIFY(run.client.isNull());
    if (stall == Stall::AfterPreliminary || stall == Stall::BeforeFinal) {
        QVERIFY(fake.commands.contains("ABOR"));
        QVERIFY(fake.commands.contains("DELE /etc/config/.network.part"));
        QCOMPARE(fake.commands.constLast(), QByteArray("QUIT"));
    }
    QVERIFY(!fake.stored.contains(QStringLiteral("/etc/config/network")));
}

void tst_RouterFaults::ftpReplyWithoutEnd_data()
{
    QTest::addColumn<QByteArray>("verb");   // empty for the greeting
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("pieceSize");

    QTest::newRow("endless greeting") << QByteArray() << endlessReply("220") << 0;
    QTest::newRow("endless reply to TYPE, at once") << QByteArray("TYPE") << endlessReply("200") << 0;
    // Each byte would be progress: it is the time the reply takes that ends it.
    QTest::newRow("reply to TYPE dripping in, byte by byte") << QByteArray("TYPE") << endlessReply("200").left(50000) + "200 Ok\r\n"
                                                            << 1;
}

// A server that keeps one reply going holds the upload no longer than the time without
// progress, nor past 64 KiB: the control connection is of no use, whatever was being done.
void tst_RouterFaults::ftpReplyWithoutEnd()
{
    QFETCH(QByteArray, verb);
    QFETCH(QByteArray, reply);
    QFETCH(int, pieceSize);

    FakeFtpServer fake;
    QVERIFY(fake.listen());
    if (verb.isEmpty())
        fake.greeting = reply;
    else
        fake.replies.insert(verb, reply);
    fake.pieceSize = pieceSize;
    FtpClient::setStallTimeoutForTesting(1000);
    const Run run = upload(fake.port(), {{QStringLiteral("/etc/config/network"), oldNetwork}}, [](FtpProgressDialog *) {});

    QVERIFY(!run.hung);
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].text, QStringLiteral("No connection to the server."));
    QTRY_VERIFY(run.client.isNull());
    QVERIFY(fake.stored.isEmpty());
    qInfo("upload ended %lld ms after it began", run.milliseconds);
}

void tst_RouterFaults::ftpTemporaryLeftIsNamed_data()
{
    QTest::addColumn<Leftover>("leftover");
    QTest::addColumn<QString>("error");   // the upload's own message, if any
    QTest::addColumn<bool>("named");      // whether the temporary is named as left

    const QString cannotSend = QStringLiteral("Can not send file to the server.");
    QTest::newRow("store without its final reply") << Leftover::StoreStalled << cannotSend << true;
    QTest::newRow("store refused at once: no temporary made") << Leftover::StoreRefused << cannotSend << false;
    QTest::newRow("SITE CHMOD refused, stored in place") << Leftover::ChmodRefused << QString() << true;
    QTest::newRow("RNFR unknown, stored in place") << Leftover::RenameUnknown << QString() << true;
}

// A server that refuses to delete the temporary file gets it named in a warning, once the
// upload has ended or while it goes on; a temporary that was never made is not named.
void tst_RouterFaults::ftpTemporaryLeftIsNamed()
{
    QFETCH(Leftover, leftover);
    QFETCH(QString, error);
    QFETCH(bool, named);

    FakeFtpServer fake;
    QVERIFY(fake.listen());
    fake.replies.insert("DELE", "550 Permission denied.\r\n");
    fake.stored.insert(QStringLiteral("/etc/config/network"), oldNetwork);
    fake.modes.insert(QStringLiteral("/etc/config/network"), 0755);
    switch (leftover) {
    case Leftover::StoreStalled:
        fake.storeFinal.clear();
        break;
    case Leftover::StoreRefused:
        fake.storePreliminary = "553 Not allowed.\r\n";
        fake.storeEnd = FakeFtpServer::DropData;
        break;
    case Leftover::ChmodRefused:
        fake.replies.insert("SITE", "550 Permission denied.\r\n");
        break;
    case Leftover::RenameUnknown:
        fake.replies.insert("RNFR", "502 Command not implemented.\r\n");
        break;
    }
    FtpClient::setStallTimeoutForTesting(1000);
    const QByteArray content = "config interface 'wan'\n";
    const Run run = upload(fake.port(), {{QStringLiteral("/etc/config/network"), content}}, [](FtpProgressDialog *) {});

    QVERIFY(!run.hung);
    QTRY_VERIFY(run.client.isNull());
    QCOMPARE(fake.commands.constLast(), QByteArray("QUIT"));
    QStringList expected;
    if (!error.isEmpty())
        expected.append(error);
    if (named) {
        expected.append(QStringLiteral("The server refused to remove the temporary file "
                                       "/etc/config/.network.part; it was left on the router."));
    }
    QTRY_COMPARE(messageTexts(), expected);
    QCOMPARE(fake.stored.value(QStringLiteral("/etc/config/network")), error.isEmpty() ? content : oldNetwork);
    QCOMPARE(fake.modes.value(QStringLiteral("/etc/config/network")), 0755);
}

// A cancelled upload removes its temporary file after its dialog has gone: an upload of the
// same file started meanwhile waits until then, so that its own temporary is not the one
// removed.
void tst_RouterFaults::ftpNextUploadWaitsForCleanUp()
{
    PyftpdlibServer pyftpdlib;
    QVERIFY2(pyftpdlib.start(user, password, PyftpdlibServer::SlowDelete), qPrintable(pyftpdlib.log()));
    QVERIFY(QDir().mkpath(pyftpdlib.root() + QStringLiteral("/etc/config")));
    QVERIFY(writeFile(pyftpdlib.root() + QStringLiteral("/etc/config/network"), oldNetwork));
    const QByteArray large = largeFile();
    bool cancelled = false;
    const Run first = upload(pyftpdlib.port(), {{QStringLiteral("/etc/config/network"), large}}, [&cancelled](FtpProgressDialog *dialog) {
        connect(dialog->client(), &FtpClient::dataTransferProgress, dialog, [dialog, &cancelled](qint64 done, qint64) {
            if (cancelled || done < (1 << 20))
                return;
            cancelled = true;
            QTimer::singleShot(0, dialog, [dialog] { dialog->findChild<QPushButton *>()->click(); });
        });
    });
    QVERIFY(cancelled);
    QVERIFY(!first.client.isNull());

    const QByteArray content = "config interface 'wan'\n";
    const Run second = upload(pyftpdlib.port(), {{QStringLiteral("/etc/config/network"), content}}, [](FtpProgressDialog *) {});
    QVERIFY(!second.hung);
    QTRY_VERIFY(first.client.isNull() && second.client.isNull());
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    QCOMPARE(pyftpdlib.file(QStringLiteral("/etc/config/network")), content);
    QCOMPARE(pyftpdlib.temporaries(), QStringList());
    const QString log = pyftpdlib.log();
    const qsizetype firstQuit = log.indexOf(QStringLiteral("<- QUIT"));
    const qsizetype secondLogin = log.indexOf(QStringLiteral("<- USER"), log.indexOf(QStringLiteral("<- USER")) + 1);
    QVERIFY2(firstQuit >= 0 && secondLogin > firstQuit, qPrintable(log));
}

QTEST_MAIN(tst_RouterFaults)
#include "tst_routerfaults.moc"
