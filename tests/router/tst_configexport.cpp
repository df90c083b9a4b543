#include "router/configcipher.h"
#include "router/configexport.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray exportText(const QByteArray &document, const QString &password)
{
    ConfigCipher cipher(document);
    cipher.setPassword(password);
    cipher.encrypt();
    const QByteArray text = cipher.data.toBase64();
    QByteArray wrapped;
    for (qsizetype i = 0; i < text.size(); i += 76)
        wrapped += text.mid(i, 76) + "\r\n";
    return wrapped;
}

const QByteArray sampleDocument =
    "<?xml version=\"1.0\"?>\n"
    "<Config><Router type=\"OpenWRT Pylon VPN\" login=\"admin\"/>"
    "<File path=\"/etc/config/network\" content=\"" + QByteArray("config interface\n").toBase64() + "\"/>"
    "<File path=\"/etc/openvpn/ca.crt\" content=\"" + QByteArray("-----BEGIN\n").toBase64() + "\"/>"
    "</Config>\n";

} // namespace

class TestConfigExport : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void decodeBase64_data();
    void decodeBase64();
    void decodersAgree();
    void openWithPassword_data();
    void openWithPassword();
    void loadFile();
    void openExportMadeByOpenssl();
};

void TestConfigExport::read_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QByteArrayList>("contents");

    const QByteArray a = QByteArray("alpha").toBase64();
    const QByteArray b = QByteArray("beta\n").toBase64();

    QTest::newRow("no Router element keeps root")
        << QByteArray("<C><File path=\"/a\" content=\"" + a + "\"/></C>") << true << QStringLiteral("root")
        << QStringList{QStringLiteral("/a")} << QByteArrayList{"alpha"};
    QTest::newRow("Router login replaces root")
        << QByteArray("<C><Router type=\"OpenWRT Pylon VPN\" login=\"admin\"/></C>") << true
        << QStringLiteral("admin") << QStringList() << QByteArrayList();
    QTest::newRow("Router without login empties it")
        << QByteArray("<C><Router type=\"x\"/></C>") << true << QString() << QStringList() << QByteArrayList();
    QTest::newRow("last Router wins")
        << QByteArray("<C><Router login=\"one\"/><x><Router login=\"two\"/></x></C>") << true
        << QStringLiteral("two") << QStringList() << QByteArrayList();
    QTest::newRow("Files in document order at any depth, before and after Router")
        << QByteArray("<C><File path=\"1\" content=\"" + a + "\"/><d><e><File path=\"2\" content=\"" + b
                      + "\"/></e></d><Router login=\"u\"/><File path=\"3\" content=\"\"/></C>")
        << true << QStringLiteral("u") << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}
        << QByteArrayList{"alpha", "beta\n", ""};
    QTest::newRow("File as the root element")
        << QByteArray("<File path=\"only\" content=\"" + a + "\"/>") << true << QStringLiteral("root")
        << QStringList{QStringLiteral("only")} << QByteArrayList{"alpha"};
    QTest::newRow("names are case-sensitive")
        << QByteArray("<C><file path=\"x\" content=\"" + a + "\"/><router login=\"no\"/><FILE path=\"y\"/></C>")
        << true << QStringLiteral("root") << QStringList() << QByteArrayList();
    QTest::newRow("attribute names are case-sensitive")
        << QByteArray("<C><Router Login=\"no\"/><File Path=\"x\" Content=\"" + a + "\"/></C>") << true << QString()
        << QStringList{QString()} << QByteArrayList{""};
    QTest::newRow("missing path and content give empty texts")
        << QByteArray("<C><File/></C>") << true << QStringLiteral("root") << QStringList{QString()}
        << QByteArrayList{""};
    QTest::newRow("content with line breaks and spaces decodes the same")
        << QByteArray("<C><File path=\"p\" content=\"YWxw&#10;aG E=\n\"/></C>") << true << QStringLiteral("root")
        << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("entities and character references in the path")
        << QByteArray("<C><File path=\"/a&amp;b/&#x142;\" content=\"\"/></C>") << true << QStringLiteral("root")
        << QStringList{QStringLiteral("/a&b/ł")} << QByteArrayList{""};
    QTest::newRow("declared Latin-1 encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><C><Router login=\"J\xe9r\xf4me\"/></C>") << true
        << QStringLiteral("Jérôme") << QStringList() << QByteArrayList();
    QTest::newRow("UTF-8 without declaration")
        << QByteArray("<C><Router login=\"\xc5\x81ukasz\"/></C>") << true << QStringLiteral("Łukasz") << QStringList()
        << QByteArrayList();
    QTest::newRow("truncated before the root element closes")
        << QByteArray("<C><Router login=\"a\"/><File path=\"x\" content=\"" + a + "\"/>") << false << QString()
        << QStringList() << QByteArrayList();
    QTest::newRow("mismatched tags") << QByteArray("<C><File path=\"x\"></C>") << false << QString()
                                     << QStringList() << QByteArrayList();
    QTest::newRow("two root elements") << QByteArray("<C/><D/>") << false << QString() << QStringList()
                                       << QByteArrayList();
    QTest::newRow("empty document") << QByteArray() << false << QString() << QStringList() << QByteArrayList();
    QTest::newRow("binary noise, as after a wrong password")
        << QByteArray("\x8f\x01\xfe<\x00\x13zz", 8) << false << QString() << QStringList() << QByteArrayList();
    QTest::newRow("undecodable UTF-8") << QByteArray("<C><Router login=\"\xff\xfe\"/></C>") << false << QString()
                                       << QStringList() << QByteArrayList();
}

