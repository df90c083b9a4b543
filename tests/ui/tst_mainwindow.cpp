#include "router/configcipher.h"
#include "support/layoutcount.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "update/updateaction.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

namespace {

QStringList tabTexts(const MainWindow &window)
{
    QStringList texts;
    auto *tabs = child<QTabWidget>(window, "tabWidget");
    for (int i = 0; i < tabs->count(); ++i)
        texts.append(tabs->tabText(i));
    return texts;
}

QString checkedMode(const MainWindow &window)
{
    QStringList checked;
    for (const char *name : {"basicAction", "clientAction", "serverAction"}) {
        if (child<QAction>(window, name)->isChecked())
            checked.append(QLatin1String(name));
    }
    return checked.join(QLatin1Char(','));
}

// "Title/Entry" for every entry of the menu bar, separators as "-".
QStringList menuTree(const QMenu *menu, const QString &path)
{
    QStringList entries;
    for (QAction *action : menu->actions()) {
        if (action->isSeparator())
            entries.append(path + QStringLiteral("/-"));
        else if (action->menu())
            entries += menuTree(action->menu(), path + QLatin1Char('/') + action->text());
        else
            entries.append(path + QLatin1Char('/') + action->text());
    }
    return entries;
}

} // namespace

class tst_MainWindow : public MainWindowFixture
{
    Q_OBJECT

private slots:
    void firstStart();
    void secondStartKeepsSettings();
    void modeAtStart_data();
    void modeAtStart();
    void language_data();
    void language();
    void autoHoldRelease_data();
    void autoHoldRelease();
    void notifications_data();
    void notifications();
    void actions_data();
    void actions();
    void menus();
    void routerPanel();
    void modeSwitch_data();
    void modeSwitch();
    void clientsTreeAlwaysOwned_data();
    void clientsTreeAlwaysOwned();
    void statusBarStartsEmpty();
    void configurationExport_data();
    void configurationExport();
};

void tst_MainWindow::firstStart()
{
    MainWindow window;
    QSettings store;
    QCOMPARE(store.value(QStringLiteral("AppMode")).toString(), QStringLiteral("basic"));
    QVERIFY(store.contains(QStringLiteral("AutoHoldRelease")));
    QCOMPARE(store.value(QStringLiteral("AutoHoldRelease")).toBool(), false);
    QVERIFY(!store.contains(QStringLiteral("ip")));

    QCOMPARE(window.windowTitle(), QStringLiteral("Pylon Router"));
    QCOMPARE(window.size(), QSize(600, 400));
    QCOMPARE(checkedMode(window), QStringLiteral("basicAction"));
    QVERIFY(child<QAction>(window, "langEnAction")->isChecked());
    QVERIFY(!child<QAction>(window, "langPlAction")->isChecked());
    QVERIFY(!child<QAction>(window, "autoHoldReleaseAction")->isChecked());
    QCOMPARE(tabTexts(window), QStringList({QStringLiteral("Router"), QStringLiteral("Log")}));
    QCOMPARE(child<QTabWidget>(window, "tabWidget")->tabPosition(), QTabWidget::East);
    QCOMPARE(window.centralWidget(), child<QTabWidget>(window, "tabWidget"));
    QVERIFY(child<QPushButton>(window, "sendConfigButton")->isHidden());
    QCOMPARE(child<QLabel>(window, "ipLabel")->text(), QStringLiteral("<h1></h1>"));
    QCOMPARE(child<QLabel>(window, "stateLabel")->text(), QStringLiteral("State: <b>Unknown</b>"));
    QVERIFY(!child<QPushButton>(window, "holdReleaseButton")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "vpnRestartButton")->isEnabled());
    QVERIFY(child<QPushButton>(window, "fwRestartButton")->isEnabled());
    QVERIFY(child<QPushButton>(window, "restartButton")->isEnabled());
    QVERIFY(!MainWindowTestAccess::statusTimer(window).isActive());
    QVERIFY(MainWindowTestAccess::initTimer(window));
    QVERIFY(MainWindowTestAccess::initTimer(window)->isActive());
    QCOMPARE(MainWindowTestAccess::initTimer(window)->interval(), 500);
}

