#include "router/ftpclient.h"
#include "router/ftpprogressdialog.h"
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
    FtpProgressDialog::setUploadPort(ftpServer.port());
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
    QVERIFY(run.dialog.isNull());
    QVERIFY(run.client.isNull());
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
        FtpProgressDialog::setUploadPort(probe.serverPort());
    }
    const Run run = upload(threeFiles(), login, pw);
    FtpProgressDialog::setUploadPort(ftpServer.port());

    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), qsizetype(1));
    QCOMPARE(messages[0].title, QStringLiteral("Error"));
    QCOMPARE(messages[0].text, text);
    QCOMPARE(messages[0].icon, QMessageBox::Critical);
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/etc/config/network")));
    QVERIFY(run.client.isNull());
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
    QVERIFY(run.client.isNull());
}

void TestFtpProgressDialog::cancelDuringLargeTransfer()
{
    QByteArray large(48 << 20, 'x');
    for (qsizetype i = 0; i < large.size(); i += 64)
        large[i] = '\n';
    const QList<ConfigExport::File> files = {{QStringLiteral("/etc/config/first"), "small\n"},
                                             {QStringLiteral("/etc/config/large"), large},
                                             {QStringLiteral("/etc/config/after"), "after\n"}};
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
    QVERIFY(run.client.isNull());
    QCOMPARE(ftpServer.file(QStringLiteral("etc/config/first")), QByteArray("small\n"));
    QVERIFY(QFileInfo(ftpServer.root() + QStringLiteral("/etc/config/large")).size() < large.size());
    QVERIFY(!QFile::exists(ftpServer.root() + QStringLiteral("/etc/config/after")));
}

void TestFtpProgressDialog::asciiTypeAndPathUnchanged()
{
    FakeFtpServer server;
    QVERIFY(server.listen());
    FtpProgressDialog::setUploadPort(server.port());
    const QByteArray crlf = "windows\r\nline ends\r\n";
    const Run run = upload({{QStringLiteral("/etc/a"), crlf}, {QStringLiteral("b"), "b\n"}}, QStringLiteral("admin"), password);
    FtpProgressDialog::setUploadPort(ftpServer.port());
    QVERIFY(dialogs->callsOf(ScriptedDialogs::Message).isEmpty());
    QCOMPARE(server.stored.value(QStringLiteral("/etc/a")), crlf);
    QCOMPARE(server.stored.value(QStringLiteral("b")), QByteArray("b\n"));
    QByteArrayList expected = {"USER admin", "PASS " + password.toUtf8(), "TYPE A", "PASV", "STOR /etc/a",
                               "TYPE A", "PASV", "STOR b"};
    QCOMPARE(server.commands, expected);
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
