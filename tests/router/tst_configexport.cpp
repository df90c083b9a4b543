#include "router/configcipher.h"
#include "router/configexport.h"
#include "support/opensslcommand.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray encrypted(const QByteArray &document, const QString &password)
{
    ConfigCipher cipher(document);
    cipher.setPassword(password);
    cipher.encrypt();
    return cipher.data;
}

// The Base64 of the bytes with a line break after every `every` characters.
QByteArray wrapped(const QByteArray &bytes, int every, const QByteArray &lineBreak = "\n")
{
    const QByteArray text = bytes.toBase64();
    QByteArray lines;
    for (qsizetype i = 0; i < text.size(); i += every)
        lines += text.mid(i, every) + lineBreak;
    return lines;
}

QByteArray exportText(const QByteArray &document, const QString &password)
{
    return wrapped(encrypted(document, password), 76, "\r\n");
}

ConfigExport::Result openText(const QByteArray &text, const QString &password)
{
    ConfigExport configExport;
    configExport.setText(QByteArray(text));
    return configExport.open(password);
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
    void cleanup();
    void read_data();
    void read();
    void decodeBase64_data();
    void decodeBase64();
    void decodersAgree();
    void openWithPassword_data();
    void openWithPassword();
    void loadFile();
    void openExportMadeByOpenssl();
    void decryptLikeOpenssl_data();
    void decryptLikeOpenssl();
    void lineBreaksAnywhere_data();
    void lineBreaksAnywhere();
    void piecesCutAnywhere();
    void paddingErrorAfterWholeDocument();
    void fileFailsWhileRead();
};

