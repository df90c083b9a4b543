#pragma once

#include "router/httpanswerparser.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// One HTTP/1.1 request with an empty body on a connection of its own, sent once: whatever
// the server does (closes before answering, resets, answers half), the request is never sent
// again. The answer is read with HttpAnswerParser, so its size is bounded. The exchange
// succeeds with a complete answer whose status is below 400 (a redirect is not followed);
// a connection failure, a broken or over-long answer, or no complete answer before the
// deadline (counted from start()) fails it. finished() comes once, never from inside start().
class HttpExchange final : public QObject
{
    Q_OBJECT

public:
    using Header = QPair<QByteArray, QByteArray>;

    explicit HttpExchange(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(HttpExchange)

    // Connects to the URL's host and port (80 when none) and sends the request: the method,
    // the URL's path and query as they are encoded, Host, the given headers, then
    // "Content-Length: 0" and "Connection: close".
    void start(const QByteArray &method, const QUrl &url, const QList<Header> &headers, int deadlineMs);

    bool succeeded() const { return success; }
    int status() const { return parser.status(); }
    bool hasSetCookie() const { return parser.hasSetCookie(); }
    QByteArray setCookie() const { return parser.setCookie(); }

    // The request as it goes on the wire.
    static QByteArray requestBytes(const QByteArray &method, const QUrl &url, const QList<Header> &headers);

signals:
    void finished();

private:
    void connected();
    void readAnswer();
    void connectionEnded();
    void finish(bool ok);

    QTcpSocket socket;
    QTimer deadline;
    HttpAnswerParser parser;
    QByteArray request;
    bool over = false;
    bool success = false;
};
