#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "support/notificationservice.h"
#include "ui/desktopnotifier.h"

#include <QAction>
#include <QSettings>
#include <QTest>
#include <QToolButton>

namespace {

enum Event { Reconnecting, ReconnectedAgain, Exiting, OtherStates, Lost, LostAndBack, ClientsCame, ClientWent, ClientsCameAndWent, ClientsInBasicMode };
enum Window { Inactive, Active, SwitchedOff, SwitchedOffInTheMenu };

QByteArray clients(const QStringList &names)
{
    QStringList lines;
    for (const QString &name : names)
        lines.append(ScriptedOpenVpnPeer::clientLine26(name, 1));
    return ScriptedOpenVpnPeer::statusAnswer26(lines);
}

} // namespace

// What reaches a real notification service on a private session bus while the window is
// inactive, and that nothing does while it is active or the notifications are switched off.
class tst_MainWindowNotifications : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_MainWindowNotifications() : MainWindowFixture(QStringLiteral("127.0.0.61")) {}

private slots:
    void initTestCase() override;
    void cleanup() override;
    void events_data();
    void events();

private:
    void state(const char *word);
    void poll(const QStringList &names);
    // Waits until everything the window sent has reached the service, and returns it as
    // "summary|body".
    QStringList shown();

    NotificationService service;
    std::unique_ptr<QWidget> otherWindow;
};

void tst_MainWindowNotifications::initTestCase()
{
    MainWindowFixture::initTestCase();
    if (!service.start())
        QSKIP(qPrintable(service.errorString()));
}

void tst_MainWindowNotifications::cleanup()
{
    otherWindow.reset();
    MainWindowFixture::cleanup();
}

void tst_MainWindowNotifications::state(const char *word)
{
    peer->send(QByteArray(">STATE:1796673040,") + word + ",,,,,,\r\n");
    QVERIFY(settle());
}

void tst_MainWindowNotifications::poll(const QStringList &names)
{
    peer->statusAnswer = clients(names);
    MainWindowTestAccess::poll(*window);
    QVERIFY(settle());
}

QStringList tst_MainWindowNotifications::shown()
{
    // Sent on the same connection to the bus after the window's: it arrives after them.
    DesktopNotifier marker;
    marker.notify(QStringLiteral("marker"), QString());
    QList<NotificationService::Notification> all;
    const bool arrived = QTest::qWaitFor([&] {
        all = service.notifications();
        return !all.isEmpty() && all.constLast().summary == QLatin1String("marker");
    });
    if (!arrived)
        return {QStringLiteral("(the marker did not arrive)")};
    all.removeLast();
    QStringList result;
    for (const NotificationService::Notification &notification : std::as_const(all))
        result.append(notification.summary + QLatin1Char('|') + notification.body);
    return result;
}

void tst_MainWindowNotifications::events_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<Window>("windowState");
    QTest::addColumn<QStringList>("expected");

    const QString router = QStringLiteral("|Router 127.0.0.61");
    const struct
    {
        const char *name = nullptr;
        Event event = Reconnecting;
        QStringList expected;
    } events[] = {
        {"VPN reconnecting", Reconnecting, {"VPN reconnecting" + router}},
        {"VPN reconnecting, then connected", ReconnectedAgain, {"VPN reconnecting" + router, "VPN connected" + router}},
        {"VPN exiting", Exiting, {"VPN exiting" + router}},
        {"states on the way tell nothing", OtherStates, {}},
        {"management connection lost", Lost, {"Management connection lost" + router}},
        // The first status answer of a new connection only tells who is there.
        {"lost, then back with another client", LostAndBack,
         {"Management connection lost" + router, "VPN connected" + router}},
        {"clients came", ClientsCame, {"VPN clients|3 clients connected: a, b, c"}},
        {"a client went", ClientWent, {"VPN clients|Client disconnected: b"}},
        {"clients came and went", ClientsCameAndWent, {"VPN clients|2 clients connected: c, d\nClient disconnected: a"}},
        {"clients outside the server mode", ClientsInBasicMode, {}},
    };
    for (const auto &row : events) {
        QTest::addRow("%s, window inactive", row.name) << row.event << Inactive << row.expected;
        QTest::addRow("%s, window active", row.name) << row.event << Active << QStringList();
    }
    for (const Event event : {Reconnecting, ClientsCame}) {
        QTest::addRow("%d, switched off", int(event)) << event << SwitchedOff << QStringList();
        QTest::addRow("%d, switched off in the menu", int(event)) << event << SwitchedOffInTheMenu << QStringList();
    }
}

void tst_MainWindowNotifications::events()
{
    QFETCH(Event, event);
    QFETCH(Window, windowState);
    QFETCH(QStringList, expected);

    QSettings().setValue(QStringLiteral("AppMode"), QLatin1String(event == ClientsInBasicMode ? "basic" : "server"));
    if (windowState == SwitchedOff)
        QSettings().setValue(QStringLiteral("Notifications"), false);
    const bool twoAtStart = event == ClientWent || event == ClientsCameAndWent;
    peer->statusAnswer = clients(twoAtStart ? QStringList{"a", "b"} : QStringList{"a"});
    if (event == ClientsCame)
        peer->statusAnswer = clients({});
    // Active while it connects: the first state goes untold.
    QVERIFY(show());
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QVERIFY(open());
    MainWindowTestAccess::statusTimer(*window).stop();
    if (windowState == SwitchedOffInTheMenu)
        child<QAction>(*window, "notificationsAction")->trigger();
    QCOMPARE(child<QAction>(*window, "notificationsAction")->isChecked(), windowState == Inactive || windowState == Active);
    if (windowState != Active) {
        otherWindow = std::make_unique<QWidget>();
        otherWindow->show();
        otherWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(otherWindow.get()));
        QVERIFY(!window->isActiveWindow());
    }
    service.clear();

    switch (event) {
    case Reconnecting: state("RECONNECTING"); break;
    case ReconnectedAgain: state("RECONNECTING"); state("CONNECTED"); break;
    case Exiting: state("EXITING"); break;
    case OtherStates:
        for (const char *word : {"WAIT", "AUTH", "GET_CONFIG", "ASSIGN_IP", "ADD_ROUTES", "CONNECTING"})
            state(word);
        break;
    case Lost:
    case LostAndBack:
        peer->closeConnection();
        QTRY_VERIFY(child<QToolButton>(*window, "reconnectButton")->isVisible());
        if (event == LostAndBack) {
            peer->statusAnswer = clients({"a", "b"});
            child<QAction>(*window, "reconnectAction")->trigger();
            QTRY_COMPARE(peer->connections, 2);
            QTRY_VERIFY(peer->receivedOnConnection.contains(QLatin1String("status 2")));
            QVERIFY(settle());
        }
        break;
    case ClientsCame: poll({"a", "b", "c"}); break;
    case ClientWent: poll({"a"}); break;
    case ClientsCameAndWent: poll({"b", "c", "d"}); break;
    case ClientsInBasicMode: poll({"a", "b"}); break;
    }
    QCOMPARE(shown(), expected);
}

QTEST_MAIN(tst_MainWindowNotifications)
#include "tst_mainwindownotifications.moc"
