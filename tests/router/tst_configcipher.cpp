#include "router/configcipher.h"
#include "router/configexport.h"
#include "support/opensslcommand.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray payload(qsizetype length, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(length, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

QByteArray encrypted(const QByteArray &plain, const QString &password)
{
    ConfigCipher cipher(plain);
    cipher.setPassword(password);
    cipher.encrypt();
    return cipher.data;
}

// Base64 in lines of 64 characters, as "openssl enc -a" writes and reads it.
QByteArray wrappedBase64(const QByteArray &bytes)
{
    const QByteArray text = bytes.toBase64();
    QByteArray wrapped;
    for (qsizetype i = 0; i < text.size(); i += 64)
        wrapped += text.mid(i, 64) + '\n';
    return wrapped;
}

} // namespace

class TestConfigCipher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void encryptedLength_data();
    void encryptedLength();
    void wrongPassword_data();
    void wrongPassword();
    void truncatedCiphertext_data();
    void truncatedCiphertext();
    void emptyPayloadStaysEmpty();
    void sameTextSameCiphertext();
    void keyFromPassword_data();
    void keyFromPassword();
    void constructors();
    void copiesAreIndependent();
    void opensslEncryptsWeDecrypt_data();
    void opensslEncryptsWeDecrypt();
    void weEncryptOpensslDecrypts_data();
    void weEncryptOpensslDecrypts();

private:
    QTemporaryDir dir;
};

void TestConfigCipher::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestConfigCipher::roundTrip_data()
{
    QTest::addColumn<int>("length");
    for (int length = 1; length <= 64; ++length)
        QTest::addRow("%d bytes", length) << length;
    QTest::newRow("1000 bytes") << 1000;
    QTest::newRow("64 KiB") << 65536;
    QTest::newRow("1 MiB and 7") << (1 << 20) + 7;
    QTest::newRow("8 MiB, whole blocks") << (8 << 20);
}

void TestConfigCipher::roundTrip()
{
    QFETCH(int, length);
    const QByteArray plain = payload(length, quint32(length));
    ConfigCipher cipher(plain);
    cipher.setPassword(QStringLiteral("transport"));
    cipher.encrypt();
    QCOMPARE(cipher.data.size(), qsizetype((length / 16 + 1) * 16));
    QVERIFY(cipher.data != plain.left(cipher.data.size()));
    cipher.decrypt();
    QCOMPARE(cipher.data, plain);
}

void TestConfigCipher::encryptedLength_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("encryptedLength");
    QTest::newRow("1 byte gives one block") << 1 << 16;
    QTest::newRow("15 bytes give one block") << 15 << 16;
    QTest::newRow("16 bytes get a whole padding block") << 16 << 32;
    QTest::newRow("17 bytes give two blocks") << 17 << 32;
    QTest::newRow("32 bytes give three blocks") << 32 << 48;
}

void TestConfigCipher::encryptedLength()
{
    QFETCH(int, length);
    QFETCH(int, encryptedLength);
    QCOMPARE(encrypted(QByteArray(length, 'x'), QStringLiteral("pw")).size(), qsizetype(encryptedLength));
}

void TestConfigCipher::wrongPassword_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("one block") << 10;
    QTest::newRow("two blocks") << 20;
    QTest::newRow("many blocks") << 5000;
}

// The padding check fails, so the last block is dropped and the rest is noise.
void TestConfigCipher::wrongPassword()
{
    QFETCH(int, length);
    const QByteArray plain = payload(length, 7);
    ConfigCipher cipher(encrypted(plain, QStringLiteral("right")));
    const qsizetype ciphertextLength = cipher.data.size();
    cipher.setPassword(QStringLiteral("wrong"));
    cipher.decrypt();
    QCOMPARE(cipher.data.size(), ciphertextLength - 16);
    QVERIFY(cipher.data.isEmpty() || !plain.startsWith(cipher.data.left(16)));
}

void TestConfigCipher::truncatedCiphertext_data()
{
    QTest::addColumn<int>("cut");
    QTest::newRow("one byte missing") << 1;
    QTest::newRow("fifteen bytes missing") << 15;
    QTest::newRow("one block and a byte missing") << 17;
}

// A ciphertext that is not a whole number of blocks leaves its length rounded down.
void TestConfigCipher::truncatedCiphertext()
{
    QFETCH(int, cut);
    const QByteArray plain = payload(100, 3);
    ConfigCipher cipher(encrypted(plain, QStringLiteral("pw")));
    cipher.data.chop(cut);
    const qsizetype length = cipher.data.size();
    cipher.setPassword(QStringLiteral("pw"));
    cipher.decrypt();
    QCOMPARE(cipher.data.size(), length / 16 * 16);
    QCOMPARE(cipher.data, plain.left(cipher.data.size()));
}

void TestConfigCipher::emptyPayloadStaysEmpty()
{
    ConfigCipher cipher;
    cipher.setPassword(QStringLiteral("pw"));
    cipher.encrypt();
    QVERIFY(cipher.data.isEmpty());
    cipher.decrypt();
    QVERIFY(cipher.data.isEmpty());
}

void TestConfigCipher::sameTextSameCiphertext()
{
    const QByteArray plain = payload(300, 11);
    QCOMPARE(encrypted(plain, QStringLiteral("pw")), encrypted(plain, QStringLiteral("pw")));
    QVERIFY(encrypted(plain, QStringLiteral("pw")) != encrypted(plain, QStringLiteral("pW")));
}

void TestConfigCipher::keyFromPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("empty") << QString();
    QTest::newRow("ASCII") << QStringLiteral("transport password");
    QTest::newRow("Polish letters") << QStringLiteral("zażółć gęślą jaźń");
    QTest::newRow("outside the BMP") << QStringLiteral("key \U0001F511");
}

