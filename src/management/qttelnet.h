#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QStringList>

class QTcpSocket;

// A line-oriented TCP transport: bytes in are handed up as whole lines (terminator kept), one
// list per read event; text out is written as lines ending in CR LF. A line is read as UTF-8,
// and each byte of it that is not part of valid UTF-8 stands in the text for itself (see
// lineFromBytes), so that the text is written back as exactly the bytes it was read from. No
// option negotiation of any kind takes place.
//
// A read event hands up at most one slice (sliceLines lines, about sliceBytes bytes); whole
// lines left over go up in the next turns of the event loop, so that a peer that sends faster
// than the receivers can take never holds the event loop for long. The socket keeps at most
// readBufferSize bytes; beyond that the peer waits (TCP flow control) instead of our memory
// growing.
class QtTelnet : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtTelnet)

public:
    // The longest line taken from a peer, its line feed included. A peer that sends more
    // without a line feed is not speaking in lines (OpenVPN's longest are a few kilobytes):
    // its connection is dropped with an error instead of being kept in memory without end.
    static constexpr qsizetype maxLineLength = qsizetype(1024) * 1024;
    // The most lines, and about the most bytes, handed up in one message().
    static constexpr qsizetype sliceLines = 8192;
    static constexpr qsizetype sliceBytes = 2 * maxLineLength;
    // What the socket reads ahead of the receivers; room for a line of the longest length.
    static constexpr qint64 readBufferSize = 4 * maxLineLength;

    explicit QtTelnet(QObject *parent = nullptr);
    ~QtTelnet() override;

    // Drops any current connection at once and starts connecting; the outcome is reported by
    // connected() or connectionError().
    void connectToHost(const QString &host, quint16 port);
    virtual void close();

    // The user-visible description of a socket error, translated in the context "QtTelnet".
    static QString errorText(QAbstractSocket::SocketError error);
    // The user-visible description of a connection dropped for a line over maxLineLength.
    static QString lineTooLongText();

    // OpenVPN writes UTF-8, but passes on unchanged the bytes that others sent it (a client's
    // name). A byte of a line that is not part of valid UTF-8 stands in the text as the lone
    // low surrogate escapedByteBase + byte (U+DC80 to U+DCFF), which text decoded from valid
    // UTF-8 never holds (as Python's "surrogateescape" does). Different lines are thus always
    // different texts, and a text goes back as the very bytes it came from.
    static constexpr char16_t escapedByteBase = 0xDC00;
    // Whether a character that is not the second half of a surrogate pair stands for a byte.
    static constexpr bool isEscapedByte(char16_t c)
    {
        return c >= escapedByteBase + 0x80 && c <= escapedByteBase + 0xff;
    }
    // One received line as text, cut before a NUL: decoded as UTF-8, each byte that is not
    // part of valid UTF-8 escaped.
    static QString lineFromBytes(const char *data, qsizetype size);
    // The bytes of a line of text as they are written: UTF-8, each escaped byte as the byte
    // it stands for. Text read by lineFromBytes comes back as exactly the bytes it was read
    // from.
    static QByteArray bytesFromLine(QStringView text);

public slots:
    virtual void sendData(const QString &data);
    virtual void sendData(const QStringList &lines);

signals:
    void connectionError(const QString &error);
    void message(const QStringList &lines);
    void connected();
    void disconnected();

protected slots:
    virtual void socketConnected();
    virtual void socketDisconnected();
    virtual void socketReadyRead();
    virtual void socketError(QAbstractSocket::SocketError error);

protected:
    // One socket for the object's life, owned by it; each connection attempt reuses it.
    QTcpSocket *const socket;

    // Drops the connection and reports the error, as a socket error is reported.
    void fail(const QString &text);

private:
    void writeLine(const QString &text);
    // Reads one line the socket can deliver whole (the caller has checked canReadLine()).
    // False for a line longer than maxLineLength, of which that many bytes are then gone.
    bool readOneLine(QString &line);
    // Reads the next slice of whole lines into `lines`. False for a line longer than
    // maxLineLength (the lines before it are in `lines`).
    bool readSlice(QStringList &lines);
    // Runs the read handler again in a later turn of the event loop, once.
    void scheduleRead();
    // Hands up now the whole lines that wait for a later turn.
    void deliverLeftovers();

    // Scratch space for the lines being read; the socket keeps any unfinished line itself.
    QByteArray lineBuffer;
    QByteArray chunk;
    // While message() is being emitted: a receiver's nested event loop must not start
    // another slice, which would overtake the lines of this one not handled yet.
    bool delivering = false;
    // Whole lines are waiting for a later turn; a call to read them is posted.
    bool linesLeft = false;
    bool readPosted = false;
    // Counts connection attempts, so that reading stops when a receiver has started another.
    quint64 attempts = 0;
};
