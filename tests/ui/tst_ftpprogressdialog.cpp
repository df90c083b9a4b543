#include "ui/ftpprogressdialog.h"

#include "router/ftpclient.h"
#include "support/fakeftpserver.h"
#include "support/pyftpdlibserver.h"
#include "support/scripteddialogs.h"

#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QString loopback = QStringLiteral("127.0.0.1");
const QString user = QStringLiteral("root");
const QString password = QStringLiteral("router-pw");

QList<ConfigExport::File> threeFiles()
{
    return {{QStringLiteral("/etc/config/network"), "config interface 'lan'\n\toption ipaddr '192.168.1.1'\n"},
            {QStringLiteral("/etc/config/openvpn"), "config openvpn 'server'\n"},
            {QStringLiteral("/etc/openvpn/ca.crt"), "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n"}};
}

// What one modal run of the dialog showed.
struct Run
{
    int maximum = -1;
    int result = -1;
    QPointer<FtpClient> client;
    QPointer<FtpProgressDialog> dialog;
};

} // namespace

class TestFtpProgressDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void storesEveryFile();
    void exportWithoutFilesOnlyLogsIn();
    void failures_data();
    void failures();
    void missingDirectoryOnThirdFile();
    void cancelDuringLargeTransfer();
    void asciiTypeAndPathUnchanged_data();
    void asciiTypeAndPathUnchanged();
    void laterSignalsOfReleasedClientDoNothing();

private:
    // Runs the upload for real inside the scripted exec(); prepare() sees the dialog first.
    Run upload(const QList<ConfigExport::File> &files, const QString &login, const QString &pw,
               const std::function<void(FtpProgressDialog *)> &prepare = {});

    PyftpdlibServer ftpServer;
    std::unique_ptr<ScriptedDialogs> dialogs;
};

void TestFtpProgressDialog::initTestCase()
{
    QVERIFY2(ftpServer.start(user, password), qPrintable(ftpServer.log()));
    FtpProgressDialog::setUploadPortForTesting(ftpServer.port());
}

void TestFtpProgressDialog::init()
{
    // The old script must uninstall itself before the new one installs itself.
    dialogs.reset();
    dialogs = std::make_unique<ScriptedDialogs>();
    QDir(ftpServer.root()).removeRecursively();
    QVERIFY(QDir().mkpath(ftpServer.root() + QStringLiteral("/etc/config")));
    QVERIFY(QDir().mkpath(ftpServer.root() + QStringLiteral("/etc/openvpn")));
}

Run TestFtpProgressDialog::upload(const QList<ConfigExport::File> &files, const QString &login, const QString &pw,
                                  const std::function<void(FtpProgressDialog *)> &prepare)
{
    Run run;
    dialogs->answerExec([&run, prepare](QDialog *dialog) {
        auto *progress = qobject_cast<FtpProgressDialog *>(dialog);
        run.dialog = progress;
        run.maximum = progress->maximum();
        run.client = progress->client();
        if (prepare)
            prepare(progress);
        return progress->exec();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [&run] {
        if (run.dialog)
            run.dialog->reject();
    });
    watchdog.start(60000);
    run.result = FtpProgressDialog::upload(nullptr, loopback, login, pw, files);
    return run;
}

void TestFtpProgressDialog::storesEveryFile()
{
    const QList<ConfigExport::File> files = threeFiles();
    const Run run = upload(files, user, password);
    QCOMPARE(run.maximum, 6);
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Exec).size(), qsizetype(1));
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Exec).at(0).dialogClass, QStringLiteral("FtpProgressDialog"));
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    for (const ConfigExport::File &file : files)
        QCOMPARE(ftpServer.file(file.path), file.content);
    QCOMPARE(ftpServer.temporaries(), QStringList());
    QVERIFY(ftpServer.log().contains(QStringLiteral("<- RNTO /etc/config/network")));
    // The client outlives the dialog to say goodbye, then goes.
    QTRY_VERIFY(ftpServer.log().contains(QStringLiteral("<- QUIT")));
    QTRY_VERIFY(run.client.isNull());
}

void TestFtpProgressDialog::exportWithoutFilesOnlyLogsIn()
{
    const Run run = upload({}, user, password);
    QCOMPARE(run.maximum, 3);
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    QVERIFY(ftpServer.log().contains(QStringLiteral("USER '") + user + QStringLiteral("' logged in")));
}

void TestFtpProgressDialog::failures_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("pw");
    QTest::addColumn<bool>("serverThere");
    QTest::addColumn<QString>("text");
    QTest::newRow("wrong password") << user << QStringLiteral("wrong") << true << QStringLiteral("Wrong user or password.");
    QTest::newRow("wrong user") << QStringLiteral("admin") << password << true << QStringLiteral("Wrong user or password.");
    QTest::newRow("empty user, as from a Router element without login")
        << QString() << password << true << QStringLiteral("Wrong user or password.");
    QTest::newRow("no server") << user << password << false << QStringLiteral("No connection to the server.");
}

