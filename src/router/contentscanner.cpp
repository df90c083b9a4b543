#include "router/contentscanner.h"

#include <QByteArrayView>

#include <cstring>

namespace {

constexpr char contentName[] = "content";
constexpr int contentNameLength = sizeof contentName - 1;
// An XML declaration is a few dozen bytes; one longer than this is not followed.
constexpr qsizetype largestDeclaration = 256;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int contentNameMatch(int matched, char c)
{
    return matched >= 0 && matched < contentNameLength && c == contentName[matched] ? matched + 1 : -1;
}

// The name of the encoding an XML declaration (the text after "<?") gives, empty when it
// names none; null when it cannot be read.
QByteArray declaredEncoding(QByteArrayView text)
{
    qsizetype at = text.indexOf("encoding");
    if (at < 0)
        return QByteArray("");
    at += 8;
    while (at < text.size() && isSpace(text[at]))
        ++at;
    if (at >= text.size() || text[at] != '=')
        return QByteArray();
    ++at;
    while (at < text.size() && isSpace(text[at]))
        ++at;
    if (at >= text.size() || (text[at] != '"' && text[at] != '\''))
        return QByteArray();
    const qsizetype end = text.indexOf(text[at], at + 1);
    return end < 0 ? QByteArray() : text.sliced(at + 1, end - at - 1).toByteArray();
}

} // namespace

ContentScanner::Tag ContentScanner::takeTag()
{
    Tag taken = std::move(tags.front());
    tags.pop_front();
    return taken;
}

qsizetype ContentScanner::scan(const char *input, qsizetype size, char *output)
{
    const char *at = input;
    const char *const end = input + size;
    char *out = output;
    for (qsizetype i = 0; i < size && scanned + i < 4; ++i)
        checkDocumentStart(input[i]);
    scanned += size;
    while (at < end) {
        if (state == GivenUp) {
            std::memcpy(out, at, size_t(end - at));
            out += end - at;
            break;
        }
        if (state == Text || state == EndTag || state == Value) {
            // Long runs without anything to look at: straight to the next '<', '>' or quote.
            const char wanted = state == Text ? '<' : state == EndTag ? '>' : quote;
            const auto *found = static_cast<const char *>(std::memchr(at, wanted, size_t(end - at)));
            const char *stop = found ? found + 1 : end;
            std::memcpy(out, at, size_t(stop - at));
            out += stop - at;
            at = stop;
            if (found)
                state = state == Text ? MarkupStart : state == EndTag ? Text : BetweenAttributes;
            continue;
        }
        if (state == ContentValue) {
            at = scanContentValue(at, end, out);
            continue;
        }

        const char c = *at++;
        *out++ = c;
        switch (state) {
        case MarkupStart:
            if (c == '/') {
                state = EndTag;
            } else if (c == '?') {
                state = Instruction;
                collectingDeclaration = firstMarkup;
            } else if (c == '!') {
                state = Declaration;
                declarationStart.clear();
            } else {
                state = TagName;
            }
            firstMarkup = false;
            break;
        case Declaration:
            declarationStart += c;
            if (declarationStart == "--")
                state = Comment;
            else if (declarationStart == "[CDATA[")
                state = CData;
            else if (!QByteArrayView("--").startsWith(declarationStart)
                     && !QByteArrayView("[CDATA[").startsWith(declarationStart))
                state = GivenUp;
            break;
        case Comment:
            if (endsWithTerminator(c, "-->"))
                state = Text;
            break;
        case CData:
            if (endsWithTerminator(c, "]]>"))
                state = Text;
            break;
        case Instruction:
            if (collectingDeclaration) {
                declaration += c;
                if (declaration.size() > largestDeclaration)
                    state = GivenUp;
            }
            if (state == Instruction && endsWithTerminator(c, "?>")) {
                state = Text;
                if (collectingDeclaration)
                    checkXmlDeclaration();
                collectingDeclaration = false;
            }
            break;
        case TagName:
            if (c == '>')
                endTag();
            else if (isSpace(c) || c == '/')
                state = BetweenAttributes;
            break;
        case BetweenAttributes:
            if (c == '>') {
                endTag();
            } else if (!isSpace(c) && c != '/') {
                state = AttributeName;
                nameMatched = contentNameMatch(0, c);
            }
            break;
        case AttributeName:
        case AfterAttributeName:
            if (c == '>') {
                endTag();
            } else if (c == '=') {
                state = BeforeValue;
            } else if (isSpace(c)) {
                state = AfterAttributeName;
            } else if (state == AttributeName) {
                nameMatched = contentNameMatch(nameMatched, c);
            } else {
                // A second name without a value: broken, the reader will say so.
                state = AttributeName;
                nameMatched = contentNameMatch(0, c);
            }
            break;
        case BeforeValue:
            if (c == '"' || c == '\'') {
                quote = c;
                if (nameMatched == contentNameLength) {
                    state = ContentValue;
                    tag.contentTaken = true;
                    tag.content = QByteArray();
                    contentLength = 0;
                    decoder = Base64Decoder();
                    inReference = false;
                    utf8Pending = 0;
                } else {
                    state = Value;
                }
            } else if (c == '>') {
                endTag();
            } else if (!isSpace(c)) {
                state = BetweenAttributes;
            }
            break;
        default:
            break;
        }
    }
    return out - output;
}