void tst_MainWindow::secondStartKeepsSettings()
{
    {
        QSettings store;
        store.setValue(QStringLiteral("AppMode"), QStringLiteral("client"));
        store.setValue(QStringLiteral("AutoHoldRelease"), true);
        store.setValue(QStringLiteral("ip"), QStringLiteral("10.1.2.3"));
    }
    MainWindow window;
    QSettings store;
    QCOMPARE(store.value(QStringLiteral("AppMode")).toString(), QStringLiteral("client"));
    QCOMPARE(store.value(QStringLiteral("AutoHoldRelease")).toBool(), true);
    QCOMPARE(child<QLabel>(window, "ipLabel")->text(), QStringLiteral("<h1>10.1.2.3</h1>"));
}

void tst_MainWindow::modeAtStart_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("checked");
    QTest::addColumn<QStringList>("tabs");
    QTest::addColumn<bool>("sendConfigShown");
    QTest::addColumn<QString>("storedAfter");

    const QStringList two{QStringLiteral("Router"), QStringLiteral("Log")};
    const QStringList three{QStringLiteral("Router"), QStringLiteral("Log"), QStringLiteral("Status")};
    QTest::newRow("absent") << QVariant() << "basicAction" << two << false << "basic";
    QTest::newRow("basic") << QVariant(QStringLiteral("basic")) << "basicAction" << two << false << "basic";
    QTest::newRow("client") << QVariant(QStringLiteral("client")) << "clientAction" << two << true << "client";
    QTest::newRow("server") << QVariant(QStringLiteral("server")) << "serverAction" << three << false << "server";
    QTest::newRow("other word behaves as basic, stays stored")
        << QVariant(QStringLiteral("router")) << "basicAction" << two << false << "router";
    QTest::newRow("upper case is another word") << QVariant(QStringLiteral("SERVER")) << "basicAction" << two << false << "SERVER";
}

void tst_MainWindow::modeAtStart()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, checked);
    QFETCH(QStringList, tabs);
    QFETCH(bool, sendConfigShown);
    QFETCH(QString, storedAfter);

    if (stored.isValid())
        QSettings().setValue(QStringLiteral("AppMode"), stored);
    MainWindow window;
    QCOMPARE(checkedMode(window), checked);
    QCOMPARE(tabTexts(window), tabs);
    QCOMPARE(!child<QPushButton>(window, "sendConfigButton")->isHidden(), sendConfigShown);
    QCOMPARE(QSettings().value(QStringLiteral("AppMode")).toString(), storedAfter);
    if (tabs.size() == 3) {
        // The Status tab: the list under its filter and order.
        QWidget *page = child<QTabWidget>(window, "tabWidget")->widget(2);
        QCOMPARE(page, child<QWidget>(window, "clientsPage"));
        QCOMPARE(child<QTreeWidget>(window, "clientsTree")->parentWidget(), page);
    }
    QCOMPARE(child<QTreeWidget>(window, "clientsTree")->headerItem()->text(0), QStringLiteral("VPN Clients"));
    QCOMPARE(child<QTreeWidget>(window, "clientsTree")->columnCount(), 1);
}

void tst_MainWindow::language_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("polish");
    QTest::newRow("pl") << QVariant(QStringLiteral("pl")) << true;
    QTest::newRow("en") << QVariant(QStringLiteral("en")) << false;
    QTest::newRow("PL") << QVariant(QStringLiteral("PL")) << false;
    QTest::newRow("pl_PL") << QVariant(QStringLiteral("pl_PL")) << false;
    QTest::newRow("de") << QVariant(QStringLiteral("de")) << false;
    QTest::newRow("absent") << QVariant() << false;
}

void tst_MainWindow::language()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, polish);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("Language"), stored);
    MainWindow window;
    QCOMPARE(child<QAction>(window, "langPlAction")->isChecked(), polish);
    QCOMPARE(child<QAction>(window, "langEnAction")->isChecked(), !polish);
}

void tst_MainWindow::autoHoldRelease_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("checked");
    QTest::newRow("absent") << QVariant() << false;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("true") << QVariant(true) << true;
    QTest::newRow("text true") << QVariant(QStringLiteral("true")) << true;
}

