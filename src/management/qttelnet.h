#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QStringList>

class QTcpSocket;

// A line-oriented TCP transport: bytes in are read as Latin-1 and handed up as whole lines
// (terminator kept), one list per read event; text out is written as UTF-8 lines ending in
// CR LF. No option negotiation of any kind takes place.
class QtTelnet : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtTelnet)

public:
    // The longest line taken from a peer, its line feed included. A peer that sends more
    // without a line feed is not speaking in lines (OpenVPN's longest are a few kilobytes):
    // its connection is dropped with an error instead of being kept in memory without end.
    static constexpr qsizetype maxLineLength = qsizetype(1024) * 1024;

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

private:
    // One received line as a string: each byte one Latin-1 character, cut before a NUL.
    static QString lineFromBytes(const char *data, qsizetype size);
    void writeLine(const QString &text);
    // Reads one line the socket can deliver whole (the caller has checked canReadLine()).
    // False for a line longer than maxLineLength, of which that many bytes are then gone.
    bool readOneLine(QString &line);
    // Drops the connection and reports the error, as a socket error is reported.
    void fail(const QString &text);

    // Scratch space for the line being read; the socket keeps any unfinished line itself.
    QByteArray lineBuffer;
    // Counts connection attempts, so that reading stops when a receiver has started another.
    quint64 attempts = 0;
};
