#include "router/ftpreplyparser.h"

#include <QByteArrayList>
#include <QHostAddress>
#include <QRegularExpression>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The code of a line that starts "ddd", "ddd " or "ddd-", else 0.
int lineCode(QByteArrayView line, char *separator)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        return 0;
    if (line[0] < '1' || line[0] > '5')
        return 0;
    *separator = line.size() > 3 ? line[3] : ' ';
    if (*separator != ' ' && *separator != '-')
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

QByteArrayView afterCode(QByteArrayView line)
{
    return line.size() > 4 ? line.sliced(4) : QByteArrayView();
}

} // namespace

void FtpReplyParser::clear()
{
    pendingLine.clear();
    discardingLine = false;
    inMultiLine = false;
    replySize = 0;
    skippingCode = 0;
    partial = Reply();
    replies.clear();
}

void FtpReplyParser::addData(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const QByteArrayView piece = end < 0 ? bytes : bytes.first(end);
        if (!discardingLine) {
            if (pendingLine.size() + piece.size() > maximumLineLength) {
                // Cut off here; the rest of this line, and of a reply it belongs to, is dropped.
                pendingLine.clear();
                discardingLine = true;
                if (skippingCode == 0)
                    refuseReply(QStringLiteral("Reply line too long"));
            } else {
                pendingLine.append(piece);
            }
        }
        if (end < 0)
            return;
        bytes = bytes.sliced(end + 1);
        if (discardingLine) {
            discardingLine = false;
            continue;
        }
        const qsizetype size = pendingLine.size() + 1;
        QByteArrayView line(pendingLine);
        if (line.endsWith('\r'))
            line.chop(1);
        addLine(line, size);
        pendingLine.clear();
    }
}

void FtpReplyParser::appendText(QByteArrayView text)
{
    if (partial.text.size() >= maximumTextLength)
        return;
    if (!partial.text.isEmpty())
        partial.text += u'\n';
    partial.text += QString::fromUtf8(text.first(qMin(text.size(), maximumTextLength)));
}

// An invalid reply in place of the one that grew too long; the lines still to come of a
// multi-line reply are dropped up to its last.
void FtpReplyParser::refuseReply(const QString &text)
{
    if (inMultiLine)
        skippingCode = partial.code;
    inMultiLine = false;
    partial = Reply();
    replies.append(Reply{0, text, true});
}

void FtpReplyParser::addLine(QByteArrayView line, qsizetype size)
{
    char separator = ' ';
    const int code = lineCode(line, &separator);
    if (skippingCode != 0) {
        if (code == skippingCode && separator == ' ')
            skippingCode = 0;
        return;
    }
    if (inMultiLine) {
        replySize += size;
        if (replySize > maximumReplySize) {
            const bool last = code == partial.code && separator == ' ';
            refuseReply(QStringLiteral("Reply too long"));
            if (last)
                skippingCode = 0;
            return;
        }
        if (code == partial.code && separator == ' ') {
            appendText(afterCode(line));
            replies.append(std::move(partial));
            partial = Reply();
            inMultiLine = false;
        } else {
            // Many servers repeat "ddd-" on every line; that prefix is not part of the text.
            appendText(code == partial.code ? afterCode(line) : line);
        }
        return;
    }
    if (line.trimmed().isEmpty())
        return;
    if (code == 0) {
        replies.append(Reply{0, QString::fromUtf8(line.first(qMin(line.size(), maximumTextLength)))});
        return;
    }
    partial = Reply{code, QString()};
    appendText(afterCode(line));
    if (separator == '-') {
        inMultiLine = true;
        replySize = size;
    } else {
        replies.append(std::move(partial));
        partial = Reply();
    }
}

FtpReplyParser::FileMode FtpReplyParser::modeFromFacts(QStringView text)
{
    FileMode result;
    // The facts stand on a line of their own that starts with a space: "type=file;...; name".
    for (QStringView line : text.tokenize(u'\n')) {
        if (!line.startsWith(u' '))
            continue;
        const qsizetype space = line.indexOf(u' ', 1);
        if (space < 0)
            continue;
        bool plainFile = true;
        int mode = -1;
        for (QStringView fact : line.sliced(1, space - 1).tokenize(u';', Qt::SkipEmptyParts)) {
            const qsizetype equals = fact.indexOf(u'=');
            if (equals <= 0)
                continue;
            const QStringView name = fact.first(equals);
            QStringView value = fact.sliced(equals + 1);
            if (name.compare(u"type", Qt::CaseInsensitive) == 0) {
                plainFile = value.compare(u"file", Qt::CaseInsensitive) == 0;
            } else if (name.compare(u"unix.mode", Qt::CaseInsensitive) == 0) {
                if (value.startsWith(u"0o", Qt::CaseInsensitive))
                    value = value.sliced(2);
                bool ok = false;
                const int parsed = value.toInt(&ok, 8);
                if (ok && value.size() <= 6 && parsed >= 0 && parsed <= 07777)
                    mode = parsed;
            }
        }
        if (plainFile && mode >= 0)
            result = FileMode{FileMode::Known, mode};
        return result;
    }
    return result;
}

FtpReplyParser::FileMode FtpReplyParser::modeFromListing(QByteArrayView listing, QStringView fileName)
{
    const QByteArray ending = ' ' + fileName.toUtf8();
    bool named = false;
    FileMode result;
    const QByteArrayList lines = listing.toByteArray().split('\n');
    for (QByteArrayView line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith("total "))
            continue;
        named = true;
        if (fileName.isEmpty() || !line.endsWith(ending) || line.size() < 10)
            continue;
        // Type, then read, write and execute for user, group and others; s, S, t and T stand
        // for the set-user-ID, set-group-ID and sticky bits over an execute place.
        if (line[0] != '-')
            return FileMode();
        int mode = 0;
        for (int i = 0; i < 9; ++i) {
            const char c = line[1 + i];
            const int bit = 1 << (8 - i);
            const int special = 04000 >> (i / 3);
            const char expected = "rwx"[i % 3];
            if (c == expected) {
                mode |= bit;
            } else if (i % 3 == 2 && (c == 's' || c == 't') && (c == 't') == (i == 8)) {
                mode |= bit | special;
            } else if (i % 3 == 2 && (c == 'S' || c == 'T') && (c == 'T') == (i == 8)) {
                mode |= special;
            } else if (c != '-') {
                return FileMode();
            }
        }
        if (result.state == FileMode::Known)
            return FileMode(); // named twice: which one is meant is unclear
        result = FileMode{FileMode::Known, mode};
    }
    if (!named)
        return FileMode{FileMode::Absent, 0};
    return result;
}

bool FtpReplyParser::parsePassiveReply(QStringView text, QHostAddress *address, quint16 *port)
{
    static const QRegularExpression numbers(QStringLiteral(
        "(?<![0-9])(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})"
        "\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})(?![0-9])"));
    const QRegularExpressionMatch match = numbers.match(text.toString());
    if (!match.hasMatch())
        return false;
    int values[6];
    for (int i = 0; i < 6; ++i) {
        values[i] = match.capturedView(i + 1).toInt();
        if (values[i] > 255)
            return false;
    }
    const quint16 dataPort = quint16(values[4] * 256 + values[5]);
    if (dataPort == 0)
        return false;
    if (address)
        address->setAddress(quint32(values[0]) << 24 | quint32(values[1]) << 16
                            | quint32(values[2]) << 8 | quint32(values[3]));
    if (port)
        *port = dataPort;
    return true;
}
