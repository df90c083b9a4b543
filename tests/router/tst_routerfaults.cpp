#include "router/ftpclient.h"
#include "router/ftpprogressdialog.h"
#include "router/pylonvpnhttpadmin.h"
#include "support/fakeftpserver.h"
#include "support/fakehttpserver.h"
#include "support/pyftpdlibserver.h"
#include "support/scripteddialogs.h"

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

private:
    // Uploads through the dialog, run modally for real; `during` sees the dialog as it opens.
    Run upload(quint16 port, const QList<ConfigExport::File> &files,
               const std::function<void(FtpProgressDialog *)> &during);

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
    FtpProgressDialog::setUploadPort(21);
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

// A request with no answer for the transfer time ends the batch with error(), once; the
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
        QTRY_COMPARE(server.closedByClient, 1);
    }
    // Nothing follows: no second signal from the reply that was given up.
    QTest::qWait(transferTimeout + 500);
    QCOMPARE(error.size(), fails ? 1 : 0);
    QCOMPARE(done.size(), fails ? 0 : 1);
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
    FtpProgressDialog::setUploadPort(port);
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
    QTRY_VERIFY(run.client.isNull());
    if (realServer) {
        QCOMPARE(pyftpdlib.file(QStringLiteral("/etc/config/first")), QByteArray("small\n"));
        QVERIFY(!QFile::exists(pyftpdlib.root() + QStringLiteral("/etc/config/after")));
    } else {
        QVERIFY(fake.stored.isEmpty());
        QCOMPARE(fake.commands.count("STOR /etc/config/large"), 1);
        QVERIFY(!fake.commands.contains("STOR /etc/config/after"));
    }
    qInfo("upload ended %lld ms after it began", run.milliseconds);
}

// A server that stops answering in the middle of a store leaves the upload waiting (the
// client has no time limit of its own); the dialog's Cancel ends it and releases the client.
void tst_RouterFaults::ftpServerHangsDuringStore()
{
    PyftpdlibServer pyftpdlib;
    QVERIFY2(pyftpdlib.start(user, password), qPrintable(pyftpdlib.log()));
    QVERIFY(QDir().mkpath(pyftpdlib.root() + QStringLiteral("/etc/config")));
    const QByteArray large = largeFile();
    const QList<ConfigExport::File> files = {{QStringLiteral("/etc/config/large"), large},
                                             {QStringLiteral("/etc/config/after"), "after\n"}};
    bool paused = false;
    qint64 progressAtCancel = -1;
    qint64 lastProgress = 0;
    bool runningAtCancel = false;
    const Run run = upload(pyftpdlib.port(), files, [&](FtpProgressDialog *dialog) {
        QPointer<FtpClient> client = dialog->client();
        // Named captures: these lambdas run after the one that made them has returned.
        connect(client, &FtpClient::dataTransferProgress, dialog,
                [&paused, &lastProgress, &progressAtCancel, &runningAtCancel, &large, &pyftpdlib, dialog,
                 client](qint64 done, qint64 total) {
            lastProgress = done;
            if (paused || total != large.size() || done < (1 << 20))
                return;
            paused = true;
            pyftpdlib.pause();
            // The user waits a while, sees nothing move and presses Cancel.
            QTimer::singleShot(1500, dialog, [&progressAtCancel, &lastProgress, &runningAtCancel, dialog, client] {
                progressAtCancel = lastProgress;
                runningAtCancel = client && client->currentCommand() == FtpClient::Put;
                if (auto *cancel = dialog->findChild<QPushButton *>())
                    cancel->click();
            });
        });
    });
    pyftpdlib.resume();

    QVERIFY(!run.hung);
    QVERIFY(paused);
    // Still storing when the user gave up, with the file not through.
    QVERIFY(runningAtCancel);
    QVERIFY(progressAtCancel < large.size());
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    QTRY_VERIFY(run.client.isNull());
    QVERIFY(!QFile::exists(pyftpdlib.root() + QStringLiteral("/etc/config/after")));
    qInfo("upload cancelled %lld ms after it began, %lld of %lld bytes handed over", run.milliseconds,
          progressAtCancel, qint64(large.size()));
}

QTEST_MAIN(tst_RouterFaults)
#include "tst_routerfaults.moc"