void tst_MainWindow::autoHoldRelease()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, checked);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("AutoHoldRelease"), stored);
    MainWindow window;
    auto *action = child<QAction>(window, "autoHoldReleaseAction");
    QCOMPARE(action->isChecked(), checked);

    action->trigger();
    QCOMPARE(action->isChecked(), !checked);
    QCOMPARE(QSettings().value(QStringLiteral("AutoHoldRelease")).toBool(), !checked);
    action->trigger();
    QCOMPARE(QSettings().value(QStringLiteral("AutoHoldRelease")).toBool(), checked);
}

void tst_MainWindow::notifications_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("checked");
    QTest::newRow("absent means on") << QVariant() << true;
    QTest::newRow("false") << QVariant(false) << false;
    QTest::newRow("true") << QVariant(true) << true;
}

void tst_MainWindow::notifications()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, checked);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("Notifications"), stored);
    MainWindow window;
    auto *action = child<QAction>(window, "notificationsAction");
    QCOMPARE(action->isChecked(), checked);
    // Nothing is written before the user chooses.
    QCOMPARE(QSettings().contains(QStringLiteral("Notifications")), stored.isValid());

    action->trigger();
    QCOMPARE(QSettings().value(QStringLiteral("Notifications")).toBool(), !checked);
    action->trigger();
    QCOMPARE(QSettings().value(QStringLiteral("Notifications")).toBool(), checked);
}

void tst_MainWindow::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("hasIcon");

    QTest::newRow("basic") << "basicAction" << "&Basic" << QKeySequence() << true << false;
    QTest::newRow("client") << "clientAction" << "&Client" << QKeySequence() << true << false;
    QTest::newRow("server") << "serverAction" << "&Server" << QKeySequence() << true << false;
    QTest::newRow("extract") << "extractConfAction" << "&Extract config" << QKeySequence() << false << false;
    QTest::newRow("english") << "langEnAction" << "&English" << QKeySequence() << true << false;
    QTest::newRow("polish") << "langPlAction" << "&Polish" << QKeySequence() << true << false;
    QTest::newRow("exit") << "exitAction" << "E&xit" << QKeySequence(QStringLiteral("Ctrl+Q")) << false << true;
    QTest::newRow("ip") << "setIpAddressAction" << "Set &IP address" << QKeySequence() << false << false;
    QTest::newRow("ftp") << "setFtpPassAction" << "Set FTP &password" << QKeySequence() << false << false;
    QTest::newRow("hold") << "autoHoldReleaseAction" << "&Automatic hold-release" << QKeySequence() << true << false;
    QTest::newRow("help") << "helpAction" << "&Help" << QKeySequence(QStringLiteral("Ctrl+H")) << false << true;
    QTest::newRow("about") << "aboutAction" << "&About" << QKeySequence() << false << true;
    QTest::newRow("reconnect") << "reconnectAction" << "Reconnect OpenVPN" << QKeySequence() << false << false;
    QTest::newRow("notifications") << "notificationsAction" << "&Notifications" << QKeySequence() << true << false;
    QTest::newRow("save log") << "saveLogAction" << "&Save log…" << QKeySequence(QStringLiteral("Ctrl+S")) << false << false;
    QTest::newRow("find") << "findAction" << "Find" << QKeySequence(QStringLiteral("Ctrl+F")) << false << false;
}

void tst_MainWindow::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);
    QFETCH(bool, checkable);
    QFETCH(bool, hasIcon);

    MainWindow window;
    auto *action = window.findChild<QAction *>(name);
    QVERIFY(action);
    QCOMPARE(action->parent(), &window);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), shortcut);
    QCOMPARE(action->isCheckable(), checkable);
    if (!hasIcon)
        QVERIFY(action->icon().isNull());
    else if (QFile::exists(QStringLiteral(":img/exit.png")))
        QVERIFY(!action->icon().pixmap(32).isNull());
    else
        QVERIFY(!action->icon().isNull());
}

