#include "support/atspisession.h"
#include "support/fakehttpserver.h"
#include "support/fakeftpserver.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "ui/clientlistview.h"
#include "ui/ftpprogressdialog.h"
#include "ui/openvpnlogline.h"
#include "update/updateaction.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

const QString routerAddress = QStringLiteral("127.0.24.1");
const QString python = QStringLiteral("/usr/bin/python3");
const QString walkScript = QStringLiteral(QT_TESTCASE_SOURCEDIR "/a11y/atspi_walk.py");
// Set in the process that runs the tests; the first process only makes their desktop.
const char childVariable[] = "PYLON_ATSPI_TESTS";
// Why the desktop could not be made, for the tests to skip with.
const char skipVariable[] = "PYLON_ATSPI_SKIP";
constexpr int walkTimeoutMs = 120000;

// The desktop's session bus: the walker reaches the accessibility bus through it, while the
// tests' settings turn this process away from any session bus.
QString sessionBus()
{
    static const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    return address;
}

// Roles of what a user operates; a screen reader announces them by their name. Scroll bars
// are left out: nothing of ours has a name for them, Qt gives them none, and no screen
// reader reads one out.
const QStringList interactiveRoles = {
    QStringLiteral("push button"), QStringLiteral("toggle button"), QStringLiteral("check box"),
    QStringLiteral("radio button"), QStringLiteral("combo box"), QStringLiteral("text"),
    QStringLiteral("password text"), QStringLiteral("spin button"), QStringLiteral("slider"),
    QStringLiteral("menu item"), QStringLiteral("check menu item"), QStringLiteral("radio menu item"),
    QStringLiteral("page tab"), QStringLiteral("page tab list"), QStringLiteral("list"), QStringLiteral("list item"),
    QStringLiteral("tree"), QStringLiteral("tree item"), QStringLiteral("table"), QStringLiteral("table cell"),
    QStringLiteral("link"), QStringLiteral("label"),
};

QStringList strings(const QJsonValue &array)
{
    QStringList result;
    for (const QJsonValue &value : array.toArray())
        result.append(value.toString());
    return result;
}

bool has(const QJsonObject &node, const char *state)
{
    return strings(node.value(QLatin1String("states"))).contains(QLatin1String(state));
}

QString role(const QJsonObject &node)
{
    return node.value(QLatin1String("role")).toString();
}

QString name(const QJsonObject &node)
{
    return node.value(QLatin1String("name")).toString();
}

QJsonArray actions(const QJsonObject &node)
{
    return node.value(QLatin1String("actions")).toArray();
}

// Every node of the tree, depth first.
void forEachNode(const QJsonObject &node, const std::function<void(const QJsonObject &)> &visit)
{
    visit(node);
    for (const QJsonValue &child : node.value(QLatin1String("children")).toArray())
        forEachNode(child.toObject(), visit);
}

// Something to operate without a name to tell what it does: "role" for each.
QStringList unnamedControls(const QJsonObject &window)
{
    QStringList found;
    forEachNode(window, [&](const QJsonObject &node) {
        const bool operable = has(node, "focusable") || !actions(node).isEmpty();
        // A label takes part only when it takes the focus (its text can be selected, or it has links).
        const bool counts = role(node) == QLatin1String("label") ? has(node, "focusable") : operable;
        if (counts && interactiveRoles.contains(role(node)) && name(node).trimmed().isEmpty())
            found.append(role(node));
    });
    return found;
}

QList<QJsonObject> nodesOf(const QJsonObject &window, const QString &wantedRole)
{
    QList<QJsonObject> found;
    forEachNode(window, [&](const QJsonObject &node) {
        if (role(node) == wantedRole)
            found.append(node);
    });
    return found;
}

std::optional<QJsonObject> nodeNamed(const QJsonObject &window, const QString &wantedRole, const QString &wantedName)
{
    std::optional<QJsonObject> found;
    forEachNode(window, [&](const QJsonObject &node) {
        if (!found && role(node) == wantedRole && name(node) == wantedName)
            found = node;
    });
    return found;
}

} // namespace

