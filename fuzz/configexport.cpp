// Arbitrary bytes as an encrypted configuration export (".aes") opened with the password
// "fuzz": lenient Base64, AES-256-CBC and the reader in turn, then, when the document reads,
// the extraction into a watched sandbox. The export read in small pieces gives the same. The
// same bytes also check the layers on their own: both Base64 decoders against a plain
// bit-by-bit one, and the cipher's round trip.
#include "extractionsandbox.h"
#include "fuzzcheck.h"

#include "router/configcipher.h"
#include "router/configexport.h"

namespace {

const QString password = QStringLiteral("fuzz");

// Every alphabet character gives six bits, everything else is skipped; whole bytes count.
QByteArray referenceBase64(QByteArrayView text)
{
    static const QByteArray alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QByteArray decoded;
    quint32 bits = 0;
    int bitCount = 0;
    for (const char c : text) {
        const qsizetype value = alphabet.indexOf(c);
        if (value < 0)
            continue;
        bits = (bits << 6) | quint32(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            decoded += char((bits >> bitCount) & 0xff);
        }
    }
    return decoded;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ExtractionSandbox::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const QByteArray decoded = ConfigExport::decodeBase64(QByteArray(bytes));
    FUZZ_CHECK(decoded == referenceBase64(bytes));
    FUZZ_CHECK(ConfigExport::decodeBase64(QStringView(QString::fromLatin1(bytes))) == decoded);

    // Encryption pads to whole blocks and decryption with the same password restores the
    // bytes; any other password may not crash either.
    ConfigCipher cipher(bytes);
    cipher.setPassword(password);
    cipher.encrypt();
    FUZZ_CHECK(cipher.data.size() == (bytes.isEmpty() ? 0 : (bytes.size() / 16 + 1) * 16));
    ConfigCipher copy = cipher;
    cipher.decrypt();
    FUZZ_CHECK(cipher.data == bytes);
    copy.setPassword(QStringLiteral("not fuzz"));
    copy.decrypt();
    FUZZ_CHECK(bytes.isEmpty() || copy.data.size() < cipher.data.size() + 16 - bytes.size() % 16);

    ConfigExport configExport;
    configExport.setText(QByteArray(bytes));
    FUZZ_CHECK(!configExport.isEmpty());
    const ConfigExport::Result result = configExport.open(password);
    FUZZ_CHECK(configExport.isEmpty());
    FUZZ_CHECK(!result.unreadable);
    ConfigExport::setChunkSizeForTesting(1 + qsizetype(size % 7));
    configExport.setText(QByteArray(bytes));
    const ConfigExport::Result inPieces = configExport.open(password);
    ConfigExport::setChunkSizeForTesting(0);
    FUZZ_CHECK(inPieces.ok == result.ok && inPieces.login == result.login);
    FUZZ_CHECK(inPieces.files.size() == result.files.size());
    for (qsizetype i = 0; i < result.files.size(); ++i) {
        FUZZ_CHECK(inPieces.files.at(i).path == result.files.at(i).path);
        FUZZ_CHECK(inPieces.files.at(i).content == result.files.at(i).content);
    }
    if (!result.ok) {
        FUZZ_CHECK(result.login.isEmpty());
        FUZZ_CHECK(result.files.isEmpty());
        return 0;
    }
    ExtractionSandbox::instance().check(result.files);
    return 0;
}