void TestConfigExport::cleanup()
{
    ConfigExport::setChunkSizeForTesting(0);
}

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

    // The contents are decoded on their way to the XML reader; it still judges them.
    QTest::newRow("content of other elements is no file")
        << QByteArray("<C content=\"QUJD\"><Router content=\"QUJD\" login=\"u\"/><File path=\"p\" content=\"" + a
                      + "\"/><file content=\"QUJD\"/></C>")
        << true << QStringLiteral("u") << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("single quotes and spaces around the equals sign")
        << QByteArray("<C><File path='p' content = 'YWxw aGE='\n/></C>") << true << QStringLiteral("root")
        << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("quotes, '>' and '/' inside other values")
        << QByteArray("<C><File path=\"a>b/'c'\" content=\"" + a + "\" x='\"content=\"QUJD\"'/></C>") << true
        << QStringLiteral("root") << QStringList{QStringLiteral("a>b/'c'")} << QByteArrayList{"alpha"};
    QTest::newRow("markup inside comments, CDATA and instructions is text")
        << QByteArray("<?pi <File path=\"w\" content=\"QUJD\"/>?><C><!-- <File path=\"x\" content=\"QUJD\"/> -->"
                      "<![CDATA[<File path=\"y\" content=\"QUJD\"/>]]><?pi <File content=\"QUJD\"/>?>"
                      "<!----><File path=\"p\" content=\"" + a + "\"/><!-- ->--></C>")
        << true << QStringLiteral("root") << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("File with a namespace prefix")
        << QByteArray("<C xmlns:x=\"urn:x\"><x:File path=\"p\" content=\"" + a + "\"/></C>") << true
        << QStringLiteral("root") << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("character reference standing for Base64 in content")
        << QByteArray("<C><File path=\"p\" content=\"YWxw&#97;GE=\"/><File path=\"q\" content=\"" + b + "\"/></C>")
        << true << QStringLiteral("root") << QStringList{QStringLiteral("p"), QStringLiteral("q")}
        << QByteArrayList{"alpha", "beta\n"};
    QTest::newRow("entity references and non-ASCII characters in content are skipped")
        << QByteArray("<C><File path=\"p\" content=\"YW&amp;xw\xc5\x82" "aG&lt;\xe2\x82\xac" "E=\"/></C>") << true
        << QStringLiteral("root") << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("entity from the document type in content")
        << QByteArray("<!DOCTYPE C [<!ENTITY b \"aGE=\">]><C><File path=\"p\" content=\"YWxw&b;\"/></C>") << true
        << QStringLiteral("root") << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("declared Latin-1 encoding with content")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><C><File path=\"\xe9\" content=\"YWxw\xe9" "aGE=\"/></C>")
        << true << QStringLiteral("root") << QStringList{QStringLiteral("é")} << QByteArrayList{"alpha"};
    QTest::newRow("declared Shift_JIS encoding, a character whose second byte is a letter")
        << QByteArray("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><C><File path=\"p\" content=\"YWxw\x83" "A"
                      "aGE=\"/></C>")
        << true << QStringLiteral("root") << QStringList{QStringLiteral("p")} << QByteArrayList{"alpha"};
    QTest::newRow("UTF-16 with a byte-order mark")
        << [&a] {
               const QString text = QStringLiteral("\uFEFF<C><File path=\"\u0142\" content=\"%1\"/></C>")
                                        .arg(QString::fromLatin1(a));
               return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
           }()
        << true << QStringLiteral("root") << QStringList{QStringLiteral("ł")} << QByteArrayList{"alpha"};
    QTest::newRow("undecodable UTF-8 inside content")
        << QByteArray("<C><File path=\"p\" content=\"YWxw\xc5" "a\x82" "GE=\"/></C>") << false << QString() << QStringList()
        << QByteArrayList();
    QTest::newRow("control character inside content")
        << QByteArray("<C><File path=\"p\" content=\"YWxw\x01" "aGE=\"/></C>") << false << QString() << QStringList()
        << QByteArrayList();
    QTest::newRow("'<' inside content") << QByteArray("<C><File path=\"p\" content=\"YWxw<aGE=\"/></C>") << false
                                        << QString() << QStringList() << QByteArrayList();
    QTest::newRow("content given twice") << QByteArray("<C><File content=\"" + a + "\" content=\"" + b + "\"/></C>")
                                         << false << QString() << QStringList() << QByteArrayList();
    QTest::newRow("cut off inside content") << QByteArray("<C><File path=\"p\" content=\"YWxwaG") << false
                                            << QString() << QStringList() << QByteArrayList();
    QTest::newRow("cut off inside a comment") << QByteArray("<C><File path=\"p\" content=\"" + a + "\"/></C><!-- ")
                                              << false << QString() << QStringList() << QByteArrayList();
}

void TestConfigExport::read()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, ok);
    QFETCH(QString, login);
    QFETCH(QStringList, paths);
    QFETCH(QByteArrayList, contents);

    // The document arrives in pieces: one byte at a time puts a cut at every place, inside
    // every value, reference and UTF-8 sequence.
    for (const qsizetype chunk : {1, 2, 3, 7, 0}) {
        ConfigExport::setChunkSizeForTesting(chunk);
        const ConfigExport::Result result = ConfigExport::read(document);
        QVERIFY2(result.ok == ok, qPrintable(QStringLiteral("pieces of %1").arg(chunk)));
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
    const QStringList key = OpensslCommand::keyArguments(password);
    QVERIFY(!key.isEmpty());
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("router.aes"));
    const OpensslCommand::Run encrypt = OpensslCommand::run(
        QStringList{QStringLiteral("enc"), QStringLiteral("-aes-256-cbc")} + key
            + QStringList{QStringLiteral("-a"), QStringLiteral("-out"), name},
        sampleDocument);
    QCOMPARE(encrypt.exitCode, 0);

    ConfigExport configExport;
    QVERIFY(configExport.load(name));
    const ConfigExport::Result result = configExport.open(password);
    QVERIFY(result.ok);
    QCOMPARE(result.login, QStringLiteral("admin"));
    QCOMPARE(result.files.size(), qsizetype(2));
    QCOMPARE(result.files[1].path, QStringLiteral("/etc/openvpn/ca.crt"));
}

