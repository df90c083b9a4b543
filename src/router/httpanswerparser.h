#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Reads one HTTP/1.x answer from the bytes of a connection: the status line, the headers and
// the body, framed by Content-Length, by chunked transfer coding or by the end of the
// connection. Interim answers (1xx) are skipped. The body itself is not kept, only the
// status and the Set-Cookie headers are. Memory stays bounded whatever the peer sends: an
// answer longer than maximumAnswerSize bytes on the wire fails, as does anything that does
// not read as HTTP.
class HttpAnswerParser final
{
public:
    enum State { Incomplete, Complete, Failed };

    static constexpr qsizetype maximumAnswerSize = qsizetype(64) * 1024;

    // Takes the next bytes of the connection and returns the state reached. Bytes after a
    // complete answer are ignored.
    State addData(QByteArrayView bytes);
    // The peer has closed the connection: an answer whose body runs to the end of the
    // connection is complete now, any other unfinished one has failed.
    State endOfData();
    State state() const { return currentState; }

    int status() const { return statusCode; }
    bool hasSetCookie() const { return setCookieSeen; }
    // The values of every Set-Cookie header, in order, joined by line feeds.
    QByteArray setCookie() const { return cookies; }

private:
    enum Part { StatusLine, Headers, FixedBody, ChunkSize, ChunkData, ChunkDataEnd, Trailers, BodyToEnd, Done };

    QByteArray takeLine();
    bool readStatusLine(const QByteArray &line);
    bool readHeader(const QByteArray &line);
    bool endOfHeaders();
    bool readChunkSize(const QByteArray &line);
    State failed();

    State currentState = Incomplete;
    Part part = StatusLine;
    QByteArray pending;      // bytes of an unfinished line
    qsizetype received = 0;  // bytes of this answer taken so far
    qint64 remaining = 0;    // body or chunk bytes still to come
    int statusCode = 0;
    bool setCookieSeen = false;
    QByteArray cookies;
    // Of the answer being read (reset for each interim answer).
    QByteArray lastHeaderName;
    qint64 contentLength = -1;
    bool chunked = false;
    bool otherCoding = false;
};