// The digest of the UTF-8 bytes, checked against openssl's own SHA-512.
void TestConfigCipher::keyFromPassword()
{
    QFETCH(QString, password);
    ConfigCipher cipher;
    QCOMPARE(cipher.keyMaterial.size(), qsizetype(64));
    cipher.setPassword(password);
    const QByteArray digest =
        OpensslCommand::run({QStringLiteral("dgst"), QStringLiteral("-sha512"), QStringLiteral("-binary")},
                            password.toUtf8())
            .output;
    QCOMPARE(digest.size(), qsizetype(64));
    QCOMPARE(cipher.keyMaterial, digest);
    if (password != QString::fromLatin1(password.toLatin1()))
        QVERIFY(cipher.keyMaterial != QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Sha512));
}

void TestConfigCipher::constructors()
{
    const char raw[] = {'a', '\0', 'b', 'c'};
    QCOMPARE(ConfigCipher().data, QByteArray());
    QCOMPARE(ConfigCipher(QByteArray("bytes")).data, QByteArray("bytes"));
    QCOMPARE(ConfigCipher("text\0hidden").data, QByteArray("text"));
    QCOMPARE(ConfigCipher(raw, 4).data, QByteArray(raw, 4));
    QCOMPARE(ConfigCipher(5, 'z').data, QByteArray("zzzzz"));
    for (const ConfigCipher &cipher : {ConfigCipher(), ConfigCipher("x"), ConfigCipher(3, 'y')})
        QCOMPARE(cipher.keyMaterial.size(), qsizetype(64));
}

void TestConfigCipher::copiesAreIndependent()
{
    ConfigCipher original(QByteArray("payload"));
    original.setPassword(QStringLiteral("first"));
    ConfigCipher copy(original);
    QCOMPARE(copy.data, original.data);
    QCOMPARE(copy.keyMaterial, original.keyMaterial);

    ConfigCipher assigned;
    assigned = original;
    QCOMPARE(assigned.keyMaterial, original.keyMaterial);
    QCOMPARE(assigned.data, original.data);

    const QByteArray firstKey = original.keyMaterial;
    copy.setPassword(QStringLiteral("second"));
    QCOMPARE(original.keyMaterial, firstKey);
    QVERIFY(copy.keyMaterial != firstKey);

    // An instance assigned from a freshly built one, as the export loader does.
    assigned = ConfigCipher(QByteArray("fresh"));
    QCOMPARE(assigned.data, QByteArray("fresh"));
    QCOMPARE(assigned.keyMaterial, ConfigCipher().keyMaterial);
    assigned.encrypt();
    assigned.decrypt();
    QCOMPARE(assigned.data, QByteArray("fresh"));
}

void TestConfigCipher::opensslEncryptsWeDecrypt_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("password");
    QTest::newRow("1 byte") << 1 << QStringLiteral("pw");
    QTest::newRow("15 bytes") << 15 << QStringLiteral("pw");
    QTest::newRow("16 bytes") << 16 << QStringLiteral("pw");
    QTest::newRow("17 bytes") << 17 << QStringLiteral("pw");
    QTest::newRow("100 KB, empty password") << 100000 << QString();
    QTest::newRow("5000 bytes, non-ASCII password") << 5000 << QStringLiteral("hasło ñ ü €");
}

void TestConfigCipher::opensslEncryptsWeDecrypt()
{
    QFETCH(int, length);
    QFETCH(QString, password);
    const QStringList key = OpensslCommand::keyArguments(password);
    QVERIFY(!key.isEmpty());
    const QByteArray plain = payload(length, quint32(length) * 31);
    const QString plainName = dir.filePath(QStringLiteral("plain-%1").arg(length));
    const QString encryptedName = dir.filePath(QStringLiteral("enc-%1.aes").arg(length));
    QFile plainFile(plainName);
    QVERIFY(plainFile.open(QIODevice::WriteOnly));
    plainFile.write(plain);
    plainFile.close();
    QCOMPARE(OpensslCommand::run(QStringList{QStringLiteral("enc"), QStringLiteral("-aes-256-cbc")} + key
                                 + QStringList{QStringLiteral("-a"), QStringLiteral("-in"), plainName,
                                               QStringLiteral("-out"), encryptedName})
                 .exitCode,
             0);
    QFile encryptedFile(encryptedName);
    QVERIFY(encryptedFile.open(QIODevice::ReadOnly));
    const QByteArray text = encryptedFile.readAll();
    QVERIFY(text.contains('\n') || text.size() <= 65);

    ConfigCipher cipher(ConfigExport::decodeBase64(QByteArray(text)));
    cipher.setPassword(password);
    cipher.decrypt();
    QCOMPARE(cipher.data, plain);
}

void TestConfigCipher::weEncryptOpensslDecrypts_data()
{
    opensslEncryptsWeDecrypt_data();
}

void TestConfigCipher::weEncryptOpensslDecrypts()
{
    QFETCH(int, length);
    QFETCH(QString, password);
    const QStringList key = OpensslCommand::keyArguments(password);
    QVERIFY(!key.isEmpty());
    const QByteArray plain = payload(length, quint32(length) * 17);
    const OpensslCommand::Run decrypted =
        OpensslCommand::run(QStringList{QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc")}
                                + key + QStringList{QStringLiteral("-a")},
                            wrappedBase64(encrypted(plain, password)));
    QCOMPARE(decrypted.exitCode, 0);
    QCOMPARE(decrypted.output, plain);
}

QTEST_GUILESS_MAIN(TestConfigCipher)
#include "tst_configcipher.moc"
