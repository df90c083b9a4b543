#include "router/pylonvpnhttpadmin.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

namespace {
quint16 portOverride = 0;
// A router that takes a request and then says nothing would keep the window busy for ever.
constexpr int defaultTransferTimeout = 30000;
int answerTimeout = defaultTransferTimeout;
}

PylonVpnHttpAdmin::PylonVpnHttpAdmin(QObject *parent)
    : QNetworkAccessManager(parent)
{
    // LuCI answers a login with a redirect; the cookie is in that reply, not behind it.
    setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(this, &QNetworkAccessManager::finished, this, &PylonVpnHttpAdmin::finishedSlot);
}

void PylonVpnHttpAdmin::setHost(const QString &host)
{
    this->host = host;
}

void PylonVpnHttpAdmin::rebootRouter(const QString &username, const QString &password)
{
    requestQueue.append(routerUrl(QStringLiteral("/mini/system/reboot"),
                                  {{QStringLiteral("reboot"), QStringLiteral("1")}}));
    login(username, password);
}

void PylonVpnHttpAdmin::restartFirewall(const QString &username, const QString &password)
{
    requestQueue.append(routerUrl(QStringLiteral("/admin/status/iptables"),
                                  {{QStringLiteral("reboot"), QStringLiteral("1")}}));
    login(username, password);
}

void PylonVpnHttpAdmin::setPortForTesting(quint16 port)
{
    portOverride = port;
}

void PylonVpnHttpAdmin::setTransferTimeoutForTesting(int milliseconds)
{
    answerTimeout = milliseconds > 0 ? milliseconds : defaultTransferTimeout;
}

QString PylonVpnHttpAdmin::cookieOf(const QByteArray &setCookie)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    QString value = QString::fromLatin1(setCookie.constData());
    // Several Set-Cookie headers reach us joined by line feeds; replayed as they are, they
    // would break the Cookie header line in two.
    value.replace(lineBreaks, QStringLiteral("; "));
    return value;
}

QString PylonVpnHttpAdmin::cookiePathOf(const QString &cookie, const QString &current)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    static const QString pathItem = QStringLiteral("path=");
    QString path = current;
    const QStringList parts = cookie.split(whiteSpace, Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        if (part.startsWith(pathItem))
            path = part.mid(pathItem.size());
    }
    return path;
}

QUrl PylonVpnHttpAdmin::commandUrl(const QUrl &queued, const QString &cookiePath)
{
    QUrl url = queued;
    // The cookie path is raw text from the wire: whatever percent-encoding it carries is
    // kept as it is.
    url.setPath(cookiePath + url.path(QUrl::FullyEncoded), QUrl::TolerantMode);
    return url;
}

QByteArray PylonVpnHttpAdmin::encodeQuery(const QList<QPair<QString, QString>> &items)
{
    QByteArray query;
    for (const auto &[key, value] : items) {
        if (!query.isEmpty())
            query += '&';
        query += key.toUtf8().toPercentEncoding() + '=' + value.toUtf8().toPercentEncoding();
    }
    return query;
}

QUrl PylonVpnHttpAdmin::routerUrl(const QString &path,
                                  const QList<QPair<QString, QString>> &items) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    if (portOverride != 0)
        url.setPort(portOverride);
    url.setPath(path);
    // QUrlQuery would leave "+" alone, which servers decode as a space; the query is
    // therefore encoded here and handed over as it is.
    url.setQuery(QString::fromLatin1(encodeQuery(items)), QUrl::StrictMode);
    return url;
}

QNetworkRequest PylonVpnHttpAdmin::routerRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    // The session cookie is handled here, raw; the manager's cookie jar would replace the
    // Cookie header with what it kept of Set-Cookie.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // Counted from the last byte that moved either way: the reply then ends with an error
    // like any other failed request.
    request.setTransferTimeout(answerTimeout);
    return request;
}

void PylonVpnHttpAdmin::postEmpty(const QNetworkRequest &request)
{
    // post() would add a content type of its own (with a warning) and, without a body
    // device, would move the query into the body; a POST with an empty body it is.
    sendCustomRequest(request, "POST", QByteArray());
}

void PylonVpnHttpAdmin::login(const QString &username, const QString &password)
{
    const QUrl url = routerUrl(QStringLiteral("/cgi-bin/luci"),
                               {{QStringLiteral("username"), username},
                                {QStringLiteral("password"), password}});
    postEmpty(routerRequest(url));
}

void PylonVpnHttpAdmin::finishedSlot(QNetworkReply *reply)
{
    // Released on every path, failed replies included, so a long session does not gather
    // dead replies under the manager.
    reply->deleteLater();

    lastError = reply->error();
    if (lastError != QNetworkReply::NoError) {
        requestQueue.clear();
        emit error();
        return;
    }

    if (reply->hasRawHeader("Set-Cookie")) {
        cookie = cookieOf(reply->rawHeader("Set-Cookie"));
        cookiePath = cookiePathOf(cookie, cookiePath);
    }

    processRequests();
}

void PylonVpnHttpAdmin::processRequests()
{
    if (requestQueue.isEmpty()) {
        emit done();
        return;
    }

    QNetworkRequest request = routerRequest(commandUrl(requestQueue.takeFirst(), cookiePath));
    // Sent even when empty; a null value would drop the header.
    QByteArray value = cookie.toLatin1();
    if (value.isNull())
        value = QByteArray("");
    request.setRawHeader("Cookie", value);
    postEmpty(request);
}