// The program as a screen reader sees it: each window and dialog read over the real AT-SPI
// stack (Xvfb, a private session bus, the AT-SPI bus launcher and registry, Qt's bridge) by
// tests/a11y/atspi_walk.py with python3-pyatspi, and operated through the same interfaces.
class tst_AtSpi : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_AtSpi() : MainWindowFixture(routerAddress) {}

private slots:
    void initTestCase() override;
    void mainWindow_data();
    void mainWindow();
    void prompts_data();
    void prompts();
    void uploadProgress();
    void everyClientRow();
    void changesAnnounced();
    void aboutBoxAndOffer();

private:
    // Starts the walker on this process; the event loop has to run while it works, since the
    // program answers its questions.
    std::unique_ptr<QProcess> startWalker(const QStringList &arguments);
    // Waits until the walker is done and returns the tree it printed, or an empty object and
    // the reason in walkError.
    QJsonObject finishWalk(QProcess &walker);
    QJsonObject walk(const QStringList &arguments);

    QString walkError;
};

void tst_AtSpi::initTestCase()
{
    const QByteArray skip = qgetenv(skipVariable);
    if (!skip.isEmpty())
        QSKIP(skip.constData());
    if (!QFile::exists(python) || QProcess::execute(python, {QStringLiteral("-c"), QStringLiteral("import pyatspi")}) != 0)
        QSKIP("python3-pyatspi is not installed (Debian: python3-pyatspi, gir1.2-atspi-2.0)");
    // The bridge turns on once it has reached the accessibility bus.
    QTRY_VERIFY2(QAccessible::isActive(), "Qt's AT-SPI bridge is off");
    MainWindowFixture::initTestCase();
}

std::unique_ptr<QProcess> tst_AtSpi::startWalker(const QStringList &arguments)
{
    auto walker = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus());
    walker->setProcessEnvironment(environment);
    // A walker that fails leaves the dialog it was to answer open: it is closed, so that the
    // test goes on, to fail.
    connect(walker.get(), &QProcess::finished, this, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    walker->start(python, QStringList{walkScript, QString::number(QCoreApplication::applicationPid())} + arguments);
    return walker;
}

QJsonObject tst_AtSpi::finishWalk(QProcess &walker)
{
    walkError.clear();
    if (walker.state() != QProcess::NotRunning) {
        QSignalSpy finished(&walker, &QProcess::finished);
        if (!finished.wait(walkTimeoutMs)) {
            walker.kill();
            walker.waitForFinished();
            walkError = QStringLiteral("the walker took too long");
            return {};
        }
    }
    const QByteArray output = walker.readAllStandardOutput();
    if (walker.exitStatus() != QProcess::NormalExit || walker.exitCode() != 0) {
        walkError = QString::fromLocal8Bit(walker.readAllStandardError());
        return {};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(output.left(output.indexOf('\n')), &parseError);
    if (!document.isObject())
        walkError = parseError.errorString();
    return document.object();
}

QJsonObject tst_AtSpi::walk(const QStringList &arguments)
{
    const std::unique_ptr<QProcess> walker = startWalker(arguments);
    return finishWalk(*walker);
}

void tst_AtSpi::mainWindow_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("basic") << QStringLiteral("basic");
    QTest::newRow("client") << QStringLiteral("client");
    QTest::newRow("server") << QStringLiteral("server");
}

