#include "router/configexport.h"

#include "router/base64decoder.h"
#include "router/configcipher.h"
#include "router/configdocumentreader.h"

#include <QBuffer>
#include <QFile>

namespace {

constexpr qsizetype defaultChunkSize = 64 * 1024;
constexpr int blockSize = 16;
qsizetype chunkSizeForTesting = 0;

qsizetype chunkSize()
{
    return chunkSizeForTesting > 0 ? chunkSizeForTesting : defaultChunkSize;
}

using Receiver = ConfigExport::PlaintextReceiver;
using End = ConfigExport::PlaintextEnd;

// Reads a document whose pieces `pieces` hands to a receiver, from the start each time it
// is called: once with the contents scanned on the way in, and once more with the contents
// taken from the XML reader when the scanner's reading does not stand.
ConfigExport::Result readDocument(const std::function<End(const Receiver &)> &pieces)
{
    for (const auto contents : {ConfigDocumentReader::ScannedContents, ConfigDocumentReader::ContentsFromReader}) {
        ConfigDocumentReader reader(contents);
        const End end = pieces([&reader](QByteArrayView piece) { return reader.feed(piece); });
        if (end == End::ReadFailed) {
            ConfigExport::Result unreadable;
            unreadable.unreadable = true;
            return unreadable;
        }
        if (end == End::BadPadding)
            return ConfigExport::Result();
        ConfigExport::Result result = reader.finish();
        if (!reader.needsRereading())
            return result;
    }
    return ConfigExport::Result();
}

} // namespace

ConfigExport::ConfigExport() = default;

ConfigExport::~ConfigExport() = default;

bool ConfigExport::load(const QString &fileName)
{
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    text = QByteArray();
    source = std::move(file);
    return true;
}

void ConfigExport::setText(QByteArray &&exportText)
{
    text = std::move(exportText);
    auto buffer = std::make_unique<QBuffer>(&text);
    buffer->open(QIODevice::ReadOnly);
    source = std::move(buffer);
}

void ConfigExport::clear()
{
    source.reset();
    text = QByteArray();
}

ConfigExport::Result ConfigExport::open(const QString &password)
{
    Result result;
    if (source) {
        bool again = false;
        result = readDocument([this, &password, &again](const Receiver &receiver) {
            if (std::exchange(again, true) && !source->seek(0))
                return End::ReadFailed;
            return decrypt(source.get(), password, receiver);
        });
    }
    clear();
    return result;
}

ConfigExport::PlaintextEnd ConfigExport::decrypt(QIODevice *source, const QString &password,
                                                 const PlaintextReceiver &receiver)
{
    ConfigCipher cipher;
    cipher.setPassword(password);
    ConfigCipher::Decryption decryption(cipher);
    Base64Decoder base64;
    const qsizetype size = chunkSize();
    // The text is decoded in place; an update writes at most one held-back block more than
    // it is given.
    QByteArray text(size, Qt::Uninitialized);
    QByteArray plaintext(size + blockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source->read(text.data(), size);
        if (read < 0)
            return PlaintextEnd::ReadFailed;
        if (read == 0)
            break;
        const qsizetype decoded = base64.decode(text.data(), read, text.data());
        const qsizetype written = decryption.update(text.constData(), int(decoded), plaintext.data());
        if (written < 0)
            return PlaintextEnd::BadPadding;
        if (written > 0 && !receiver(QByteArrayView(plaintext.constData(), written)))
            return PlaintextEnd::Stopped;
    }
    int last = 0;
    if (!decryption.finish(plaintext.data(), &last))
        return PlaintextEnd::BadPadding;
    if (last > 0 && !receiver(QByteArrayView(plaintext.constData(), last)))
        return PlaintextEnd::Stopped;
    return PlaintextEnd::Complete;
}

ConfigExport::Result ConfigExport::read(const QByteArray &document)
{
    return readDocument([&document](const Receiver &receiver) {
        const qsizetype size = chunkSize();
        for (qsizetype at = 0; at < document.size(); at += size) {
            if (!receiver(QByteArrayView(document).sliced(at, qMin(size, document.size() - at))))
                return End::Stopped;
        }
        return End::Complete;
    });
}

QByteArray ConfigExport::decodeBase64(QByteArray &&text)
{
    // In place (data() detaches only a shared buffer), then the unused quarter goes back.
    QByteArray decoded = std::move(text);
    char *bytes = decoded.data();
    decoded.truncate(Base64Decoder().decode(bytes, decoded.size(), bytes));
    decoded.squeeze();
    return decoded;
}

QByteArray ConfigExport::decodeBase64(QStringView text)
{
    QByteArray decoded(Base64Decoder::maximumOutput(text.size()), Qt::Uninitialized);
    decoded.truncate(Base64Decoder().decode(text.utf16(), text.size(), decoded.data()));
    decoded.squeeze();
    return decoded;
}

void ConfigExport::setChunkSizeForTesting(qsizetype size)
{
    chunkSizeForTesting = size;
}