void TestConfigExport::decryptLikeOpenssl_data()
{
    QTest::addColumn<QByteArray>("ciphertext");
    const QString password = QStringLiteral("transport");
    const QByteArray whole = encrypted(sampleDocument, password);
    QTest::newRow("whole export") << whole;
    QTest::newRow("cut off inside a block") << whole.chopped(5);
    QTest::newRow("cut off at a block boundary") << whole.chopped(16);
    QTest::newRow("cut off after the first block") << whole.left(16);
    QTest::newRow("nothing") << QByteArray();
    QByteArray lastBlockBroken = encrypted("<C/>" + QByteArray(40, ' '), password);
    for (qsizetype i = lastBlockBroken.size() - 16; i < lastBlockBroken.size(); ++i)
        lastBlockBroken[i] = char(lastBlockBroken[i] ^ 0x55);
    QTest::newRow("padding error in the last block") << lastBlockBroken;
    QTest::newRow("another password's export") << encrypted(sampleDocument, QStringLiteral("other"));
}

// The plaintext streams out as openssl gives it, all but a last block that does not check
// out, with openssl's verdict, wherever the pieces read from the file are cut: inside a
// Base64 group, inside a cipher block, on their boundaries.
void TestConfigExport::decryptLikeOpenssl()
{
    QFETCH(QByteArray, ciphertext);
    const QString password = QStringLiteral("transport");
    QByteArray text = wrapped(ciphertext, 64);
    const QStringList key = OpensslCommand::keyArguments(password);
    QVERIFY(!key.isEmpty());
    const OpensslCommand::Run openssl = OpensslCommand::run(
        QStringList{QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc"), QStringLiteral("-a")}
            + key,
        text);
    QVERIFY(openssl.exitCode >= 0);

    for (const qsizetype chunk : {1, 2, 3, 4, 5, 15, 16, 17, 65, 0}) {
        ConfigExport::setChunkSizeForTesting(chunk);
        QBuffer buffer(&text);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QByteArray plaintext;
        const ConfigExport::PlaintextEnd end = ConfigExport::decrypt(&buffer, password, [&plaintext](QByteArrayView piece) {
            plaintext += piece;
            return true;
        });
        const QByteArray where = "pieces of " + QByteArray::number(chunk);
        QVERIFY2((end == ConfigExport::PlaintextEnd::Complete) == (openssl.exitCode == 0), where.constData());
        QVERIFY2(end == ConfigExport::PlaintextEnd::Complete || end == ConfigExport::PlaintextEnd::BadPadding, where.constData());
        QVERIFY2(plaintext == openssl.output, where.constData());
    }
}

void TestConfigExport::lineBreaksAnywhere_data()
{
    QTest::addColumn<QByteArray>("lineBreak");
    QTest::addColumn<int>("every"); // 0: one line break, put at each place in turn
    QTest::newRow("LF after every character") << QByteArray("\n") << 1;
    QTest::newRow("CR LF after every third character") << QByteArray("\r\n") << 3;
    QTest::newRow("LF every 64 characters, as openssl writes") << QByteArray("\n") << 64;
    QTest::newRow("CR LF every 76 characters, as MIME writes") << QByteArray("\r\n") << 76;
    QTest::newRow("one LF at each place") << QByteArray("\n") << 0;
    QTest::newRow("one CR LF at each place") << QByteArray("\r\n") << 0;
}

void TestConfigExport::lineBreaksAnywhere()
{
    QFETCH(QByteArray, lineBreak);
    QFETCH(int, every);
    const QByteArray ciphertext = encrypted(sampleDocument, QStringLiteral("pw"));
    QList<QByteArray> texts;
    if (every > 0) {
        texts.append(wrapped(ciphertext, every, lineBreak));
    } else {
        const QByteArray text = ciphertext.toBase64();
        for (qsizetype at = 0; at <= text.size(); ++at)
            texts.append(QByteArray(text).insert(at, lineBreak));
    }
    ConfigExport::setChunkSizeForTesting(5);
    for (const QByteArray &text : texts) {
        const ConfigExport::Result result = openText(text, QStringLiteral("pw"));
        QVERIFY2(result.ok, text.constData());
        QCOMPARE(result.files.size(), qsizetype(2));
        QCOMPARE(result.files[1].content, QByteArray("-----BEGIN\n"));
    }
}

// Pieces of the file cut at every place give the plaintext in whole blocks cut at every
// place of the document: inside values, references and UTF-8 sequences ("\u20ac" is three
// bytes), and a large content over several pieces of the default size.
void TestConfigExport::piecesCutAnywhere()
{
    QRandomGenerator random(25);
    QByteArray large(200000, Qt::Uninitialized);
    for (char &byte : large)
        byte = char(random.bounded(256));
    const QByteArray euros = QString(QStringLiteral("\u20ac")).repeated(9).toUtf8();
    const QByteArray document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><C><Router login=\"" + euros + "\"/>"
                                "<File path=\"/" + euros + "\" content=\"YW" + euros + "xw&#10;a&#71;E=\"/>"
                                "<File path=\"/large\" content=\"" + large.toBase64() + "\"/></C>";
    const QByteArray text = wrapped(encrypted(document, QStringLiteral("pw")), 64);
    for (const qsizetype chunk : {1, 2, 3, 5, 7, 11, 13, 16, 17, 19, 23, 1000, 0}) {
        ConfigExport::setChunkSizeForTesting(chunk);
        const ConfigExport::Result result = openText(text, QStringLiteral("pw"));
        const QByteArray where = "pieces of " + QByteArray::number(chunk);
        QVERIFY2(result.ok, where.constData());
        QCOMPARE(result.login, QString::fromUtf8(euros));
        QCOMPARE(result.files.size(), qsizetype(2));
        QCOMPARE(result.files[0].path, u'/' + QString::fromUtf8(euros));
        QCOMPARE(result.files[0].content, QByteArray("alpha"));
        QVERIFY2(result.files[1].content == large, where.constData());
    }
}

// The document before the last block reads, but the last block's padding does not check
// out: the export is corrupt (or the password wrong), and nothing is handed on.
void TestConfigExport::paddingErrorAfterWholeDocument()
{
    const QByteArray document = sampleDocument + QByteArray(40, ' ');
    QByteArray ciphertext = encrypted(document, QStringLiteral("pw"));
    QVERIFY(openText(ciphertext.toBase64(), QStringLiteral("pw")).ok);
    ciphertext[ciphertext.size() - 1] = char(ciphertext[ciphertext.size() - 1] ^ 1);
    QVERIFY(ConfigExport::read(document.left(ciphertext.size() - 16)).ok);
    const ConfigExport::Result result = openText(ciphertext.toBase64(), QStringLiteral("pw"));
    QVERIFY(!result.ok);
    QVERIFY(!result.unreadable);
    QVERIFY(result.files.isEmpty());
}

// A file that opens but fails while it is read (/proc/self/mem fails at its first byte) is
// told apart from a wrong password.
void TestConfigExport::fileFailsWhileRead()
{
    ConfigExport configExport;
    QVERIFY(configExport.load(QStringLiteral("/proc/self/mem")));
    const ConfigExport::Result result = configExport.open(QStringLiteral("pw"));
    QVERIFY(result.unreadable);
    QVERIFY(!result.ok);
    QVERIFY(configExport.isEmpty());

    QVERIFY(!openText(exportText(sampleDocument, QStringLiteral("pw")), QStringLiteral("wrong")).unreadable);
}

QTEST_GUILESS_MAIN(TestConfigExport)
#include "tst_configexport.moc"