void tst_AtSpi::mainWindow()
{
    QFETCH(QString, mode);
    QSettings().setValue(QStringLiteral("AppMode"), mode);
    QVERIFY(open());
    // What the status bar can hold besides: Reconnect, the secret store's notice.
    emit MainWindowTestAccess::routerPassword(*window).storeFailed(QStringLiteral("no Secret Service"));
    peer->closeConnection();
    QTRY_VERIFY(child<QWidget>(*window, "reconnectButton")->isVisible());

    const QJsonObject tree = walk({QStringLiteral("tree"), QStringLiteral("--window"), QStringLiteral("Pylon Router")});
    QVERIFY2(!tree.isEmpty(), qPrintable(walkError));
    QCOMPARE(role(tree), QStringLiteral("frame"));
    QVERIFY2(unnamedControls(tree).isEmpty(), qPrintable(unnamedControls(tree).join(QStringLiteral(", "))));

    const struct
    {
        const char *role;
        QString name;
    } expected[] = {
        {"image", QStringLiteral("Pylon Router logo")},
        {"label", QStringLiteral("Router address: ") + routerAddress},
        {"push button", QStringLiteral("Hold release")},
        {"push button", QStringLiteral("Vpn restart")},
        {"text", QStringLiteral("OpenVPN log")},
        {"text", QStringLiteral("Find in the log")},
        {"push button", QStringLiteral("Clear the search text")},
        {"push button", QStringLiteral("Close the find bar")},
        {"text", QStringLiteral("Filter clients")},
        {"push button", QStringLiteral("Clear the filter")},
        // A combo box reads as its choice, labelled by its caption.
        {"combo box", QStringLiteral("As OpenVPN lists them")},
        {"list", QStringLiteral("Order of the clients")},
        {"push button", QStringLiteral("Reconnect")},
        {"push button", QStringLiteral("Update")},
        {"label", QStringLiteral("No secret store: the router password is kept in the settings file.")},
    };
    for (const auto &control : expected)
        QVERIFY2(nodeNamed(tree, QLatin1String(control.role), control.name), qPrintable(control.name));
    QVERIFY(nodeNamed(tree, QStringLiteral("list"), QStringLiteral("VPN Clients")));
    QCOMPARE(bool(nodeNamed(tree, QStringLiteral("page tab"), QStringLiteral("Status"))), mode == QLatin1String("server"));

    // Every menu entry can be chosen by a key: a screen reader tells which.
    QStringList withoutKey;
    for (const QString &menuRole : {QStringLiteral("menu item"), QStringLiteral("check menu item"), QStringLiteral("radio menu item")}) {
        for (const QJsonObject &item : nodesOf(tree, menuRole)) {
            const QJsonArray itemActions = actions(item);
            if (itemActions.isEmpty() || itemActions.first().toObject().value(QLatin1String("keys")).toString().isEmpty())
                withoutKey.append(name(item));
        }
    }
    QVERIFY2(withoutKey.isEmpty(), qPrintable(withoutKey.join(QStringLiteral(", "))));
}

void tst_AtSpi::prompts_data()
{
    QTest::addColumn<QByteArray>("prompt");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("management password") << QByteArray("management") << "Insert password"
                                         << QStringList{"password text", "Management interface password:"}
                                         << QStringList{"s3cret"} << QStringList{"s3cret"};
    QTest::newRow("private key password")
        << QByteArray(">PASSWORD:Need 'Private Key' password\r\n") << "Insert password"
        << QStringList{"password text", "Private key password:"} << QStringList{"s3cret"}
        << QStringList{"password \"Private Key\" \"s3cret\""};
    QTest::newRow("user authentication")
        << QByteArray(">PASSWORD:Need 'Auth' username/password\r\n") << "User authentication"
        << QStringList{"text", "Username:", "password text", "Password:"} << QStringList{"alice", "s3cret"}
        << QStringList{"username \"Auth\" \"alice\"", "password \"Auth\" \"s3cret\""};
    QTest::newRow("router address") << QByteArray("setIpAddressAction") << "Router IP address"
                                    << QStringList{"text", "Router IP address"} << QStringList{routerAddress}
                                    << QStringList();
    QTest::newRow("router password") << QByteArray("setFtpPassAction") << "Router FTP password"
                                     << QStringList{"password text", "Router FTP password"} << QStringList{"s3cret"}
                                     << QStringList();
}

