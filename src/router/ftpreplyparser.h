#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

class QHostAddress;

// Splits the bytes of an FTP control connection into replies (RFC 959, 4.2): a reply is one
// line "ddd text", or a multi-line reply from "ddd-text" up to the next line that starts
// with the same code and a space ("ddd text" or a bare "ddd"); the lines between may start
// with anything. Lines end in CR LF, or LF alone from sloppy servers. A line outside a reply
// that does not start with a code gives an invalid reply (code 0); blank lines there are
// ignored. Memory stays bounded whatever the peer sends: over-long lines are cut into an
// invalid reply and the text kept of a long multi-line reply is capped.
class FtpReplyParser final
{
public:
    struct Reply
    {
        int code = 0;   // 100-599, or 0 for a line that is no reply
        QString text;   // the lines' texts without code and line end, joined by "\n"

        bool isValid() const { return code != 0; }
        bool isPreliminary() const { return code >= 100 && code < 200; }
        bool isPositive() const { return code >= 200 && code < 300; }
        bool isFinal() const { return code >= 200; }
    };

    static constexpr qsizetype maximumLineLength = 8192;
    static constexpr qsizetype maximumTextLength = 65536;

    void addData(QByteArrayView bytes);
    bool hasReply() const { return !replies.isEmpty(); }
    Reply takeReply() { return replies.takeFirst(); }
    void clear();

    // The address and port of a "227" reply's text. Servers word it differently
    // ("Entering Passive Mode (h1,h2,h3,h4,p1,p2)", without brackets, "=h1,...", with spaces
    // after the commas), so the first six comma-separated numbers count; each must be 0-255
    // and the port must not be 0.
    static bool parsePassiveReply(QStringView text, QHostAddress *address, quint16 *port);

private:
    void addLine(QByteArrayView line);
    void appendText(QByteArrayView text);

    QByteArray pendingLine;
    bool discardingLine = false;
    bool inMultiLine = false;
    Reply partial;
    QList<Reply> replies;
};
