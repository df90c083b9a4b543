// Arbitrary plaintext as the document inside a configuration export: through the reader, then,
// when it reads, through the extraction into a sandbox whose surroundings are watched. No
// input may make the extractor write, or try to write, outside the chosen directory. The
// reader, which decodes the contents on their way to the XML reader and takes the document in
// pieces, has to give what the XML reader alone gives when it reads the whole document.
#include "extractionsandbox.h"
#include "fuzzcheck.h"

#include "router/configcipher.h"
#include "router/configexport.h"
#include "router/configextractor.h"

#include <QBuffer>
#include <QDir>
#include <QXmlStreamReader>

namespace {

void checkResult(const ConfigExport::Result &result)
{
    if (!result.ok) {
        // A document that does not read gives nothing at all to write or upload.
        FUZZ_CHECK(result.login.isEmpty());
        FUZZ_CHECK(result.files.isEmpty());
    }
}

// The XML reader alone, with the whole document and every attribute value in full.
ConfigExport::Result plainRead(const QByteArray &document)
{
    ConfigExport::Result result;
    result.login = QStringLiteral("root");
    QByteArray bytes = document;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QXmlStreamReader reader(&buffer);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.name() == u"Router") {
            result.login = attributes.value(QLatin1String("login")).toString();
        } else if (reader.name() == u"File") {
            result.files.append({attributes.value(QLatin1String("path")).toString(),
                                 ConfigExport::decodeBase64(attributes.value(QLatin1String("content")))});
        }
    }
    if (reader.hasError())
        return ConfigExport::Result();
    result.ok = true;
    return result;
}

bool sameResult(const ConfigExport::Result &a, const ConfigExport::Result &b)
{
    if (a.ok != b.ok || a.login != b.login || a.files.size() != b.files.size())
        return false;
    for (qsizetype i = 0; i < a.files.size(); ++i) {
        if (a.files.at(i).path != b.files.at(i).path || a.files.at(i).content != b.files.at(i).content)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    ExtractionSandbox::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray document(reinterpret_cast<const char *>(data), qsizetype(size));

    const ConfigExport::Result result = ConfigExport::read(document);
    checkResult(result);
    FUZZ_CHECK(sameResult(result, plainRead(document)));
    ConfigExport::setChunkSizeForTesting(1 + qsizetype(size % 5));
    FUZZ_CHECK(sameResult(result, ConfigExport::read(document)));
    ConfigExport::setChunkSizeForTesting(0);

    // The same document as an export made with a password: Base64, cipher and reader in turn
    // give what the reader gives for the plaintext.
    ConfigCipher cipher(document);
    cipher.setPassword(QStringLiteral("fuzz"));
    cipher.encrypt();
    ConfigExport configExport;
    configExport.setText(cipher.data.toBase64(QByteArray::Base64Encoding));
    const ConfigExport::Result opened = configExport.open(QStringLiteral("fuzz"));
    FUZZ_CHECK(configExport.isEmpty());
    FUZZ_CHECK(sameResult(result, opened));

    for (const ConfigExport::File &file : result.files) {
        // A path the text check lets through names something below the directory.
        if (ConfigExtractor::isConfinedPath(file.path)) {
            const QString relative = file.path.startsWith(u'/') ? file.path.mid(1) : file.path;
            const QString clean = QDir::cleanPath(relative);
            FUZZ_CHECK(!QDir::isAbsolutePath(clean));
            FUZZ_CHECK(clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../")));
        }
    }

    if (result.ok)
        ExtractionSandbox::instance().check(result.files);
    return 0;
}
