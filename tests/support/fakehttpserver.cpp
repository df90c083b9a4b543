#include "support/fakehttpserver.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {
QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}
}

QByteArray FakeHttpServer::Request::path() const
{
    const qsizetype question = target.indexOf('?');
    return question < 0 ? target : target.left(question);
}

QByteArray FakeHttpServer::Request::query() const
{
    const qsizetype question = target.indexOf('?');
    return question < 0 ? QByteArray() : target.mid(question + 1);
}

bool FakeHttpServer::Request::hasHeader(const QByteArray &name) const
{
    for (const Header &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray FakeHttpServer::Request::header(const QByteArray &name) const
{
    for (const Header &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

QList<FakeHttpServer::Header> FakeHttpServer::Request::queryItems() const
{
    QList<Header> items;
    const QByteArray text = query();
    if (text.isEmpty())
        return items;
    const QList<QByteArray> pairs = text.split('&');
    for (const QByteArray &pair : pairs) {
        const qsizetype equals = pair.indexOf('=');
        if (equals < 0)
            items.append({formDecode(pair), QByteArray()});
        else
            items.append({formDecode(pair.left(equals)), formDecode(pair.mid(equals + 1))});
    }
    return items;
}

QByteArray FakeHttpServer::Request::queryItem(const QByteArray &key) const
{
    const QList<Header> items = queryItems();
    for (const Header &item : items) {
        if (item.first == key)
            return item.second;
    }
    return QByteArray();
}

FakeHttpServer::Response FakeHttpServer::Response::noAnswer()
{
    Response response;
    response.sendOnly = 0;
    return response;
}

QByteArray FakeHttpServer::Response::serialized() const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' '
                     + (reason.isEmpty() ? reasonFor(status) : reason) + "\r\n";
    bool hasLength = false;
    for (const Header &header : headers) {
        out += header.first + ": " + header.second + "\r\n";
        hasLength = hasLength || header.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
    }
    if (!hasLength)
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n" + body;
    return sendOnly < 0 ? out : out.left(sendOnly);
}

FakeHttpServer::FakeHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &FakeHttpServer::accept);
    server.listen(QHostAddress::LocalHost);
}

FakeHttpServer::~FakeHttpServer()
{
    // The sockets are children of the server member and die after the other members; they
    // must not call back into this object on their way out.
    const QList<QTcpSocket *> sockets = server.findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets)
        socket->disconnect(this);
}

quint16 FakeHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QByteArray FakeHttpServer::formDecode(const QByteArray &text)
{
    QByteArray spaced = text;
    spaced.replace('+', ' ');
    return QByteArray::fromPercentEncoding(spaced);
}

void FakeHttpServer::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        const int connection = connections++;
        pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, connection] { readFrom(socket, connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (pending.remove(socket))
                ++closedByClient;
            socket->deleteLater();
        });
    }
}

void FakeHttpServer::readFrom(QTcpSocket *socket, int connection)
{
    if (!pending.contains(socket))
        return;
    QByteArray &data = pending[socket];
    data += socket->readAll();
    for (;;) {
        const qsizetype headEnd = data.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        Request request;
        request.connection = connection;
        const QList<QByteArray> lines = data.left(headEnd).split('\n');
        request.requestLine = lines.first().chopped(lines.first().endsWith('\r') ? 1 : 0);
        const QList<QByteArray> parts = request.requestLine.split(' ');
        request.method = parts.value(0);
        request.target = parts.value(1);
        request.version = parts.value(2);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QByteArray line = lines.at(i);
            if (line.endsWith('\r'))
                line.chop(1);
            const qsizetype colon = line.indexOf(':');
            const Header header{line.left(colon), line.mid(colon + 1).trimmed()};
            request.headers.append(header);
            if (header.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = header.second.toLongLong();
        }
        if (data.size() < headEnd + 4 + length)
            return;
        request.body = data.mid(headEnd + 4, length);
        data.remove(0, headEnd + 4 + length);

        requests.append(request);
        emit requestReceived(request);
        const Response response = handler ? handler(request) : Response();
        if (response.delayMs > 0) {
            // Requests are not pipelined: the next one comes after this answer.
            QTimer::singleShot(response.delayMs, socket, [this, socket, response] {
                socket->write(response.serialized());
                if (response.close) {
                    pending.remove(socket);
                    socket->disconnectFromHost();
                }
            });
            return;
        }
        socket->write(response.serialized());
        if (response.close || response.sendOnly >= 0) {
            if (response.close) {
                pending.remove(socket);
                socket->disconnectFromHost();
            }
            return;
        }
    }
}
