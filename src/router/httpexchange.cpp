#include "router/httpexchange.h"

namespace {
// Read in pieces no larger than what an answer may be, so no more is ever held at once.
constexpr qint64 readPiece = qint64(16) * 1024;
}

HttpExchange::HttpExchange(QObject *parent)
    : QObject(parent)
{
    socket.setReadBufferSize(HttpAnswerParser::maximumAnswerSize);
    deadline.setSingleShot(true);
    connect(&socket, &QAbstractSocket::connected, this, &HttpExchange::connected);
    connect(&socket, &QIODevice::readyRead, this, &HttpExchange::readAnswer);
    connect(&socket, &QAbstractSocket::disconnected, this, &HttpExchange::connectionEnded);
    connect(&socket, &QAbstractSocket::errorOccurred, this, &HttpExchange::connectionEnded);
    connect(&deadline, &QTimer::timeout, this, [this] { finish(false); });
}

QByteArray HttpExchange::requestBytes(const QByteArray &method, const QUrl &url, const QList<Header> &headers)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray bytes = method + ' ' + target + " HTTP/1.1\r\nHost: "
        + url.authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
    for (const auto &[name, value] : headers)
        bytes += name + ": " + value + "\r\n";
    // One request per connection: the server's close then ends an answer of unknown length.
    bytes += "Content-Length: 0\r\nConnection: close\r\n\r\n";
    return bytes;
}

void HttpExchange::start(const QByteArray &method, const QUrl &url, const QList<Header> &headers, int deadlineMs)
{
    request = requestBytes(method, url, headers);
    deadline.start(deadlineMs);
    if (!url.isValid() || url.host().isEmpty()) {
        finish(false);
        return;
    }
    socket.connectToHost(url.host(), quint16(url.port(80)));
}

void HttpExchange::connected()
{
    if (!over)
        socket.write(request);
}

void HttpExchange::readAnswer()
{
    while (!over && socket.bytesAvailable() > 0) {
        const QByteArray piece = socket.read(readPiece);
        if (piece.isEmpty())
            break;
        switch (parser.addData(piece)) {
        case HttpAnswerParser::Incomplete:
            break;
        case HttpAnswerParser::Complete:
            finish(parser.status() < 400);
            return;
        case HttpAnswerParser::Failed:
            finish(false);
            return;
        }
    }
}

// A refused or reset connection, or the server's close: an answer that runs to the end of
// the connection is complete now, anything else has failed.
void HttpExchange::connectionEnded()
{
    if (over)
        return;
    readAnswer();
    if (over)
        return;
    if (socket.state() != QAbstractSocket::UnconnectedState
        && socket.error() != QAbstractSocket::RemoteHostClosedError)
        return; // not the end yet (e.g. a write error that disconnected() will follow)
    finish(parser.endOfData() == HttpAnswerParser::Complete && parser.status() < 400);
}

void HttpExchange::finish(bool ok)
{
    if (over)
        return;
    over = true;
    success = ok;
    deadline.stop();
    socket.abort();
    QMetaObject::invokeMethod(this, &HttpExchange::finished, Qt::QueuedConnection);
}
