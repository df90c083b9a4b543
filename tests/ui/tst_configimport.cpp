#include "ui/configimport.h"

#include "router/configcipher.h"
#include "router/routerpasswordstore.h"
#include "support/pyftpdlibserver.h"
#include "support/scripteddialogs.h"
#include "support/secretstorelab.h"
#include "support/testfiles.h"
#include "support/testsettings.h"
#include "ui/ftpprogressdialog.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

const QString exportPassword = QStringLiteral("transport pąss");

struct Entry
{
    QString path;
    QByteArray content;
};

// An export as the router writes it: the XML document, encrypted, as Base64 text.
QByteArray exportText(const QByteArray &document, const QString &password = exportPassword)
{
    ConfigCipher cipher(document);
    cipher.setPassword(password);
    cipher.encrypt();
    return cipher.data.toBase64();
}

QByteArray document(const QList<Entry> &entries, const QByteArray &router = QByteArray())
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Config>\n" + router;
    for (const Entry &entry : entries) {
        xml += "  <File path=\"" + entry.path.toUtf8() + "\" content=\""
               + entry.content.toBase64() + "\"/>\n";
    }
    return xml + "</Config>\n";
}

} // namespace

class tst_ConfigImport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void extractWritesEveryFile();
    void extractRefusesHostilePathsInOneMessage();
    void extractNamesLongPathsInDetails();
    void stopsSilently_data();
    void stopsSilently();
    void failureMessages_data();
    void failureMessages();
    void browsePathRemembered();
    void uploadStoresEveryFile_data();
    void uploadStoresEveryFile();

private:
    QString writeExport(const QByteArray &text);
    void run(ConfigImport::Destination destination = ConfigImport::LocalDirectory);

    TestSettings settings;
    RouterPasswordStore routerPassword{QStringLiteral("password")};
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<QTemporaryDir> work;
    // The dialogs' parent.
    QWidget owner;
};

void tst_ConfigImport::init()
{
    settings.clear();
    work = std::make_unique<QTemporaryDir>();
    QSettings().setValue(QStringLiteral("BrowseStartPath"), work->path());
    dialogs = std::make_unique<ScriptedDialogs>();
}

void tst_ConfigImport::cleanup()
{
    dialogs.reset();
    work.reset();
    FtpProgressDialog::setUploadPortForTesting(0);
}

void tst_ConfigImport::run(ConfigImport::Destination destination)
{
    ConfigImport(&owner, routerPassword).run(destination);
}

QString tst_ConfigImport::writeExport(const QByteArray &text)
{
    QString name = work->filePath(QStringLiteral("router.aes"));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return QString();
    return name;
}

void tst_ConfigImport::extractWritesEveryFile()
{
    QByteArray text = exportText(document({{"/etc/config/network", "config interface 'lan'\n"},
                                           {"etc/openvpn/server.conf", "port 1194\n"},
                                           {"/readme", ""}}));
    // Exports are written with line breaks in their Base64 text.
    for (qsizetype i = 64; i < text.size(); i += 65)
        text.insert(i, '\n');
    const QString fileName = writeExport(text);
    QVERIFY(!fileName.isEmpty());
    QTemporaryDir target;

    dialogs->answerText(fileName);
    dialogs->answerText(exportPassword);
    dialogs->answerText(target.path());
    run();

    QCOMPARE(dialogs->calls.size(), 3);
    const ScriptedDialogs::Call open = dialogs->calls.at(0);
    QCOMPARE(open.kind, ScriptedDialogs::OpenFile);
    QCOMPARE(open.title, QStringLiteral("Read router configuration"));
    QCOMPARE(open.initialText, work->path());
    QCOMPARE(open.filter, QStringLiteral("AES files (*.aes);;All files (*.*)"));
    const ScriptedDialogs::Call password = dialogs->calls.at(1);
    QCOMPARE(password.kind, ScriptedDialogs::Text);
    QCOMPARE(password.title, QStringLiteral("Insert password"));
    QCOMPARE(password.text, QStringLiteral("Configuration transport password:"));
    QCOMPARE(password.echoMode, QLineEdit::Password);
    QCOMPARE(password.initialText, QString());
    const ScriptedDialogs::Call directory = dialogs->calls.at(2);
    QCOMPARE(directory.kind, ScriptedDialogs::Directory);
    QCOMPARE(directory.title, QStringLiteral("Extract directory"));
    QCOMPARE(directory.initialText, work->path());
    QCOMPARE(directory.options, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);

    QCOMPARE(readFile(target.filePath(QStringLiteral("etc/config/network"))),
             QByteArray("config interface 'lan'\n"));
    QCOMPARE(readFile(target.filePath(QStringLiteral("etc/openvpn/server.conf"))), QByteArray("port 1194\n"));
    QCOMPARE(readFile(target.filePath(QStringLiteral("readme"))), QByteArray());
}

