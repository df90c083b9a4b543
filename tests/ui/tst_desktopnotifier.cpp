#include "ui/desktopnotifier.h"

#include "support/notificationservice.h"

#include <QSignalSpy>
#include <QTest>

// Against a real notification service on a private session bus.
class tst_DesktopNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void notification_data();
    void notification();
    void eachTakesThePlaceOfTheLast();

private:
    NotificationService service;
};

void tst_DesktopNotifier::initTestCase()
{
    if (!service.start())
        QSKIP(qPrintable(service.errorString()));
}

void tst_DesktopNotifier::notification_data()
{
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("sentBody");

    QTest::newRow("plain") << "VPN connected" << "Router 192.168.1.1" << "Router 192.168.1.1";
    QTest::newRow("markup in a name is text") << "VPN clients" << "Client connected: <b>x</b> & y"
                                              << "Client connected: &lt;b&gt;x&lt;/b&gt; &amp; y";
    QTest::newRow("two lines, beyond Latin-1") << "VPN clients" << "Client connected: Łódź\nClient disconnected: b"
                                                << "Client connected: Łódź\nClient disconnected: b";
}

void tst_DesktopNotifier::notification()
{
    QFETCH(QString, summary);
    QFETCH(QString, body);
    QFETCH(QString, sentBody);

    service.clear();
    DesktopNotifier notifier;
    notifier.notify(summary, body);
    QTRY_COMPARE(service.notifications().size(), 1);
    const NotificationService::Notification shown = service.notifications().constFirst();
    QCOMPARE(shown.appName, QStringLiteral("Pylon Router"));
    QCOMPARE(shown.icon, QStringLiteral("pylon-router"));
    QCOMPARE(shown.summary, summary);
    QCOMPARE(shown.body, sentBody);
    QCOMPARE(shown.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("pylon-router"));
    QCOMPARE(shown.timeout, -1);
    QCOMPARE(shown.replacesId, 0u);
}

void tst_DesktopNotifier::eachTakesThePlaceOfTheLast()
{
    service.clear();
    DesktopNotifier notifier;
    QSignalSpy shown(&notifier, &DesktopNotifier::shown);
    notifier.notify(QStringLiteral("VPN reconnecting"), QStringLiteral("Router a"));
    QVERIFY(shown.wait());
    const uint id = shown.constFirst().constFirst().toUInt();
    QVERIFY(id != 0);
    notifier.notify(QStringLiteral("VPN connected"), QStringLiteral("Router a"));
    QVERIFY(shown.wait());
    QCOMPARE(shown.constLast().constFirst().toUInt(), id);

    const QList<NotificationService::Notification> all = service.notifications();
    QCOMPARE(all.size(), 2);
    QCOMPARE(all.at(0).replacesId, 0u);
    QCOMPARE(all.at(1).replacesId, id);
    QCOMPARE(all.at(1).summary, QStringLiteral("VPN connected"));
}

QTEST_MAIN(tst_DesktopNotifier)
#include "tst_desktopnotifier.moc"