void TestConfigExport::read()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, ok);
    QFETCH(QString, login);
    QFETCH(QStringList, paths);
    QFETCH(QByteArrayList, contents);

    const ConfigExport::Result result = ConfigExport::read(document);
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.login, login);
    QStringList readPaths;
    QByteArrayList readContents;
    for (const ConfigExport::File &file : result.files) {
        readPaths.append(file.path);
        readContents.append(file.content);
    }
    QCOMPARE(readPaths, paths);
    QCOMPARE(readContents, contents);
}

void TestConfigExport::decodeBase64_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << QStringLiteral("aGVsbG8=") << QByteArray("hello");
    QTest::newRow("no padding") << QStringLiteral("aGVsbG8") << QByteArray("hello");
    QTest::newRow("line breaks") << QStringLiteral("aGVs\r\nbG8=\n") << QByteArray("hello");
    QTest::newRow("spaces and tabs") << QStringLiteral(" aG VsbG\t8 ") << QByteArray("hello");
    QTest::newRow("padding inside is skipped") << QStringLiteral("aG=VsbG8") << QByteArray("hello");
    QTest::newRow("non-ASCII characters are skipped") << QStringLiteral("aGV€sbG8ł") << QByteArray("hello");
    QTest::newRow("URL alphabet characters are skipped") << QStringLiteral("-_aGVsbG8") << QByteArray("hello");
    QTest::newRow("all 256 byte values")
        << QString::fromLatin1([] {
               QByteArray all;
               for (int i = 0; i < 256; ++i)
                   all += char(i);
               return all.toBase64();
           }())
        << [] {
               QByteArray all;
               for (int i = 0; i < 256; ++i)
                   all += char(i);
               return all;
           }();
    QTest::newRow("nothing") << QString() << QByteArray();
}

void TestConfigExport::decodeBase64()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ConfigExport::decodeBase64(QStringView(text)), bytes);
    QCOMPARE(ConfigExport::decodeBase64(text.toLatin1()), bytes);
}

// The text decoder (contents) and the byte decoder (the file) must skip the same characters
// as Qt's own lenient decoder, whether the alphabet characters come in whole groups or not.
void TestConfigExport::decodersAgree()
{
    QRandomGenerator random(42);
    const QString alphabet = QStringLiteral("ABCDEFGHxyz0189+/ABCDEFGHxyz0189+/=\r\n \t-_.*é€");
    for (int round = 0; round < 300; ++round) {
        QString text;
        const int length = int(random.bounded(400));
        for (int i = 0; i < length; ++i)
            text += alphabet.at(int(random.bounded(alphabet.size())));
        const QByteArray expected = QByteArray::fromBase64(text.toUtf8());
        QCOMPARE(ConfigExport::decodeBase64(QStringView(text)), expected);
        QCOMPARE(ConfigExport::decodeBase64(text.toUtf8()), expected);
    }
}