// Each prompt read and answered as a screen reader's user does: the field found by the name
// its caption gives it, the text typed in, OK pressed.
void tst_AtSpi::prompts()
{
    QFETCH(QByteArray, prompt);
    QFETCH(QString, title);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, sent);

    // The real dialogs, not the scripted ones.
    dialogs.reset();
    QStringList arguments{QStringLiteral("tree"), QStringLiteral("--window"), title};
    for (qsizetype i = 0; i < typed.size(); ++i)
        arguments << QStringLiteral("--set-text") << fields.at(2 * i) << fields.at(2 * i + 1) << typed.at(i);
    arguments << QStringLiteral("--press") << QStringLiteral("push button") << QStringLiteral("OK")
              << QStringLiteral("--until-closed");

    const bool fromPeer = prompt.startsWith('>') || prompt == "management";
    if (prompt == "management")
        peer->managementPassword = QStringLiteral("s3cret");
    std::unique_ptr<QProcess> walker;
    if (prompt == "management") {
        walker = startWalker(arguments);
        QVERIFY(show());
    } else {
        QVERIFY(open());
        // The dialog offers the stored address; the one typed over it is the peer's.
        if (prompt == "setIpAddressAction")
            QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.24.9"));
        walker = startWalker(arguments);
        if (fromPeer)
            peer->send(prompt);
        else
            QTimer::singleShot(0, child<QAction>(*window, prompt.constData()), &QAction::trigger);
    }
    const QJsonObject dialog = finishWalk(*walker);
    QVERIFY2(!dialog.isEmpty(), qPrintable(walkError));
    QVERIFY2(unnamedControls(dialog).isEmpty(), qPrintable(unnamedControls(dialog).join(QStringLiteral(", "))));
    // Each field is named by its caption, which labels it.
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const std::optional<QJsonObject> field = nodeNamed(dialog, fields.at(i), fields.at(i + 1));
        QVERIFY2(field, qPrintable(fields.at(i + 1)));
        QVERIFY(has(*field, "focusable"));
        QCOMPARE(strings(field->value(QLatin1String("labelledBy"))), QStringList{fields.at(i + 1)});
    }

    if (prompt == "management")
        QTRY_VERIFY(peer->received.contains(QLatin1String("s3cret")));
    for (const QString &line : sent)
        QTRY_VERIFY2(peer->received.contains(line), qPrintable(peer->received.join(QLatin1Char('\n'))));
    if (prompt == "setIpAddressAction") {
        QTRY_COMPARE(QSettings().value(QStringLiteral("ip")).toString(), routerAddress);
        QTRY_COMPARE(peer->connections, 2);
    }
    if (prompt == "setFtpPassAction")
        QTRY_COMPARE(QSettings().value(QStringLiteral("password")).toString(), QStringLiteral("s3cret"));
}

void tst_AtSpi::uploadProgress()
{
    // A server that greets and then says nothing: the dialog stays until it is cancelled.
    FakeFtpServer server;
    server.replies.insert("USER", QByteArray());
    QVERIFY(server.listen());
    FtpProgressDialog::setUploadPortForTesting(server.port());
    dialogs.reset();
    const std::unique_ptr<QProcess> walker =
        startWalker({QStringLiteral("tree"), QStringLiteral("--window"), QStringLiteral("Sending the configuration to the router"),
                     QStringLiteral("--press"), QStringLiteral("push button"), QStringLiteral("Cancel"),
                     QStringLiteral("--until-closed")});
    QVERIFY(show());
    int result = -1;
    QTimer::singleShot(0, this, [&] {
        result = FtpProgressDialog::upload(window.get(), QStringLiteral("127.0.0.1"), QStringLiteral("root"), QString(),
                                           {ConfigExport::File{QStringLiteral("/etc/config/network"), "x"}});
    });
    const QJsonObject dialog = finishWalk(*walker);
    FtpProgressDialog::setUploadPortForTesting(0);
    QVERIFY2(!dialog.isEmpty(), qPrintable(walkError));
    QCOMPARE(name(dialog), QStringLiteral("Sending the configuration to the router"));
    QVERIFY(nodeNamed(dialog, QStringLiteral("progress bar"), QStringLiteral("Upload progress")));
    QVERIFY2(unnamedControls(dialog).isEmpty(), qPrintable(unnamedControls(dialog).join(QStringLiteral(", "))));
    QTRY_COMPARE(result, int(QDialog::Rejected));
}