void tst_MainWindow::menus()
{
    MainWindow window;
    QStringList tree;
    for (QAction *action : window.menuBar()->actions())
        tree += menuTree(action->menu(), action->text());
    const QStringList expected{
        QStringLiteral("&General/&Mode/&Basic"),
        QStringLiteral("&General/&Mode/&Client"),
        QStringLiteral("&General/&Mode/&Server"),
        QStringLiteral("&General/&Language/&English"),
        QStringLiteral("&General/&Language/&Polish"),
        QStringLiteral("&General/&Notifications"),
        QStringLiteral("&General/-"),
        QStringLiteral("&General/&Save log…"),
        QStringLiteral("&General/-"),
        QStringLiteral("&General/E&xit"),
        QStringLiteral("&Router/Set &IP address"),
        QStringLiteral("&Router/Set FTP &password"),
        QStringLiteral("&Router/&Automatic hold-release"),
        QStringLiteral("&Tools/&Extract config"),
        QStringLiteral("&Help/&Help"),
        QStringLiteral("&Help/-"),
        QStringLiteral("&Help/&About"),
    };
    QCOMPARE(tree, expected);

    // Exclusive groups: checking one entry unchecks the other.
    child<QAction>(window, "langPlAction")->trigger();
    QVERIFY(!child<QAction>(window, "langEnAction")->isChecked());
    child<QAction>(window, "serverAction")->trigger();
    QCOMPARE(checkedMode(window), QStringLiteral("serverAction"));
}

void tst_MainWindow::routerPanel()
{
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("client"));
    MainWindow window;
    auto *panel = child<QWidget>(window, "routerPanel");
    QCOMPARE(child<QTabWidget>(window, "tabWidget")->widget(0), panel);
    auto *grid = qobject_cast<QGridLayout *>(panel->layout());
    QVERIFY(grid);

    struct Cell { const char *name; int row, column, rowSpan, columnSpan; const char *text; };
    const Cell cells[] = {
        {"logoLabel", 0, 0, 1, 3, nullptr},
        {"ipLabel", 2, 0, 1, 3, nullptr},
        {"stateLabel", 3, 0, 1, 3, nullptr},
        {"holdReleaseButton", 5, 1, 2, 1, "Hold release"},
        {"vpnRestartButton", 7, 1, 1, 1, "Vpn restart"},
        {"fwRestartButton", 8, 1, 1, 1, "Firewall restart"},
        {"restartButton", 9, 1, 1, 1, "Router restart"},
        {"sendConfigButton", 10, 1, 1, 1, "Send configuration"},
    };
    for (const Cell &cell : cells) {
        auto *widget = child<QWidget>(*panel, cell.name);
        QVERIFY2(widget, cell.name);
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(grid->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({cell.row, cell.column, cell.rowSpan, cell.columnSpan}));
        if (cell.text)
            QCOMPARE(qobject_cast<QPushButton *>(widget)->text(), QLatin1String(cell.text));
    }
    for (int row = 0; row < grid->rowCount(); ++row)
        QCOMPARE(grid->rowStretch(row), row == 1 || row == 4 ? 1 : row == 11 ? 4 : 0);
    QVERIFY(child<QLabel>(*panel, "logoLabel")->alignment() & Qt::AlignRight);
    QCOMPARE(child<QLabel>(*panel, "ipLabel")->alignment(), Qt::AlignCenter);
    QCOMPARE(child<QLabel>(*panel, "stateLabel")->alignment(), Qt::AlignCenter);
}

void tst_MainWindow::modeSwitch_data()
{
    QTest::addColumn<QString>("start");
    // The mode actions triggered one after another.
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("server, client, server") << "server" << QStringList{"clientAction", "serverAction"};
    QTest::newRow("client, server, client") << "client" << QStringList{"serverAction", "clientAction"};
    QTest::newRow("server chosen again") << "server" << QStringList{"serverAction", "serverAction"};
    QTest::newRow("basic, server, basic") << "basic" << QStringList{"serverAction", "basicAction", "serverAction"};
    QTest::newRow("basic chosen again") << "basic" << QStringList{"basicAction", "clientAction", "clientAction"};
    QTest::newRow("every pair") << "basic"
                                << QStringList{"clientAction", "basicAction", "serverAction", "clientAction",
                                               "serverAction", "basicAction", "basicAction"};
}

