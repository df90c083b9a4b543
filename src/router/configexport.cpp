#include "router/configexport.h"

#include <QBuffer>
#include <QFile>
#include <QXmlStreamReader>

namespace {

// Six bits per alphabet character, -1 for everything that is skipped.
constexpr int base64Value(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return c - u'A';
    if (c >= u'a' && c <= u'z')
        return c - u'a' + 26;
    if (c >= u'0' && c <= u'9')
        return c - u'0' + 52;
    if (c == u'+')
        return 62;
    if (c == u'/')
        return 63;
    return -1;
}

} // namespace

bool ConfigExport::load(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    setText(file.readAll());
    return true;
}

void ConfigExport::setText(QByteArray &&text)
{
    cipher.data = decodeBase64(std::move(text));
}

void ConfigExport::clear()
{
    cipher.data = QByteArray();
}

ConfigExport::Result ConfigExport::open(const QString &password)
{
    cipher.setPassword(password);
    cipher.decrypt();
    Result result;
    {
        QBuffer plaintext(&cipher.data);
        plaintext.open(QIODevice::ReadOnly);
        result = read(&plaintext);
    }
    clear();
    return result;
}

ConfigExport::Result ConfigExport::read(const QByteArray &document)
{
    QByteArray shared = document;
    QBuffer buffer(&shared);
    buffer.open(QIODevice::ReadOnly);
    return read(&buffer);
}

// Reading from a device keeps the reader's own buffers small: handed a whole byte array,
// it would decode the entire document into one string first.
ConfigExport::Result ConfigExport::read(QIODevice *device)
{
    Result result;
    result.login = QStringLiteral("root");
    QXmlStreamReader reader(device);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError())
            break;
        if (reader.tokenType() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == u"Router") {
            result.login = reader.attributes().value(QLatin1String("login")).toString();
        } else if (reader.name() == u"File") {
            const QXmlStreamAttributes attributes = reader.attributes();
            result.files.append(File{attributes.value(QLatin1String("path")).toString(),
                                     decodeBase64(attributes.value(QLatin1String("content")))});
        }
    }
    if (reader.hasError())
        return Result();
    result.ok = true;
    return result;
}

QByteArray ConfigExport::decodeBase64(QByteArray &&text)
{
    // Decodes in place when the buffer is not shared; then gives back the unused quarter.
    QByteArray decoded = QByteArray::fromBase64Encoding(std::move(text)).decoded;
    decoded.squeeze();
    return decoded;
}

QByteArray ConfigExport::decodeBase64(QStringView text)
{
    QByteArray decoded(text.size() / 4 * 3 + 3, Qt::Uninitialized);
    char *out = decoded.data();
    qsizetype length = 0;
    quint32 bits = 0;
    int bitCount = 0;
    for (const QChar c : text) {
        const int value = base64Value(c.unicode());
        if (value < 0)
            continue;
        bits = (bits << 6) | quint32(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out[length++] = char(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    decoded.truncate(length);
    decoded.squeeze();
    return decoded;
}
