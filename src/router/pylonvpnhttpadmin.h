#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

class QNetworkReply;

// Drives the router's LuCI web interface: logs in, takes the session cookie and its path
// from the login reply, then posts the queued commands under that path with the cookie.
// The end of a batch is reported with done(), a network failure with error(); nothing is
// ever emitted from inside a call. A request that has had no answer for 30 seconds counts as
// a network failure.
class PylonVpnHttpAdmin final : public QNetworkAccessManager
{
    Q_OBJECT

public:
    explicit PylonVpnHttpAdmin(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(PylonVpnHttpAdmin)

    void setHost(const QString &host);
    void rebootRouter(const QString &username, const QString &password);
    void restartFirewall(const QString &username, const QString &password);

    // For tests only: every instance talks to this port instead of 80; 0 restores 80.
    static void setPortForTesting(quint16 port);
    // For tests only: how long a request may go without an answer; 0 restores 30 seconds.
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
    void finishedSlot(QNetworkReply *reply);
    void processRequests();

private:
    QUrl routerUrl(const QString &path, const QList<QPair<QString, QString>> &items) const;
    static QNetworkRequest routerRequest(const QUrl &url);
    void postEmpty(const QNetworkRequest &request);

    int lastError = 0;
    QString host;
    QString cookie;
    QString cookiePath;
    QList<QUrl> requestQueue;
};
