#include "router/configexport.h"

#include <QBuffer>
#include <QFile>
#include <QXmlStreamReader>

#include <type_traits>

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

struct Base64Table
{
    constexpr Base64Table()
    {
        for (int c = 0; c < 256; ++c)
            values[c] = qint8(base64Value(char16_t(c)));
    }
    qint8 values[256] = {};
};
constexpr Base64Table base64Table;

// Decodes leniently from input to output, which may be the input itself: the output never
// overtakes the input. Whole groups of four alphabet characters, the common case between
// line breaks, take the fast path. Returns the number of bytes written.
template<typename Char>
qsizetype decodeBase64Into(const Char *input, qsizetype size, char *output)
{
    const auto value = [](Char c) -> int {
        const auto code = std::make_unsigned_t<Char>(c);
        return code < 256 ? base64Table.values[code] : -1;
    };
    qsizetype length = 0;
    quint32 bits = 0;
    int bitCount = 0;
    qsizetype i = 0;
    while (i < size) {
        if (bitCount == 0) {
            while (i + 4 <= size) {
                const int a = value(input[i]), b = value(input[i + 1]), c = value(input[i + 2]),
                          d = value(input[i + 3]);
                if ((a | b | c | d) < 0)
                    break;
                const quint32 group = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
                output[length] = char(group >> 16);
                output[length + 1] = char(group >> 8);
                output[length + 2] = char(group);
                length += 3;
                i += 4;
            }
            if (i >= size)
                break;
        }
        const int v = value(input[i++]);
        if (v < 0)
            continue;
        bits = (bits << 6) | quint32(v);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            output[length++] = char(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    return length;
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
    // In place (data() detaches only a shared buffer), then the unused quarter goes back.
    QByteArray decoded = std::move(text);
    char *bytes = decoded.data();
    decoded.truncate(decodeBase64Into(bytes, decoded.size(), bytes));
    decoded.squeeze();
    return decoded;
}

QByteArray ConfigExport::decodeBase64(QStringView text)
{
    QByteArray decoded(text.size() / 4 * 3 + 3, Qt::Uninitialized);
    decoded.truncate(decodeBase64Into(text.utf16(), text.size(), decoded.data()));
    decoded.squeeze();
    return decoded;
}
