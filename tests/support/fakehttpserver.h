#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// An HTTP/1.1 server on a free loopback port for peers that Debian does not ship (the
// router's LuCI, the update server). It records every request exactly as it came and
// answers each with what the test's handler returns; the handler can also have it cut a
// reply short, close the connection or never answer.
class FakeHttpServer final : public QObject
{
    Q_OBJECT

public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request
    {
        QByteArray requestLine;        // e.g. "POST /cgi-bin/luci?username=root HTTP/1.1"
        QByteArray method;
        QByteArray target;             // as sent, percent-encoding untouched
        QByteArray version;
        QList<Header> headers;         // in order, names and values as sent
        QByteArray body;
        int connection = 0;            // which connection it came on, counted from 0

        QByteArray path() const;       // target up to "?"
        QByteArray query() const;      // target after "?", empty if none
        bool hasHeader(const QByteArray &name) const;
        QByteArray header(const QByteArray &name) const;   // first of that name, any case
        // The query items decoded as a web server decodes a form ("+" is a space, then
        // percent-decoding), in order.
        QList<Header> queryItems() const;
        QByteArray queryItem(const QByteArray &key) const;
    };

    struct Response
    {
        int status = 200;
        QByteArray reason;             // empty: the usual phrase for the status
        QList<Header> headers;         // Content-Length is added unless given here
        QByteArray body;
        // Only this many bytes of the serialized reply go out (-1: all of them).
        qsizetype sendOnly = -1;
        // Close the connection after sending (otherwise it stays open for the next request).
        bool close = false;
        // The reply goes out this many milliseconds after the request came (0: at once).
        int delayMs = 0;

        Response &addHeader(const QByteArray &name, const QByteArray &value)
        {
            headers.append(Header(name, value));
            return *this;
        }
        // A reply that never comes: the request is recorded, the connection left open.
        static Response noAnswer();
        QByteArray serialized() const;
    };

    using Handler = std::function<Response(const Request &)>;

    // Starts listening on 127.0.0.1 at a free port; answers 200 with an empty body until a
    // handler is set.
    explicit FakeHttpServer(QObject *parent = nullptr);
    ~FakeHttpServer() override;
    Q_DISABLE_COPY_MOVE(FakeHttpServer)

    quint16 port() const { return server.serverPort(); }
    void setHandler(Handler handler) { this->handler = std::move(handler); }

    // A port on 127.0.0.1 where nothing listens (was free a moment ago).
    static quint16 closedPort();
    // "+" as space, then percent-decoding: the standard decoding of form data.
    static QByteArray formDecode(const QByteArray &text);

    QList<Request> requests;
    int connections = 0;
    // Connections that the client closed while the server still held them open.
    int closedByClient = 0;

signals:
    void requestReceived(const FakeHttpServer::Request &request);

private:
    void accept();
    void readFrom(QTcpSocket *socket, int connection);

    QTcpServer server;
    Handler handler;
    QHash<QTcpSocket *, QByteArray> pending;
};