void tst_MainWindow::modeSwitch()
{
    QFETCH(QString, start);
    QFETCH(QStringList, steps);

    QSettings().setValue(QStringLiteral("AppMode"), start);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *tabs = child<QTabWidget>(window, "tabWidget");
    auto *tree = child<QTreeWidget>(window, "clientsTree");
    auto *page = child<QWidget>(window, "clientsPage");
    auto *sendConfig = child<QPushButton>(window, "sendConfigButton");

    for (const QString &step : steps) {
        child<QAction>(window, step.toLatin1().constData())->trigger();
        const QString mode = step.chopped(int(qstrlen("Action")));
        QCOMPARE(QSettings().value(QStringLiteral("AppMode")).toString(), mode);
        QCOMPARE(checkedMode(window), step);
        const bool server = mode == QLatin1String("server");
        QCOMPARE(tabs->count(), server ? 3 : 2);
        QCOMPARE(tabTexts(window).count(QStringLiteral("Status")), server ? 1 : 0);
        QCOMPARE(tabs->indexOf(page), server ? 2 : -1);
        QCOMPARE(!sendConfig->isHidden(), mode == QLatin1String("client"));
        if (server) {
            tabs->setCurrentIndex(2);
            QVERIFY(tree->isVisible());
        }
    }
}

void tst_MainWindow::clientsTreeAlwaysOwned_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("step");
    QTest::newRow("basic from the start") << "basic" << QString();
    QTest::newRow("client from the start") << "client" << QString();
    QTest::newRow("server then basic") << "server" << "basicAction";
    QTest::newRow("basic then server") << "basic" << "serverAction";
}

void tst_MainWindow::clientsTreeAlwaysOwned()
{
    QFETCH(QString, mode);
    QFETCH(QString, step);
    QSettings().setValue(QStringLiteral("AppMode"), mode);
    QPointer<QTreeWidget> tree;
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (!step.isEmpty())
            child<QAction>(window, step.toLatin1().constData())->trigger();
        tree = child<QTreeWidget>(window, "clientsTree");
        QVERIFY(tree);
        // Out of the tabs the list is never drawn over the window.
        if (child<QTabWidget>(window, "tabWidget")->indexOf(child<QWidget>(window, "clientsPage")) < 0)
            QVERIFY(!tree->isVisible());
    }
    QVERIFY(tree.isNull());
}

void tst_MainWindow::statusBarStartsEmpty()
{
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    MainWindow window;
    auto *reconnect = child<QToolButton>(window, "reconnectButton");
    auto *update = child<QToolButton>(window, "updateButton");
    QVERIFY(reconnect->isHidden());
    QVERIFY(update->isHidden());
    QCOMPARE(layoutOccurrences(window.statusBar()->layout(), reconnect), 0);
    QCOMPARE(layoutOccurrences(window.statusBar()->layout(), update), 0);
    QVERIFY(window.statusBar()->currentMessage().isEmpty());

    QCOMPARE(reconnect->text(), QStringLiteral("Reconnect"));
    QCOMPARE(reconnect->toolTip(), QStringLiteral("Reconnect to the OpenVPN\nmanagement interface."));
    QCOMPARE(reconnect->defaultAction(), child<QAction>(window, "reconnectAction"));
    QVERIFY(reconnect->autoRaise());
    QCOMPARE(update->toolTip(), QStringLiteral("New version is avaliable. Click this\nicon to get more informations."));
    QCOMPARE(update->defaultAction(), child<UpdateAction>(window, "updateAction"));
    QVERIFY(update->autoRaise());
}

void tst_MainWindow::configurationExport_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("Tools > Extract config writes into a directory") << false;
    QTest::newRow("Send configuration uploads to the router") << true;
}

// The menu entry and the router panel's button both open an export; the first then asks
// for a directory, the second uploads.
void tst_MainWindow::configurationExport()
{
    QFETCH(bool, upload);
    QTemporaryDir work;
    const QString fileName = work.filePath(QStringLiteral("router.aes"));
    ConfigCipher cipher(QByteArray("<Config><File path=\"/a\" content=\"Yg==\"/></Config>"));
    cipher.setPassword(QStringLiteral("pw"));
    cipher.encrypt();
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(cipher.data.toBase64()) > 0);
    file.close();

    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("client"));
    MainWindow window;
    dialogs->answerText(fileName);
    dialogs->answerText(QStringLiteral("pw"));
    if (upload) {
        dialogs->answerExec([](QDialog *) { return int(QDialog::Rejected); });
        child<QPushButton>(window, "sendConfigButton")->click();
    } else {
        dialogs->cancel();
        child<QAction>(window, "extractConfAction")->trigger();
    }
    // The file and the password were asked for; the upload waits for the router password.
    QTRY_COMPARE(dialogs->calls.size(), 3);
    QCOMPARE(dialogs->calls.last().kind, upload ? ScriptedDialogs::Exec : ScriptedDialogs::Directory);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