// A big server's clients, of which a screenful has panels, all read; one far out of view is
// disconnected through its row's action: its name has a colon and a byte that is not UTF-8,
// so the kill goes by the connection's ID.
void tst_AtSpi::everyClientRow()
{
    constexpr int clients = 1000;
    constexpr int pressed = 700;
    QList<QByteArray> lines;
    QStringList shown;
    for (int i = 0; i < clients; ++i) {
        const QByteArray name = i == pressed ? QByteArray("far:\xe9") : "client-" + QByteArray::number(i);
        lines.append("CLIENT_LIST," + name + ",198.51.100.7:" + QByteArray::number(1000 + i)
                     + ",10.88.0.2,,1,2,x,1262304000,UNDEF," + QByteArray::number(4000 + i) + ",0,AES-256-GCM");
        shown.append(i == pressed ? QStringLiteral("far:\\xE9") : QString::fromLatin1(name));
    }
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26FromBytes(lines);
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QVERIFY(open());
    QVERIFY(showClients());
    QTRY_COMPARE(showClients()->topLevelItemCount(), clients);
    QVERIFY(!showClients()->panelAt(pressed));
    dialogs->answerButton(QMessageBox::Yes);

    const QJsonObject list = walk({QStringLiteral("tree"), QStringLiteral("--window"), QStringLiteral("Pylon Router"),
                                   QStringLiteral("--root"), QStringLiteral("list"), QStringLiteral("VPN Clients"),
                                   QStringLiteral("--press"), QStringLiteral("list item"), shown.at(pressed)});
    QVERIFY2(!list.isEmpty(), qPrintable(walkError));
    QCOMPARE(list.value(QLatin1String("childCount")).toInt(), clients);
    QStringList names;
    const QJsonArray rows = list.value(QLatin1String("children")).toArray();
    for (const QJsonValue &row : rows)
        names.append(name(row.toObject()));
    QCOMPARE(names, shown);
    const QJsonObject far = rows.at(pressed).toObject();
    QCOMPARE(role(far), QStringLiteral("list item"));
    // Out of view, as a screen reader's review of what is on screen has it.
    QVERIFY(has(rows.at(0).toObject(), "showing"));
    QVERIFY(!has(far, "showing"));
    QCOMPARE(far.value(QLatin1String("description")).toString(),
             QStringLiteral("Connected: %1, Real address: 198.51.100.7:1700, VPN address: 10.88.0.2, Sent bytes: 1, "
                            "Received bytes: 2")
                 .arg(OpenVpnLogLine::formatTime(1262304000)));
    QCOMPARE(actions(far).first().toObject().value(QLatin1String("name")).toString(), QStringLiteral("Disconnect"));

    QTRY_VERIFY(peer->receivedBytesOnConnection.contains("client-kill 4700"));
    QCOMPARE(dialogs->calls.first().text, QStringLiteral("Do you really want to disconnect far:\\xE9?"));
    const auto kills = std::count_if(peer->receivedBytesOnConnection.cbegin(), peer->receivedBytesOnConnection.cend(),
                                     [](const QByteArray &line) { return line.contains("kill"); });
    QCOMPARE(kills, 1);
}

// What a sighted user sees change away from the focus reaches a screen reader as an event:
// a client coming, the VPN's state, the management connection lost.
void tst_AtSpi::changesAnnounced()
{
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    // No clients at first; the list is known before one comes.
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26({});
    QVERIFY(show());
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QVERIFY(open());
    MainWindowTestAccess::poll(*window);
    QVERIFY(settle());
    const std::unique_ptr<QProcess> listener = startWalker({QStringLiteral("listen")});
    QVERIFY(listener->waitForReadyRead(walkTimeoutMs));
    QCOMPARE(listener->readLine().trimmed(), QByteArray("ready"));

    // The next message shown, or an empty string. A reader reads the message when the event
    // comes: one at a time, as a user would hear them. Qt tells of a widget shown twice (shown,
    // and its state changed), so a message is heard again until the next one.
    QString last;
    const auto heard = [&]() -> QString {
        QDeadlineTimer deadline(walkTimeoutMs);
        while (!deadline.hasExpired()) {
            // The program answers the listener's questions meanwhile.
            if (!listener->canReadLine()) {
                QSignalSpy output(listener.get(), &QProcess::readyReadStandardOutput);
                output.wait(int(deadline.remainingTime()));
                continue;
            }
            const QJsonObject event = QJsonDocument::fromJson(listener->readLine()).object();
            if (event.value(QLatin1String("type")).toString().startsWith(QLatin1String("object:state-changed:showing"))
                && event.value(QLatin1String("detail1")).toInt() == 1 && role(event) == QLatin1String("notification")
                && name(event) != last) {
                last = name(event);
                return last;
            }
        }
        return QString();
    };
    peer->statusAnswer = ScriptedOpenVpnPeer::statusAnswer26({ScriptedOpenVpnPeer::clientLine26(QStringLiteral("newcomer"), 1)});
    MainWindowTestAccess::poll(*window);
    QCOMPARE(heard(), QStringLiteral("VPN clients\nClient connected: newcomer"));
    peer->send(">STATE:1796673040,RECONNECTING,SIGHUP,,,,,\r\n");
    QCOMPARE(heard(), QStringLiteral("VPN reconnecting\nRouter ") + routerAddress);
    peer->closeConnection();
    QCOMPARE(heard(), QStringLiteral("Management connection lost\nRouter ") + routerAddress);
    listener->closeWriteChannel();
    QVERIFY(listener->waitForFinished(walkTimeoutMs));
}

