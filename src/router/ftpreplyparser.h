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
// ignored. Memory stays bounded whatever the peer sends: a line longer than
// maximumLineLength, or a reply longer than maximumReplySize bytes, becomes an invalid reply
// marked tooLong, and the rest of that reply is dropped.
class FtpReplyParser final
{
public:
    struct Reply
    {
        int code = 0;   // 100-599, or 0 for a line that is no reply
        QString text;   // the lines' texts without code and line end, joined by "\n"
        bool tooLong = false;   // an invalid reply standing for a line or reply over the bounds

        bool isValid() const { return code != 0; }
        bool isPreliminary() const { return code >= 100 && code < 200; }
        bool isPositive() const { return code >= 200 && code < 300; }
        bool isFinal() const { return code >= 200; }
    };

    // What a listing of one path says about the file there.
    struct FileMode
    {
        enum State { Unknown, Absent, Known };
        State state = Unknown;
        int mode = 0;   // the permission bits (07777) when Known
    };

    static constexpr qsizetype maximumLineLength = 8192;
    static constexpr qsizetype maximumTextLength = 65536;
    static constexpr qsizetype maximumReplySize = 65536;

    void addData(QByteArrayView bytes);
    bool hasReply() const { return !replies.isEmpty(); }
    Reply takeReply() { return replies.takeFirst(); }
    // Whether part of a reply has come and its end not yet.
    bool isInReply() const
    {
        return inMultiLine || !pendingLine.isEmpty() || discardingLine || skippingCode != 0;
    }
    void clear();

    // The mode of a plain file as the facts of a "250" reply to MLST give it (RFC 3659,
    // "UNIX.mode", octal; pyftpdlib writes it "0o644"): Known, or Unknown when the reply names
    // no mode or something other than a file.
    static FileMode modeFromFacts(QStringView text);
    // The mode of the file named fileName (the last part of its path) in the bytes of a
    // "LIST <path>" in the Unix format ("-rwxr-xr-x 1 0 0 4 Dec 09 11:01 network"): Known from
    // its permission column; Absent when the listing names nothing; Unknown when the line
    // is missing, is not a plain file's (a link, a directory) or cannot be read.
    static FileMode modeFromListing(QByteArrayView listing, QStringView fileName);

    // The address and port of a "227" reply's text. Servers word it differently
    // ("Entering Passive Mode (h1,h2,h3,h4,p1,p2)", without brackets, "=h1,...", with spaces
    // after the commas), so the first six comma-separated numbers count; each must be 0-255
    // and the port must not be 0.
    static bool parsePassiveReply(QStringView text, QHostAddress *address, quint16 *port);

private:
    void addLine(QByteArrayView line, qsizetype size);
    void appendText(QByteArrayView text);
    void refuseReply(const QString &text);

    QByteArray pendingLine;
    bool discardingLine = false;
    bool inMultiLine = false;
    qsizetype replySize = 0;   // bytes of the multi-line reply so far, line ends included
    int skippingCode = 0;      // the code of an over-long reply whose lines are being dropped
    Reply partial;
    QList<Reply> replies;
};
