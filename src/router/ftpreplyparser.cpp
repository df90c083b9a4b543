#include "router/ftpreplyparser.h"

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
                // Cut off here; the rest of this line is dropped.
                pendingLine.clear();
                discardingLine = true;
                inMultiLine = false;
                replies.append(Reply{0, QStringLiteral("Reply line too long")});
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
        QByteArrayView line(pendingLine);
        if (line.endsWith('\r'))
            line.chop(1);
        addLine(line);
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

void FtpReplyParser::addLine(QByteArrayView line)
{
    char separator = ' ';
    const int code = lineCode(line, &separator);
    if (inMultiLine) {
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
    } else {
        replies.append(std::move(partial));
        partial = Reply();
    }
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