// The about box as the update button opens it, on the offer of a newer version.
void tst_AtSpi::aboutBoxAndOffer()
{
    FakeHttpServer updateServer;
    updateServer.setHandler([](const FakeHttpServer::Request &) {
        FakeHttpServer::Response response;
        response.body = "2.5\nDownload Pylon Router 2.5\nhttp://www.pylon-router.example/get\n";
        return response;
    });
    UpdateAction::setPortForTesting(updateServer.port());
    makeWindow();
    QSignalSpy offered(window->findChild<UpdateAction *>(), &UpdateAction::updateAvaliable);
    QVERIFY(offered.wait(5000));
    dialogs.reset();
    QVERIFY(show());

    const std::unique_ptr<QProcess> walker =
        startWalker({QStringLiteral("tree"), QStringLiteral("--window"), QStringLiteral("About"), QStringLiteral("--press"),
                     QStringLiteral("push button"), QStringLiteral("OK"), QStringLiteral("--until-closed")});
    QTimer::singleShot(0, window->findChild<UpdateAction *>(), &QAction::trigger);
    const QJsonObject box = finishWalk(*walker);
    QVERIFY2(!box.isEmpty(), qPrintable(walkError));
    QVERIFY2(unnamedControls(box).isEmpty(), qPrintable(unnamedControls(box).join(QStringLiteral(", "))));
    for (const QString &tab : {QStringLiteral("About"), QStringLiteral("Help"), QStringLiteral("Updates")})
        QVERIFY2(nodeNamed(box, QStringLiteral("page tab"), tab), qPrintable(tab));
    QVERIFY(nodeNamed(box, QStringLiteral("image"), QStringLiteral("Pylon Router")));
    // The offer and its link are reached with Tab.
    const std::optional<QJsonObject> offer = nodeNamed(
        box, QStringLiteral("label"), QStringLiteral("Version 2.5 is avaliable on the following website:\n\nDownload Pylon Router 2.5"));
    QVERIFY(offer);
    QVERIFY(has(*offer, "focusable"));
    QVERIFY(has(*offer, "showing"));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty(childVariable)) {
        // This process makes the desktop and runs the tests on it in a second process, which
        // has to start with the desktop's environment; it ends the desktop when they are done.
        QCoreApplication application(argc, argv);
        AtSpiSession session;
        QProcessEnvironment environment;
        if (session.start()) {
            environment = session.environment();
        } else {
            environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QLatin1String(skipVariable), session.errorString());
        }
        environment.insert(QLatin1String(childVariable), QStringLiteral("1"));
        QProcess tests;
        tests.setProcessEnvironment(environment);
        tests.setProcessChannelMode(QProcess::ForwardedChannels);
        tests.setInputChannelMode(QProcess::ForwardedInputChannel);
        tests.start(QCoreApplication::applicationFilePath(), application.arguments().mid(1));
        tests.waitForFinished(-1);
        return tests.exitStatus() == QProcess::NormalExit ? tests.exitCode() : 1;
    }
    QApplication application(argc, argv);
    // Qt's bridge finds the accessibility bus through the session bus; the connection to it is
    // made now, before the settings shut the process out of any session bus.
    QDBusConnection::sessionBus();
    sessionBus();
    QAccessible::isActive();
    tst_AtSpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_atspi.moc"
