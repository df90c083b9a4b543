#include "app/startup.h"
#include "support/fakehttpserver.h"
#include "support/mainwindowtestaccess.h"
#include "support/testsettings.h"
#include "ui/mainwindow.h"
#include "update/aboutbox.h"
#include "update/updateaction.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <memory>

// The program started as a Polish user has it: "Language" = "pl", the start-up installing the
// catalogues from the resources, then the window with its menus, tabs and dialogs.
class tst_PolishStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void cataloguesAreInstalled();
    void menus_data();
    void menus();
    void actionsAndShortcuts();
    void routerTab();
    void aboutBox();
    void questionHasPolishButtons();
    void inputDialogHasPolishButtons();

private:
    // Runs check on the next modal dialog once it is on screen; check must close it.
    void whenModal(const std::function<void(QWidget *)> &check);
    QMenu *menu(const char *name) const { return window->findChild<QMenu *>(QLatin1String(name)); }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QLatin1String(name)); }

    std::unique_ptr<TestSettings> settings;
    std::unique_ptr<Startup> startup;
    std::unique_ptr<MainWindow> window;
    QString startDirectory;
    bool modalSeen = false;
};

void tst_PolishStartup::initTestCase()
{
    startDirectory = QDir::currentPath();
    settings = std::make_unique<TestSettings>();
    QSettings().setValue(QStringLiteral("Language"), QStringLiteral("pl"));
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    UpdateAction::setHostForTesting(QStringLiteral("127.0.0.1"));
    UpdateAction::setPortForTesting(FakeHttpServer::closedPort());

    startup = std::make_unique<Startup>(QCoreApplication::instance());
    // The stored choice wins over the system's language.
    startup->run(QStringLiteral("en_US"));
    window = std::make_unique<MainWindow>();
}

void tst_PolishStartup::cleanupTestCase()
{
    window.reset();
    if (startup) {
        for (const Startup::Translation &translation : startup->translations()) {
            QCoreApplication::removeTranslator(translation.translator);
            delete translation.translator;
        }
    }
    QDir::setCurrent(startDirectory);
}

void tst_PolishStartup::whenModal(const std::function<void(QWidget *)> &check)
{
    modalSeen = false;
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, check] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        modalSeen = true;
        check(modal);
    });
    poll->start(10);
}

void tst_PolishStartup::cataloguesAreInstalled()
{
    QCOMPARE(QSettings().value(QStringLiteral("Language")).toString(), QStringLiteral("pl"));
    const QList<Startup::Translation> translations = startup->translations();
    QCOMPARE(translations.size(), 4);
    QCOMPARE(translations.at(0).fileName, QStringLiteral(":translations/qt_pl.qm"));
    QVERIFY(translations.at(0).loaded);
    QCOMPARE(translations.at(1).fileName, QStringLiteral(":pylon_router_pl.qm"));
    QVERIFY(translations.at(1).loaded);
    QVERIFY(!translations.at(2).loaded);
    QVERIFY(!translations.at(3).loaded);
}

void tst_PolishStartup::menus_data()
{
    QTest::addColumn<QByteArray>("menuName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("General") << QByteArray("generalMenu") << "&Ogólne"
                             << QStringList({"&Tryb", "&Język", "&Powiadomienia", QString(), "&Zapisz dziennik…", QString(), "Za&kończ"});
    QTest::newRow("Mode") << QByteArray("modeMenu") << "&Tryb" << QStringList({"&Podstawowy", "&Klient", "&Serwer"});
    QTest::newRow("Language") << QByteArray("languageMenu") << "&Język" << QStringList({"&Angielski", "&Polski"});
    QTest::newRow("Router") << QByteArray("routerMenu") << "&Router"
                            << QStringList({"Ustaw adres &IP", "Ustaw &hasło FTP", "&Automatyczne zwalnianie wstrzymania"});
    QTest::newRow("Tools") << QByteArray("toolsMenu") << "&Narzędzia" << QStringList({"&Rozpakuj konfigurację"});
    QTest::newRow("Help") << QByteArray("helpMenu") << "Pomo&c" << QStringList({"Pomo&c", QString(), "&O programie"});
}

void tst_PolishStartup::menus()
{
    QFETCH(QByteArray, menuName);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);

    QMenu *shown = menu(menuName.constData());
    QVERIFY(shown);
    QCOMPARE(shown->title(), title);
    QStringList texts;
    for (const QAction *entry : shown->actions())
        texts.append(entry->isSeparator() ? QString() : entry->text());
    QCOMPARE(texts, entries);
}