void TestFtpProgressDialog::failures()
{
    QFETCH(QString, login);
    QFETCH(QString, pw);
    QFETCH(bool, serverThere);
    QFETCH(QString, text);
    if (!serverThere) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(loopback), 0));
        FtpProgressDialog::setUploadPortForTesting(probe.serverPort());
    }
    const Run run = upload(threeFiles(), login, pw);
    FtpProgressDialog::setUploadPortForTesting(ftpServer.port());

    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].title, QStringLiteral("Error"));
    QCOMPARE(messages[0].text, text);
    QCOMPARE(messages[0].icon, QMessageBox::Critical);
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/etc/config/network")));
    QTRY_VERIFY(run.client.isNull());
    if (serverThere)
        QVERIFY(ftpServer.log().contains(QStringLiteral("<- QUIT")));
}

void TestFtpProgressDialog::missingDirectoryOnThirdFile()
{
    QList<ConfigExport::File> files = threeFiles();
    files[2].path = QStringLiteral("/etc/missing/ca.crt");
    files.append({QStringLiteral("/etc/config/fourth"), "never\n"});
    const Run run = upload(files, user, password);
    QCOMPARE(run.maximum, 7);
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].text, QStringLiteral("Can not send file to the server."));
    QCOMPARE(ftpServer.file(files[0].path), files[0].content);
    QCOMPARE(ftpServer.file(files[1].path), files[1].content);
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/etc/config/fourth")));
    QTRY_VERIFY(ftpServer.log().contains(QStringLiteral("<- QUIT")));
    QTRY_VERIFY(run.client.isNull());
    QCOMPARE(ftpServer.temporaries(), QStringList());
}

void TestFtpProgressDialog::cancelDuringLargeTransfer()
{
    QByteArray large(48 << 20, 'x');
    for (qsizetype i = 0; i < large.size(); i += 64)
        large[i] = '\n';
    const QList<ConfigExport::File> files = {{QStringLiteral("/etc/config/first"), "small\n"},
                                             {QStringLiteral("/etc/config/large"), large},
                                             {QStringLiteral("/etc/config/after"), "after\n"}};
    const QByteArray old = "config interface 'lan'\n\toption proto 'static'\n";
    QFile oldFile(ftpServer.root() + QStringLiteral("/etc/config/large"));
    QVERIFY(oldFile.open(QIODevice::WriteOnly) && oldFile.write(old) == old.size());
    oldFile.close();
    bool cancelled = false;
    const Run run = upload(files, user, password, [&cancelled](FtpProgressDialog *dialog) {
        // The user presses Cancel while the large file is on its way.
        connect(dialog->client(), &FtpClient::dataTransferProgress, dialog, [dialog, &cancelled](qint64 done, qint64 total) {
            if (cancelled || total < (1 << 20) || done < (1 << 20))
                return;
            cancelled = true;
            QTimer::singleShot(0, dialog, [dialog] {
                auto *button = dialog->findChild<QPushButton *>();
                if (button)
                    button->click();
            });
        });
    });
    QVERIFY(cancelled);
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    // After the dialog has gone, the client aborts the store, removes what it left, and goes.
    QTRY_VERIFY(ftpServer.log().contains(QStringLiteral("<- QUIT")));
    QTRY_VERIFY(run.client.isNull());
    const QString log = ftpServer.log();
    QVERIFY(log.contains(QStringLiteral("<- ABOR")));
    QVERIFY(log.contains(QStringLiteral("<- DELE /etc/config/.large.part")));
    QCOMPARE(ftpServer.file(QStringLiteral("etc/config/first")), QByteArray("small\n"));
    QCOMPARE(ftpServer.file(QStringLiteral("etc/config/large")), old);
    QCOMPARE(ftpServer.temporaries(), QStringList());
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/etc/config/after")));
}

