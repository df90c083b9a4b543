#include "update/updateaction.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QIcon>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
QString hostOverride;
quint16 portOverride = 0;

// Only the host of the configured URL counts: the query always goes to port 80 over plain
// HTTP, with its own path.
QUrl queryUrl(const QString &host, const QByteArray &target)
{
    const qsizetype question = target.indexOf('?');
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    // Already percent-encoded; strict parsing keeps every escape as it is.
    url.setPath(QString::fromLatin1(target.left(question)), QUrl::StrictMode);
    url.setQuery(QString::fromLatin1(target.mid(question + 1)), QUrl::StrictMode);
    return url;
}

// Only three short lines are read from the answer; a server that sends more than this is
// cut off, and what arrived is judged, so it cannot make the program hold an endless body.
constexpr qint64 maximumAnswer = qint64(64) * 1024;

bool isAccepted(int statusCode)
{
    // Redirections are not followed, but their body is read like any other.
    return statusCode == 200 || statusCode == 301 || statusCode == 302 || statusCode == 303
           || statusCode == 307;
}

// An offered link leads to a web page; anything else (a local file, a script) is not offered
// as a link, since a click would hand it to whatever the desktop runs for it.
bool isWebLink(const QString &link)
{
    const QUrl url(link);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}

// The update server's words go into rich text as text: none of its markup is obeyed. The
// lines of its answer may end in CR, which would otherwise become part of the link.
QString offerValue(const QString &value)
{
    return value.trimmed().toHtmlEscaped();
}
}

UpdateAction::UpdateAction(const QString &scriptName, const QString &appName,
                           const QString &version, const QString &build, QObject *parent,
                           const QString &serverUrl)
    : QAction(QIcon(QStringLiteral(":img/update.png")), tr("Update"), parent)
    , scriptName(scriptName)
    , appName(appName)
    , version(version)
    , build(build)
    , machineId(computeMachineId())
    , serverUrl(queryUrl(QUrl(serverUrl).host(),
                         requestTarget(scriptName, appName, version, build, machineId)))
    , http(new QNetworkAccessManager(this))
{
    http->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void UpdateAction::checkForUpdate()
{
    downloadUpdateInfo();
}

QString UpdateAction::machineIdOf(const QList<Interface> &interfaces)
{
    QCryptographicHash digest(QCryptographicHash::Md5);
    for (const Interface &interface : interfaces) {
        if (interface.valid && interface.up && interface.running && !interface.loopback
            && interface.addressCount > 0) {
            digest.addData(interface.hardwareAddress.toLatin1());
        }
    }
    return QString::fromLatin1(digest.result().right(6).toHex());
}

QByteArray UpdateAction::requestTarget(const QString &scriptName, const QString &appName,
                                       const QString &version, const QString &build,
                                       const QString &machineId)
{
    const auto encoded = [](const QString &value) { return value.toUtf8().toPercentEncoding(); };
    return '/' + encoded(scriptName) + ".php?app=" + encoded(appName) + "&ver=" + encoded(version)
           + "&bld=" + encoded(build) + "&id=" + encoded(machineId);
}

std::optional<UpdateAction::Offer> UpdateAction::parseAnswer(const QByteArray &body)
{
    const qsizetype end = body.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? body : body.left(end));
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    if (lines.size() < 3)
        return std::nullopt;
    return Offer{lines.at(0), lines.at(1), lines.at(2)};
}

QString UpdateAction::offerText() const
{
    const QString link = offer.linkUrl.trimmed();
    // Only a web address becomes a link; any other target would show an anchor that looks
    // clickable and leads nowhere, so its text stands alone.
    if (!isWebLink(link)) {
        return QCoreApplication::translate("MainWindow", "Version %1 is avaliable on the following website:<br><br>%2")
            .arg(offerValue(offer.newVersion), offerValue(offer.linkText));
    }
    return QCoreApplication::translate("MainWindow",
                                       "Version %1 is avaliable on the following website:<br><br><a href=\"%2\">%3</a>")
        .arg(offerValue(offer.newVersion), offerValue(link), offerValue(offer.linkText));
}

void UpdateAction::setHostForTesting(const QString &host)
{
    hostOverride = host;
}

void UpdateAction::setPortForTesting(quint16 port)
{
    portOverride = port;
}

QString UpdateAction::computeMachineId()
{
    QList<Interface> interfaces;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network : all) {
        const QNetworkInterface::InterfaceFlags flags = network.flags();
        Interface interface;
        interface.valid = network.isValid();
        interface.up = flags.testFlag(QNetworkInterface::IsUp);
        interface.running = flags.testFlag(QNetworkInterface::IsRunning);
        interface.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        interface.addressCount = int(network.addressEntries().size());
        interface.hardwareAddress = network.hardwareAddress();
        interfaces.append(interface);
    }
    return machineIdOf(interfaces);
}

void UpdateAction::downloadUpdateInfo()
{
    // One check at a time; a second call while the first runs has nothing to add.
    if (reply)
        return;

    QUrl url = serverUrl;
    if (!hostOverride.isEmpty())
        url.setHost(hostOverride);
    if (portOverride != 0)
        url.setPort(portOverride);

    buffer.close();
    buffer.setData(QByteArray());
    buffer.open(QIODevice::WriteOnly);

    QNetworkReply *pending = http->get(QNetworkRequest(url));
    // The network layer reads no further ahead than this: an answer without end is not
    // taken in for ever before it is cut off.
    pending->setReadBufferSize(maximumAnswer);
    reply = pending;
    const auto accepted = [pending] {
        return isAccepted(pending->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    };
    connect(pending, &QNetworkReply::metaDataChanged, this, [this, pending] {
        httpResponseHeader(pending->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    });
    // Taken as it comes, so that bytes that arrived before a failure still count.
    connect(pending, &QNetworkReply::readyRead, this, [this, pending, accepted] {
        if (!accepted())
            return;
        takeBody(pending);
        if (buffer.size() >= maximumAnswer)
            QMetaObject::invokeMethod(pending, &QNetworkReply::abort, Qt::QueuedConnection);
    });
    connect(pending, &QNetworkReply::finished, this, [this, pending, accepted] {
        // An aborted reply is closed and has nothing left to read.
        if (accepted() && pending->isOpen())
            takeBody(pending);
        pending->deleteLater();
        reply = nullptr;
        httpDone(pending->error() != QNetworkReply::NoError);
    });
}

void UpdateAction::takeBody(QNetworkReply *pending)
{
    buffer.write(pending->read(qMax<qint64>(maximumAnswer - buffer.size(), 0)));
}

void UpdateAction::httpResponseHeader(int statusCode)
{
    // Queued behind what the network layer has already delivered for this reply: aborting
    // in the middle of that makes it report its own error a second time.
    if (!isAccepted(statusCode) && reply)
        QMetaObject::invokeMethod(reply.data(), &QNetworkReply::abort, Qt::QueuedConnection);
}

void UpdateAction::httpDone(bool error)
{
    // A transfer cut short still counts with what arrived; the flag says nothing more.
    Q_UNUSED(error)
    buffer.close();
    if (buffer.data().isEmpty())
        return;
    const std::optional<Offer> answer = parseAnswer(buffer.data());
    if (!answer)
        return;
    offer = *answer;
    emit updateAvaliable();
}