void tst_PolishStartup::actionsAndShortcuts()
{
    // The shortcuts go through the catalogue too and still work.
    QCOMPARE(action("exitAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QCOMPARE(action("helpAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    QCOMPARE(action("saveLogAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(action("findAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    QVERIFY(action("langPlAction")->isChecked());
    QVERIFY(!action("langEnAction")->isChecked());
    QCOMPARE(action("updateAction")->text(), QStringLiteral("Aktualizacja"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Pylon Router"));
}

void tst_PolishStartup::routerTab()
{
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("Router"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Dziennik"));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("stateLabel"))->text(),
             QStringLiteral("Stan: <b>Nieznany</b>"));
    const auto text = [this](const char *name) {
        return window->findChild<QPushButton *>(QLatin1String(name))->text();
    };
    QCOMPARE(text("holdReleaseButton"), QStringLiteral("Zwolnij wstrzymanie"));
    QCOMPARE(text("vpnRestartButton"), QStringLiteral("Restart VPN"));
    QCOMPARE(text("fwRestartButton"), QStringLiteral("Restart zapory"));
    QCOMPARE(text("restartButton"), QStringLiteral("Restart routera"));
    QCOMPARE(text("sendConfigButton"), QStringLiteral("Wyślij konfigurację"));
}

void tst_PolishStartup::aboutBox()
{
    auto *box = window->findChild<AboutBox *>();
    QCOMPARE(box->windowTitle(), QStringLiteral("O programie"));
    auto *tabs = box->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("O programie"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Pomoc"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("Aktualizacje"));
    QCOMPARE(box->findChild<QLabel *>(QStringLiteral("updateText"))->text(), QStringLiteral("Brak nowej wersji."));
    const QString about = box->findChild<QLabel *>(QStringLiteral("aboutText"))->text();
    QVERIFY2(about.contains(QLatin1String("Pylon Router to panel sterowania")), qPrintable(about));
    QVERIFY(about.contains(QLatin1String("<a href=\"http://www.pylon-router.example/\">")));
}

void tst_PolishStartup::questionHasPolishButtons()
{
    QString title;
    QString yes;
    QString no;
    whenModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            modal->close();
            return;
        }
        title = box->windowTitle();
        yes = box->button(QMessageBox::Yes)->text();
        no = box->button(QMessageBox::No)->text();
        box->button(QMessageBox::No)->click();
    });
    // A management time-out asks whether to reconnect, through the standard message box.
    emit MainWindowTestAccess::management(*window).timeoutReached();
    QVERIFY(modalSeen);
    QCOMPARE(title, QStringLiteral("Przekroczono czas oczekiwania"));
    QCOMPARE(yes, QStringLiteral("&Tak"));
    QCOMPARE(no, QStringLiteral("&Nie"));
}

void tst_PolishStartup::inputDialogHasPolishButtons()
{
    QSettings().setValue(QStringLiteral("password"), QStringLiteral("kept"));
    QString title;
    QString label;
    QString ok;
    QString cancel;
    whenModal([&](QWidget *modal) {
        auto *buttons = modal->findChild<QDialogButtonBox *>();
        if (!buttons) {
            modal->close();
            return;
        }
        title = modal->windowTitle();
        label = modal->findChild<QLabel *>()->text();
        ok = buttons->button(QDialogButtonBox::Ok)->text();
        cancel = buttons->button(QDialogButtonBox::Cancel)->text();
        buttons->button(QDialogButtonBox::Cancel)->click();
    });
    action("setFtpPassAction")->trigger();
    QVERIFY(modalSeen);
    QCOMPARE(title, QStringLiteral("Hasło FTP routera"));
    QCOMPARE(label, QStringLiteral("Hasło FTP routera"));
    QCOMPARE(ok, QStringLiteral("OK"));
    QCOMPARE(cancel, QStringLiteral("Anuluj"));
    QCOMPARE(QSettings().value(QStringLiteral("password")).toString(), QStringLiteral("kept"));
}

QTEST_MAIN(tst_PolishStartup)
#include "tst_polishstartup.moc"