void TestFtpProgressDialog::asciiTypeAndPathUnchanged_data()
{
    QTest::addColumn<int>("oldMode");          // of a file /etc/a already there; 0 for none
    QTest::addColumn<QByteArray>("mlstReply");
    QTest::addColumn<QByteArray>("chmodReply");
    QTest::addColumn<QByteArray>("renameReply");
    QTest::addColumn<QByteArrayList>("stores");
    QTest::addColumn<int>("mode");             // of /etc/a afterwards

    const QByteArrayList lookUp = {"OPTS MLST type;unix.mode;", "MLST /etc/a"};
    const QByteArrayList viaTemporary = {"TYPE A", "PASV", "STOR /etc/.a.part", "RNFR /etc/.a.part", "RNTO /etc/a"};
    const QByteArrayList bViaTemporary = {"MLST b", "TYPE A", "PASV", "STOR .b.part", "RNFR .b.part", "RNTO b"};
    QTest::newRow("new files, server that renames") << 0 << QByteArray() << QByteArray() << QByteArray()
                                                    << lookUp + viaTemporary + bViaTemporary << 0600;
    QTest::newRow("file there keeps its mode")
        << 0755 << QByteArray() << QByteArray() << QByteArray()
        << lookUp + QByteArrayList{"TYPE A", "PASV", "STOR /etc/.a.part", "SITE CHMOD 0755 /etc/.a.part",
                                   "RNFR /etc/.a.part", "RNTO /etc/a"} + bViaTemporary
        << 0755;
    // The file there is stored in place, which keeps its mode; a new file still goes through
    // a temporary.
    QTest::newRow("server refusing SITE CHMOD")
        << 0755 << QByteArray() << QByteArray("550 Permission denied.\r\n") << QByteArray()
        << lookUp + QByteArrayList{"TYPE A", "PASV", "STOR /etc/.a.part", "SITE CHMOD 0755 /etc/.a.part",
                                   "DELE /etc/.a.part", "TYPE A", "PASV", "STOR /etc/a"} + bViaTemporary
        << 0755;
    // Without MLST the listing tells; a server that cannot list either gets plain stores.
    QTest::newRow("server without MLST and LIST")
        << 0755 << QByteArray("500 Unknown command.\r\n") << QByteArray() << QByteArray()
        << lookUp + QByteArrayList{"TYPE A", "PASV", "LIST /etc/a", "TYPE A", "PASV", "STOR /etc/a",
                                   "TYPE A", "PASV", "LIST b", "TYPE A", "PASV", "STOR b"}
        << 0755;
    // The temporary goes, the file is stored under its name, and so is every later one.
    const QByteArrayList plain = lookUp + QByteArrayList{"TYPE A", "PASV", "STOR /etc/.a.part", "RNFR /etc/.a.part",
                                                         "DELE /etc/.a.part", "TYPE A", "PASV", "STOR /etc/a",
                                                         "TYPE A", "PASV", "STOR b"};
    QTest::newRow("server without RNFR: 500") << 0 << QByteArray() << QByteArray()
                                              << QByteArray("500 Unknown command.\r\n") << plain << 0600;
    QTest::newRow("server without RNFR: 502") << 0 << QByteArray() << QByteArray()
                                              << QByteArray("502 Command not implemented.\r\n") << plain << 0600;
    QTest::newRow("server without RNFR: 504") << 0 << QByteArray() << QByteArray()
                                              << QByteArray("504 Not implemented.\r\n") << plain << 0600;
}

void TestFtpProgressDialog::asciiTypeAndPathUnchanged()
{
    QFETCH(int, oldMode);
    QFETCH(QByteArray, mlstReply);
    QFETCH(QByteArray, chmodReply);
    QFETCH(QByteArray, renameReply);
    QFETCH(QByteArrayList, stores);
    QFETCH(int, mode);

    FakeFtpServer server;
    QVERIFY(server.listen());
    if (oldMode != 0) {
        server.stored.insert(QStringLiteral("/etc/a"), "old\n");
        server.modes.insert(QStringLiteral("/etc/a"), oldMode);
    }
    if (!mlstReply.isEmpty())
        server.replies.insert("MLST", mlstReply);
    if (!chmodReply.isEmpty())
        server.replies.insert("SITE", chmodReply);
    if (!renameReply.isEmpty())
        server.replies.insert("RNFR", renameReply);
    FtpProgressDialog::setUploadPortForTesting(server.port());
    const QByteArray crlf = "windows\r\nline ends\r\n";
    const Run run = upload({{QStringLiteral("/etc/a"), crlf}, {QStringLiteral("b"), "b\n"}}, QStringLiteral("admin"), password);
    FtpProgressDialog::setUploadPortForTesting(ftpServer.port());
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    QCOMPARE(server.stored.value(QStringLiteral("/etc/a")), crlf);
    QCOMPARE(server.stored.value(QStringLiteral("b")), QByteArray("b\n"));
    QCOMPARE(server.stored.size(), 2);
    QCOMPARE(server.modes.value(QStringLiteral("/etc/a")), mode);
    const QByteArrayList expected = QByteArrayList{"USER admin", "PASS " + password.toUtf8()} + stores
        + QByteArrayList{"QUIT"};
    QTRY_COMPARE(server.commands, expected);
}

// After a failure the released client may still report; nothing more happens.
void TestFtpProgressDialog::laterSignalsOfReleasedClientDoNothing()
{
    FtpProgressDialog dialog;
    QPointer<FtpClient> client = dialog.client();
    QVERIFY(client);
    dialog.setValue(0);
    dialog.setMaximum(5);
    QMetaObject::invokeMethod(&dialog, "ftpCanceled");
    QVERIFY(!dialog.client());
    QMetaObject::invokeMethod(&dialog, "ftpCommandFinished", Q_ARG(int, 1), Q_ARG(bool, true));
    QMetaObject::invokeMethod(&dialog, "ftpCommandFinished", Q_ARG(int, 2), Q_ARG(bool, false));
    QMetaObject::invokeMethod(&dialog, "ftpDone", Q_ARG(bool, true));
    QCOMPARE(dialog.value(), 0);
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    QTRY_VERIFY(client.isNull());
}

QTEST_MAIN(TestFtpProgressDialog)
#include "tst_ftpprogressdialog.moc"
