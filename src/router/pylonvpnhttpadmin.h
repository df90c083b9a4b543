#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

class HttpExchange;

// Drives the router's LuCI web interface: logs in, takes the session cookie and its path
// from the login reply, then posts the queued commands under that path with the cookie.
// The end of a batch is reported with done(), a failure with error(); nothing is ever
// emitted from inside a call. Each request goes on the wire exactly once, on a connection of
// its own (HttpExchange): a router that closes without answering, often while it is busy,
// must not get a reboot twice. A request without a complete answer 30 seconds after it
// started, an answer over 64 KiB, a connection failure or an HTTP status of 400 or more
// count as a failure; a redirect is neither followed nor a failure.
class PylonVpnHttpAdmin final : public QObject
{
    Q_OBJECT

public:
    explicit PylonVpnHttpAdmin(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(PylonVpnHttpAdmin)

    // A new router address also forgets the session cookie and its path: they belong to
    // the router that sent them.
    void setHost(const QString &host);
    void rebootRouter(const QString &username, const QString &password);
    void restartFirewall(const QString &username, const QString &password);

    // For tests only: every instance talks to this port instead of 80; 0 restores 80.
    static void setPortForTesting(quint16 port);
    // For tests only: how long a request may take from its start; 0 restores 30 seconds.
    static void setTransferTimeoutForTesting(int milliseconds);

    // The Set-Cookie value to replay as Cookie: up to the first NUL, several headers joined
    // into one line with "; ".
    static QString cookieOf(const QByteArray &setCookie);
    // The value of a "path=" item of a Set-Cookie value, split at white space only, the last
    // such item winning; current when there is none.
    static QString cookiePathOf(const QString &cookie, const QString &current);
    // A queued command's URL under the cookie path: the path prefixed as raw text, with the
    // scheme, host, port and query of the queued URL.
    static QUrl commandUrl(const QUrl &queued, const QString &cookiePath);
    // A query string whose values survive any standard query decoding byte for byte: every
    // byte of their UTF-8 outside the unreserved set is percent-encoded, "+" included.
    static QByteArray encodeQuery(const QList<QPair<QString, QString>> &items);

signals:
    void done();
    void error();

public slots:
    void login(const QString &username, const QString &password);

private slots:
    void finishedSlot(HttpExchange *exchange);
    void processRequests();

private:
    QUrl routerUrl(const QString &path, const QList<QPair<QString, QString>> &items) const;
    void postEmpty(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers);

    QString host;
    QString cookie;
    QString cookiePath;
    QList<QUrl> requestQueue;
};
