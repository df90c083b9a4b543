#include "router/httpanswerparser.h"

#include <QList>

#include <algorithm>
#include <cstring>

namespace {

// Longer than any size line of a sane answer, short enough to refuse an overflow.
constexpr qsizetype maximumChunkSizeDigits = 15;

bool isDigits(const QByteArray &text)
{
    return !text.isEmpty()
        && std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isHexDigits(const QByteArray &text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

} // namespace

HttpAnswerParser::State HttpAnswerParser::addData(QByteArrayView bytes)
{
    qsizetype at = 0;
    while (currentState == Incomplete && at < bytes.size()) {
        const qsizetype available = bytes.size() - at;
        switch (part) {
        case FixedBody:
        case ChunkData: {
            const qsizetype count = qsizetype(std::min<qint64>(remaining, available));
            at += count;
            received += count;
            remaining -= count;
            if (received > maximumAnswerSize)
                return failed();
            if (remaining == 0) {
                if (part == FixedBody)
                    currentState = Complete;
                else
                    part = ChunkDataEnd;
            }
            break;
        }
        case BodyToEnd:
            at += available;
            received += available;
            if (received > maximumAnswerSize)
                return failed();
            break;
        case Done:
            return currentState;
        case StatusLine:
        case Headers:
        case ChunkSize:
        case ChunkDataEnd:
        case Trailers: {
            const char *start = bytes.data() + at;
            const void *found = std::memchr(start, '\n', size_t(available));
            const qsizetype count = found ? qsizetype(static_cast<const char *>(found) - start) + 1 : available;
            pending.append(start, count);
            at += count;
            received += count;
            if (received > maximumAnswerSize)
                return failed();
            if (found) {
                const QByteArray line = takeLine();
                bool ok = true;
                switch (part) {
                case StatusLine:
                    ok = readStatusLine(line);
                    break;
                case Headers:
                    ok = line.isEmpty() ? endOfHeaders() : readHeader(line);
                    break;
                case ChunkSize:
                    ok = readChunkSize(line);
                    break;
                case ChunkDataEnd:
                    ok = line.isEmpty();
                    part = ChunkSize;
                    break;
                case Trailers:
                    if (line.isEmpty())
                        currentState = Complete;
                    break;
                default:
                    break;
                }
                if (!ok)
                    return failed();
            }
            break;
        }
        }
    }
    if (currentState == Complete)
        part = Done;
    return currentState;
}

HttpAnswerParser::State HttpAnswerParser::endOfData()
{
    if (currentState != Incomplete)
        return currentState;
    if (part == BodyToEnd) {
        currentState = Complete;
        part = Done;
        return currentState;
    }
    return failed();
}

QByteArray HttpAnswerParser::takeLine()
{
    QByteArray line = std::move(pending);
    pending.clear();
    line.chop(1);
    // Line ends are CR LF; a bare LF from a sloppy server is taken as well.
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool HttpAnswerParser::readStatusLine(const QByteArray &line)
{
    // Servers may send blank lines ahead of an answer.
    if (line.isEmpty())
        return true;
    if (!line.startsWith("HTTP/1.") || line.size() < 12 || line.at(8) != ' ')
        return false;
    const QByteArray code = line.mid(9, 3);
    if (!isDigits(code) || (line.size() > 12 && line.at(12) != ' '))
        return false;
    statusCode = code.toInt();
    if (statusCode < 100)
        return false;
    part = Headers;
    return true;
}

bool HttpAnswerParser::readHeader(const QByteArray &line)
{
    // A folded line continues the header before it.
    if (line.startsWith(' ') || line.startsWith('\t')) {
        if (lastHeaderName == "set-cookie") {
            cookies += ' ' + line.trimmed();
            return true;
        }
        // Folded framing headers could be read in two ways: neither is taken.
        return lastHeaderName != "content-length" && lastHeaderName != "transfer-encoding"
            && !lastHeaderName.isEmpty();
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    lastHeaderName = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (lastHeaderName == "content-length") {
        if (!isDigits(value) || value.size() > 18)
            return false;
        const qint64 length = value.toLongLong();
        // Two different lengths leave the end of the answer open to either reading.
        if (contentLength >= 0 && contentLength != length)
            return false;
        contentLength = length;
    } else if (lastHeaderName == "transfer-encoding") {
        const QByteArray last = value.split(',').constLast().trimmed().toLower();
        chunked = last == "chunked";
        otherCoding = !chunked;
    } else if (lastHeaderName == "set-cookie") {
        if (setCookieSeen)
            cookies += '\n';
        cookies += value;
        setCookieSeen = true;
    }
    return true;
}

bool HttpAnswerParser::endOfHeaders()
{
    if (statusCode == 101)
        return false; // nothing here asked to switch protocols
    if (statusCode < 200) {
        // An interim answer: the real one follows.
        part = StatusLine;
        statusCode = 0;
        setCookieSeen = false;
        cookies.clear();
        lastHeaderName.clear();
        contentLength = -1;
        chunked = false;
        otherCoding = false;
        return true;
    }
    // No body after 204 and 304, whatever the headers say.
    const bool bodyless = statusCode == 204 || statusCode == 304;
    if (bodyless || (!chunked && !otherCoding && contentLength == 0)) {
        currentState = Complete;
    } else if (chunked) {
        part = ChunkSize;
    } else if (otherCoding || contentLength < 0) {
        part = BodyToEnd;
    } else {
        part = FixedBody;
        remaining = contentLength;
    }
    return true;
}

bool HttpAnswerParser::readChunkSize(const QByteArray &line)
{
    const qsizetype extension = line.indexOf(';');
    const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
    if (!isHexDigits(digits) || digits.size() > maximumChunkSizeDigits)
        return false;
    const qint64 size = digits.toLongLong(nullptr, 16);
    if (size == 0) {
        part = Trailers;
    } else {
        part = ChunkData;
        remaining = size;
    }
    return true;
}

HttpAnswerParser::State HttpAnswerParser::failed()
{
    currentState = Failed;
    part = Done;
    pending.clear();
    return currentState;
}