void tst_ConfigImport::extractRefusesHostilePathsInOneMessage()
{
    QTemporaryDir outside;
    QTemporaryDir target;
    QVERIFY(QFile::link(outside.path(), target.filePath(QStringLiteral("planted"))));
    // A directory where a file goes: that file cannot be written, which the same message says.
    QVERIFY(QDir(target.path()).mkdir(QStringLiteral("occupied")));
    const QString fileName = writeExport(exportText(document({{"/../escaped", "x"},
                                                              {"/good", "kept"},
                                                              {"//etc/passwd", "x"},
                                                              {"/occupied", "x"},
                                                              {"/planted/evil", "x"}})));

    dialogs->answerText(fileName);
    dialogs->answerText(exportPassword);
    dialogs->answerText(target.path());
    run();

    QCOMPARE(readFile(target.filePath(QStringLiteral("good"))), QByteArray("kept"));
    QVERIFY(QDir(outside.path()).isEmpty());
    QVERIFY(!QFile::exists(QFileInfo(target.path()).dir().filePath(QStringLiteral("escaped"))));
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().icon, QMessageBox::Critical);
    QCOMPARE(messages.first().title, QStringLiteral("Error"));
    const QString text = messages.first().text;
    const QString unwritten = QStringLiteral("These files could not be written; any file of the same name was left "
                                             "as it was:\n/occupied");
    QVERIFY2(text.endsWith(unwritten), qPrintable(text));
    for (const char *path : {"/../escaped", "//etc/passwd", "/planted/evil"})
        QVERIFY2(text.left(text.indexOf(unwritten)).contains(QLatin1String(path)), path);
    QVERIFY(!text.contains(QLatin1String("/good")));
    QVERIFY(messages.first().details.isEmpty());
    QVERIFY(QFileInfo(target.filePath(QStringLiteral("occupied"))).isDir());
}

// Paths too long for a line are cut in the text and named whole in the details.
void tst_ConfigImport::extractNamesLongPathsInDetails()
{
    const QString longName = QStringLiteral("../") + QString(20000, u'a');
    const QString deep = QStringLiteral("a/").repeated(10000) + u'x';
    const QString fileName = writeExport(exportText(document({{longName, "x"}, {deep, "x"}, {"/good", "kept"}})));
    QTemporaryDir target;
    dialogs->answerText(fileName);
    dialogs->answerText(exportPassword);
    dialogs->answerText(target.path());
    run();

    QCOMPARE(readFile(target.filePath(QStringLiteral("good"))), QByteArray("kept"));
    QCOMPARE(QDir(target.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("good")});
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), 1);
    const QStringList lines = messages.first().text.split(u'\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(1).size() <= 120 && lines.at(1).startsWith(QStringLiteral("../aaa")));
    QVERIFY(lines.at(2).size() <= 120 && lines.at(2).endsWith(QStringLiteral("a/a/x")));
    QCOMPARE(messages.first().details.split(u'\n').mid(1), (QStringList{longName, deep}));
}

void tst_ConfigImport::stopsSilently_data()
{
    // How many of the three dialogs (file, password, directory) are answered before the
    // next one is cancelled.
    QTest::addColumn<int>("answered");
    QTest::newRow("file dialog cancelled") << 0;
    QTest::newRow("password dialog cancelled") << 1;
    QTest::newRow("directory dialog cancelled") << 2;
}

void tst_ConfigImport::stopsSilently()
{
    QFETCH(int, answered);
    const QString fileName = writeExport(exportText(document({{"/a", "b"}})));
    QTemporaryDir target;

    const QStringList answers{fileName, exportPassword};
    for (int i = 0; i < answered; ++i)
        dialogs->answerText(answers.at(i));
    dialogs->cancel();
    run();

    QCOMPARE(dialogs->calls.size(), answered + 1);
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Message).size(), 0);
    QVERIFY(QDir(target.path()).isEmpty());
}