// Decodes the value's Base64 up to the next character that the reader has to see, passes
// that one on, and so on to the closing quote.
const char *ContentScanner::scanContentValue(const char *at, const char *end, char *&out)
{
    while (at < end) {
        if (!inReference && utf8Pending == 0) {
            // The content is sized in doubling steps and cut to its length at the end.
            const qsizetype room = contentLength + Base64Decoder::maximumOutput(end - at);
            if (room > tag.content.size())
                tag.content.resize(qMax(room, 2 * tag.content.size()));
            qsizetype consumed = 0;
            contentLength += decoder.decodeText(at, end - at, tag.content.data() + contentLength, &consumed);
            at += consumed;
            if (at == end)
                break;
        }
        const char c = *at++;
        *out++ = c;
        const auto code = uchar(c);
        if (c == quote) {
            endValue();
            break;
        }
        if (inReference) {
            inReference = c != ';';
        } else if (code >= 0xc0) {
            utf8Pending = code >= 0xf0 ? 3 : code >= 0xe0 ? 2 : 1;
        } else if (code >= 0x80) {
            utf8Pending = qMax(0, utf8Pending - 1);
        } else {
            utf8Pending = 0;
            inReference = c == '&';
        }
    }
    return at;
}

void ContentScanner::endValue()
{
    tag.content.truncate(contentLength);
    tag.content.squeeze();
    state = BetweenAttributes;
}

void ContentScanner::endTag()
{
    tags.push_back(std::move(tag));
    tag = Tag();
    state = Text;
}

// Whether c completes the terminator of a comment, a CDATA section or a processing
// instruction: each is a run of one character and ">", so a longer run still ends in it.
bool ContentScanner::endsWithTerminator(char c, const char *terminator)
{
    if (c == terminator[terminatorMatched]) {
        if (terminator[++terminatorMatched] != '\0')
            return false;
        terminatorMatched = 0;
        return true;
    }
    if (c != terminator[0])
        terminatorMatched = 0;
    return false;
}

// The XML reader takes a document for UTF-16 or UTF-32 by its first four bytes: a byte-order
// mark, or zero bytes around the first "<".
void ContentScanner::checkDocumentStart(char c)
{
    if (c == '\0' || uchar(c) == 0xfe || uchar(c) == 0xff)
        state = GivenUp;
}

void ContentScanner::checkXmlDeclaration()
{
    const QByteArrayView text(declaration);
    if (text.size() < 4 || !text.startsWith("xml") || !isSpace(text[3]))
        return;
    const QByteArray encoding = declaredEncoding(text);
    if (encoding.isNull() || (!encoding.isEmpty() && encoding.compare("UTF-8", Qt::CaseInsensitive) != 0))
        state = GivenUp;
}