void TestConfigExport::openWithPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("given");
    QTest::addColumn<bool>("ok");
    QTest::newRow("right password") << QStringLiteral("secret") << QStringLiteral("secret") << true;
    QTest::newRow("right non-ASCII password") << QStringLiteral("źdźbło") << QStringLiteral("źdźbło") << true;
    QTest::newRow("empty password is a password") << QString() << QString() << true;
    QTest::newRow("wrong password") << QStringLiteral("secret") << QStringLiteral("Secret") << false;
    QTest::newRow("empty instead of the password") << QStringLiteral("secret") << QString() << false;
}

void TestConfigExport::openWithPassword()
{
    QFETCH(QString, password);
    QFETCH(QString, given);
    QFETCH(bool, ok);
    ConfigExport configExport;
    configExport.setText(exportText(sampleDocument, password));
    QVERIFY(!configExport.isEmpty());
    const ConfigExport::Result result = configExport.open(given);
    QVERIFY(configExport.isEmpty());
    QCOMPARE(result.ok, ok);
    if (ok) {
        QCOMPARE(result.login, QStringLiteral("admin"));
        QCOMPARE(result.files.size(), qsizetype(2));
        QCOMPARE(result.files[0].path, QStringLiteral("/etc/config/network"));
        QCOMPARE(result.files[0].content, QByteArray("config interface\n"));
        QCOMPARE(result.files[1].content, QByteArray("-----BEGIN\n"));
    } else {
        QVERIFY(result.files.isEmpty());
        QVERIFY(result.login.isEmpty());
    }
}

void TestConfigExport::loadFile()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("router.aes"));
    ConfigExport configExport;
    QVERIFY(!configExport.load(name));

    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(exportText(sampleDocument, QStringLiteral("pw")));
    file.close();
    QVERIFY(configExport.load(name));
    configExport.clear();
    QVERIFY(configExport.isEmpty());
    QVERIFY(!configExport.open(QStringLiteral("pw")).ok);

    QVERIFY(configExport.load(name));
    const ConfigExport::Result result = configExport.open(QStringLiteral("pw"));
    QVERIFY(result.ok);
    QCOMPARE(result.files.size(), qsizetype(2));
}

// An export written by an independent implementation: openssl's cipher and Base64 layers.
void TestConfigExport::openExportMadeByOpenssl()
{
    const QString password = QStringLiteral("Pylon żółw");
    QProcess digest;
    digest.start(QStringLiteral("openssl"), {QStringLiteral("dgst"), QStringLiteral("-sha512"), QStringLiteral("-binary")});
    QVERIFY(digest.waitForStarted());
    digest.write(password.toUtf8());
    digest.closeWriteChannel();
    QVERIFY(digest.waitForFinished());
    const QByteArray key = digest.readAllStandardOutput();
    QCOMPARE(key.size(), qsizetype(64));

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("router.aes"));
    QProcess encrypt;
    encrypt.start(QStringLiteral("openssl"),
                  {QStringLiteral("enc"), QStringLiteral("-aes-256-cbc"), QStringLiteral("-K"),
                   QString::fromLatin1(key.left(32).toHex()), QStringLiteral("-iv"),
                   QString::fromLatin1(key.mid(32, 16).toHex()), QStringLiteral("-a"), QStringLiteral("-out"), name});
    QVERIFY(encrypt.waitForStarted());
    encrypt.write(sampleDocument);
    encrypt.closeWriteChannel();
    QVERIFY(encrypt.waitForFinished());
    QCOMPARE(encrypt.exitCode(), 0);

    ConfigExport configExport;
    QVERIFY(configExport.load(name));
    const ConfigExport::Result result = configExport.open(password);
    QVERIFY(result.ok);
    QCOMPARE(result.login, QStringLiteral("admin"));
    QCOMPARE(result.files.size(), qsizetype(2));
    QCOMPARE(result.files[1].path, QStringLiteral("/etc/openvpn/ca.crt"));
}

QTEST_GUILESS_MAIN(TestConfigExport)
#include "tst_configexport.moc"