void tst_ConfigImport::failureMessages_data()
{
    QTest::addColumn<QByteArray>("text");       // the export file; empty: no such file
    QTest::addColumn<QString>("fileName");     // instead of the text
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("passwordAsked");
    QTest::addColumn<QString>("message");

    const QByteArray good = exportText(document({{"/a", "b"}}));
    QTest::newRow("missing file") << QByteArray() << QString() << exportPassword << false
                                  << QStringLiteral("Could not read the file.");
    // It opens, but reading fails at its first byte.
    QTest::newRow("file fails while read") << QByteArray() << QStringLiteral("/proc/self/mem") << exportPassword
                                           << true << QStringLiteral("Could not read the file.");
    QTest::newRow("wrong password") << good << QString() << QStringLiteral("wrong") << true
                                    << QStringLiteral("Wrong password or XML syntax error.");
    QTest::newRow("truncated document")
        << exportText(document({{"/a", "b"}}).chopped(10)) << QString() << exportPassword << true
        << QStringLiteral("Wrong password or XML syntax error.");
    QTest::newRow("not an export") << QByteArray("plain text, no export") << QString() << exportPassword << true
                                   << QStringLiteral("Wrong password or XML syntax error.");
}

void tst_ConfigImport::failureMessages()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, fileName);
    QFETCH(QString, password);
    QFETCH(bool, passwordAsked);
    QFETCH(QString, message);
    if (fileName.isEmpty())
        fileName = text.isEmpty() ? work->filePath(QStringLiteral("absent.aes")) : writeExport(text);

    dialogs->answerText(fileName);
    dialogs->answerText(password);
    run();

    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Text).size(), passwordAsked ? 1 : 0);
    const QList<ScriptedDialogs::Call> messages = dialogs->callsOf(ScriptedDialogs::Message);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().icon, QMessageBox::Critical);
    QCOMPARE(messages.first().title, QStringLiteral("Error"));
    QCOMPARE(messages.first().text, message);
    QCOMPARE(messages.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Nothing after the error: no directory dialog, no upload.
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Directory).size(), 0);
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Exec).size(), 0);
}

void tst_ConfigImport::browsePathRemembered()
{
    // The directory of the chosen file becomes the next start directory even when the file
    // then cannot be read.
    QTemporaryDir elsewhere;
    dialogs->answerText(elsewhere.filePath(QStringLiteral("missing.aes")));
    run();
    QCOMPARE(QSettings().value(QStringLiteral("BrowseStartPath")).toString(), elsewhere.path());

    dialogs->answerText(QString());
    run();
    QCOMPARE(QSettings().value(QStringLiteral("BrowseStartPath")).toString(), elsewhere.path());
    QCOMPARE(dialogs->calls.at(2).initialText, elsewhere.path());
}

void tst_ConfigImport::uploadStoresEveryFile_data()
{
    QTest::addColumn<SecretStoreLab::Store>("store");
    QTest::newRow("password in the secret store") << SecretStoreLab::Keyring;
    QTest::newRow("no bus, password in the settings file") << SecretStoreLab::NoBus;
}

void tst_ConfigImport::uploadStoresEveryFile()
{
    QFETCH(SecretStoreLab::Store, store);
    RUN_ON_SECRET_STORE(store);
    const QString password = QStringLiteral("ftp pass");
    PyftpdlibServer ftp;
    QVERIFY2(ftp.start(QStringLiteral("admin"), password), qPrintable(ftp.log()));
    QVERIFY(QDir(ftp.root()).mkpath(QStringLiteral("etc/config")));
    FtpProgressDialog::setUploadPortForTesting(ftp.port());
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    if (store == SecretStoreLab::NoBus)
        QSettings().setValue(QStringLiteral("password"), password);
    else
        QVERIFY(SecretStoreLab::storePassword(password));

    const QByteArray router = "<Router type=\"OpenWRT Pylon VPN\" login=\"admin\"/>\n";
    const QString fileName = writeExport(exportText(document(
        {{"/etc/config/network", "config interface 'lan'\n"}, {"/etc/config/firewall", "x\ny\n"},
         {"/hosts", QByteArray(100000, 'h')}}, router)));
    dialogs->answerText(fileName);
    dialogs->answerText(exportPassword);
    int maximum = 0;
    dialogs->answerExec([&maximum](QDialog *dialog) {
        maximum = static_cast<QProgressDialog *>(dialog)->maximum();
        return dialog->exec();
    });
    run(ConfigImport::Router);
    // Once the password is there.
    QTRY_COMPARE(dialogs->callsOf(ScriptedDialogs::Exec).size(), 1);

    QCOMPARE(maximum, 6);
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Exec).first().dialogClass,
             QStringLiteral("FtpProgressDialog"));
    QCOMPARE(dialogs->callsOf(ScriptedDialogs::Message).size(), 0);
    QCOMPARE(ftp.file(QStringLiteral("/etc/config/network")), QByteArray("config interface 'lan'\n"));
    QCOMPARE(ftp.file(QStringLiteral("/etc/config/firewall")), QByteArray("x\ny\n"));
    QCOMPARE(ftp.file(QStringLiteral("/hosts")), QByteArray(100000, 'h'));
}

QTEST_MAIN(tst_ConfigImport)
#include "tst_configimport.moc"
