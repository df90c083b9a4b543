#pragma once

#include "router/configexport.h"
#include "router/contentscanner.h"

#include <QByteArrayView>
#include <QXmlStreamReader>

// Reads the XML document inside a configuration export as it arrives in pieces cut anywhere:
// "Router" and "File" start elements at any depth, names case-sensitive, everything else
// ignored. The XML reader judges the document; the files' contents are decoded on the way in
// by a ContentScanner, so that a file is held only as its bytes, or, when told to, taken
// from the XML reader's attribute values (which hold each value whole, as UTF-16).
class ConfigDocumentReader final
{
public:
    enum Contents { ScannedContents, ContentsFromReader };

    explicit ConfigDocumentReader(Contents contents = ScannedContents);
    Q_DISABLE_COPY_MOVE(ConfigDocumentReader)

    // Reads the next piece; false once the rest need not be read (the document is broken,
    // or it has to be read again).
    bool feed(QByteArrayView piece);
    // The result once the whole document has been fed: ok false, with no login and no
    // files, when it is broken or incomplete.
    ConfigExport::Result finish();
    // Whether the scanner's reading of the contents does not stand (a character reference
    // that stands for a Base64 character, say) and the document has to be read again with
    // ContentsFromReader.
    bool needsRereading() const { return scannerMisled && !broken; }

private:
    void readTokens();
    void readStartElement();

    const Contents contents;
    ContentScanner scanner;
    QXmlStreamReader reader;
    ConfigExport::Result result;
    bool broken = false;
    bool scannerMisled = false;
};
