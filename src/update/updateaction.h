#pragma once

#include <QAction>
#include <QBuffer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// The update server of the publisher. The machine id goes to this host, so it must be one
// the publisher owns; until there is one it is a reserved name that nobody can own.
inline constexpr char updateServerBaseUrl[] = "http://update.pylon-router.example/";

// Asks the update server, once, whether a newer version is offered, and reports an offer
// with updateAvaliable(). The server decides; the client only sends who it is.
class UpdateAction final : public QAction
{
    Q_OBJECT

public:
    // The three first lines of the server's answer.
    struct Offer
    {
        QString newVersion;
        QString linkText;
        QString linkUrl;
    };

    // What the machine id needs to know of one network interface.
    struct Interface
    {
        bool valid = false;
        bool up = false;
        bool running = false;
        bool loopback = false;
        int addressCount = 0;
        QString hardwareAddress;   // as the network library writes it, e.g. 00:1A:2B:3C:4D:5E
    };

    UpdateAction(const QString &scriptName, const QString &appName, const QString &version,
                 const QString &build, QObject *parent, const QString &serverUrl);
    Q_DISABLE_COPY_MOVE(UpdateAction)

    void checkForUpdate();

    QString newVersion() const { return offer.newVersion; }
    QString linkText() const { return offer.linkText; }
    QString linkUrl() const { return offer.linkUrl; }
    // The offer as rich text for the about box, in the main window's translation context:
    // the server's words escaped, the link only when it leads to a web page.
    QString offerText() const;

    // Last six bytes of the MD5 over the hardware addresses of the interfaces that are
    // valid, up, running, not loopback and have an address, as 12 lower-case hex digits.
    static QString machineIdOf(const QList<Interface> &interfaces);
    // The request target: /<script>.php?app=..&ver=..&bld=..&id=.., each value
    // percent-encoded outside the unreserved set.
    static QByteArray requestTarget(const QString &scriptName, const QString &appName,
                                    const QString &version, const QString &build,
                                    const QString &machineId);
    // Latin-1 text up to the first NUL, lines at LF (CR kept); three lines or more are an
    // offer.
    static std::optional<Offer> parseAnswer(const QByteArray &body);

    // For tests only: every instance sends its query to this host and port instead of
    // port 80 of the server URL's host; an empty host or port 0 restores the real one.
    static void setHostForTesting(const QString &host);
    static void setPortForTesting(quint16 port);

signals:
    void updateAvaliable();

private slots:
    void downloadUpdateInfo();
    void httpDone(bool error);
    void httpResponseHeader(int statusCode);

private:
    static QString computeMachineId();
    // Moves what the reply holds into the answer buffer, up to the answer's maximum size.
    void takeBody(QNetworkReply *pending);

    QString scriptName;
    QString appName;
    QString version;
    QString build;
    QString machineId;
    QUrl serverUrl;
    Offer offer;
    QNetworkAccessManager *http;
    QBuffer buffer;
    QPointer<QNetworkReply> reply;
};
