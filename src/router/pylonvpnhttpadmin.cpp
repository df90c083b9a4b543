#include "router/pylonvpnhttpadmin.h"

#include "router/httpexchange.h"

#include <QRegularExpression>

namespace {
quint16 portOverride = 0;
// A router that takes a request and then says nothing, or trickles its answer, would keep
// the window busy for ever: a deadline from the request's start, not an idle timer.
constexpr int defaultTransferTimeout = 30000;
int answerTimeout = defaultTransferTimeout;
}

PylonVpnHttpAdmin::PylonVpnHttpAdmin(QObject *parent)
    : QObject(parent)
{
}

void PylonVpnHttpAdmin::setHost(const QString &host)
{
    if (host != this->host) {
        cookie.clear();
        cookiePath.clear();
    }
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

// LuCI answers a login with a redirect; the cookie is in that answer, not behind it, and
// HttpExchange follows no redirect.
void PylonVpnHttpAdmin::postEmpty(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    auto *exchange = new HttpExchange(this);
    connect(exchange, &HttpExchange::finished, this, [this, exchange] { finishedSlot(exchange); });
    exchange->start("POST", url, headers, answerTimeout);
}

void PylonVpnHttpAdmin::login(const QString &username, const QString &password)
{
    const QUrl url = routerUrl(QStringLiteral("/cgi-bin/luci"),
                               {{QStringLiteral("username"), username},
                                {QStringLiteral("password"), password}});
    postEmpty(url, {});
}

void PylonVpnHttpAdmin::finishedSlot(HttpExchange *exchange)
{
    // Released on every path, failed exchanges included, so a long session does not gather
    // dead ones.
    exchange->deleteLater();

    if (!exchange->succeeded()) {
        requestQueue.clear();
        emit error();
        return;
    }

    if (exchange->hasSetCookie()) {
        cookie = cookieOf(exchange->setCookie());
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

    const QUrl url = commandUrl(requestQueue.takeFirst(), cookiePath);
    // Sent even when empty.
    postEmpty(url, {{QByteArray("Cookie"), cookie.toLatin1()}});
}
