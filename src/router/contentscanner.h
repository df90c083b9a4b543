#pragma once

#include "router/base64decoder.h"

#include <QByteArray>

#include <deque>

// Takes the "content" attributes out of an XML document that passes through in pieces cut
// anywhere, and decodes their Base64 straight into bytes, so that a file carried in an export
// is never held as text: an XML reader would hold each whole attribute value as UTF-16,
// 2.7 times the file's size. The XML reader behind the scanner sees every other byte and
// judges the document; the scanner only follows its lexical structure (markup, comments,
// CDATA sections, processing instructions, tags and their quoted attribute values).
//
// What it takes out of a "content" value are the alphabet characters, "=" and white space,
// the only characters the value's Base64 is made of. Taking them out leaves a well-formed
// value well-formed and a broken one broken: character references ("&#65;" is an "A") and
// everything that is not ASCII pass on unchanged, and so does an ASCII byte inside an
// unfinished UTF-8 sequence. A reader that finds Base64 left in a value it was given knows
// that the scanner's decoding of that value does not stand.
//
// Where it cannot follow the document, it gives up and lets everything pass unchanged: at a
// document type declaration (its entities may hold markup or Base64), and in a document
// that is not UTF-8.
class ContentScanner final
{
public:
    // What the scanner took out of one start tag.
    struct Tag
    {
        bool contentTaken = false;
        QByteArray content;
    };

    // Scans the next piece of the document and writes what the XML reader is to see into
    // output, which needs room for size bytes. Returns the bytes written.
    qsizetype scan(const char *input, qsizetype size, char *output);

    // The start tags scanned to their end, in document order, one for each start element
    // the XML reader reports until the scanner gave up.
    bool hasTag() const { return !tags.empty(); }
    Tag takeTag();
    bool hasGivenUp() const { return state == GivenUp; }

private:
    enum State {
        Text,
        MarkupStart,
        Declaration,    // "<!": a comment, a CDATA section or something the scanner gives up at
        Comment,
        CData,
        Instruction,
        EndTag,
        TagName,
        BetweenAttributes,
        AttributeName,
        AfterAttributeName,
        BeforeValue,
        Value,
        ContentValue,
        GivenUp
    };

    const char *scanContentValue(const char *at, const char *end, char *&out);
    void endValue();
    void endTag();
    bool endsWithTerminator(char c, const char *terminator);
    void checkDocumentStart(char c);
    void checkXmlDeclaration();

    State state = Text;
    qint64 scanned = 0;
    bool firstMarkup = true;
    bool collectingDeclaration = false;
    QByteArray declaration;
    QByteArray declarationStart;  // what follows "<!" so far
    int terminatorMatched = 0;
    int nameMatched = 0;          // of "content"; -1 once it differs
    char quote = 0;
    bool inReference = false;
    int utf8Pending = 0;
    Base64Decoder decoder;
    qsizetype contentLength = 0;
    Tag tag;
    std::deque<Tag> tags;
};
