#include "router/configdocumentreader.h"

#include <algorithm>

ConfigDocumentReader::ConfigDocumentReader(Contents contents)
    : contents(contents)
{
    result.login = QStringLiteral("root");
}

bool ConfigDocumentReader::feed(QByteArrayView piece)
{
    if (broken || scannerMisled)
        return false;
    if (piece.isEmpty())
        return true;
    if (contents == ScannedContents) {
        QByteArray visible(piece.size(), Qt::Uninitialized);
        visible.truncate(scanner.scan(piece.data(), piece.size(), visible.data()));
        reader.addData(visible);
    } else {
        reader.addData(piece.toByteArray());
    }
    readTokens();
    return !broken && !scannerMisled;
}

ConfigExport::Result ConfigDocumentReader::finish()
{
    if (scannerMisled)
        return ConfigExport::Result();
    // Given all of the document, the reader has either reached its end or found it broken
    // or cut short.
    if (reader.hasError() || reader.tokenType() != QXmlStreamReader::EndDocument) {
        broken = true;
        return ConfigExport::Result();
    }
    if (contents == ScannedContents && scanner.hasTag()) {
        scannerMisled = true;
        return ConfigExport::Result();
    }
    result.ok = true;
    return std::move(result);
}

// Reads what the data given so far holds; running out of it is no error until the end.
void ConfigDocumentReader::readTokens()
{
    while (!reader.atEnd() && !scannerMisled) {
        if (reader.readNext() == QXmlStreamReader::StartElement)
            readStartElement();
    }
    if (reader.hasError() && reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        broken = true;
}

void ConfigDocumentReader::readStartElement()
{
    ContentScanner::Tag tag;
    if (contents == ScannedContents) {
        if (scanner.hasTag())
            tag = scanner.takeTag();
        else if (!scanner.hasGivenUp())
            scannerMisled = true;
    }
    if (reader.name() == u"Router") {
        result.login = reader.attributes().value(QLatin1String("login")).toString();
    } else if (reader.name() == u"File") {
        const QXmlStreamAttributes attributes = reader.attributes();
        const QStringView content = attributes.value(QLatin1String("content"));
        ConfigExport::File file{attributes.value(QLatin1String("path")).toString(), QByteArray()};
        if (tag.contentTaken) {
            // What the scanner passed on may hold no Base64 once the reader has resolved it.
            if (std::any_of(content.utf16(), content.utf16() + content.size(), Base64Decoder::isAlphabet))
                scannerMisled = true;
            file.content = std::move(tag.content);
        } else {
            file.content = ConfigExport::decodeBase64(content);
        }
        result.files.append(std::move(file));
    }
}
