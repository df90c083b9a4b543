#include "support/fakehttpserver.h"
#include "support/mainwindowfixture.h"
#include "update/aboutbox.h"
#include "update/updateaction.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

namespace {

const QString updatesText = QStringLiteral("No new version avaliable.");

// What a rich-text label shows, without the markup.
QString shownText(const QLabel *label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

// The link targets of a rich-text label, in order.
QStringList linkTargets(const QLabel *label)
{
    QTextDocument document;
    document.setHtml(label->text());
    QStringList targets;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (format.isAnchor())
                targets.append(format.anchorHref());
        }
    }
    return targets;
}

} // namespace

// Stands in for the desktop's browser: QDesktopServices hands it every http link.
class BrowserStandIn : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

// No router: the first connection is never tried while the window stays hidden, and the
// address only keeps the address dialog away when a test shows the window.
class tst_MainWindowAbout : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_MainWindowAbout() : MainWindowFixture(QStringLiteral("127.0.0.1"), NoPeer) {}

private slots:
    void boxIsTheWindowsOwn();
    void threeTabsOnTheRight();
    void hiddenPagesLeaveTheTab_data();
    void hiddenPagesLeaveTheTab();
    void opensOnItsPage_data();
    void opensOnItsPage();
    void helpShowsTheHeadingOnly();
    void aboutTextNamesProgramAndPublisher();
    void noOfferBeforeTheAnswer();
    void offerShowsButtonAndText_data();
    void offerShowsButtonAndText();
    void linkReachedByKeyboard();
    void linkClickOpensTheBrowser();
    void languageChoice_data();
    void languageChoice();

private:
    void init() override;
    void cleanup() override;
    // Starts a window whose update query is answered with body; returns once the offer is in.
    bool offer(const QByteArray &body);
    AboutBox *box() const { return window->findChild<AboutBox *>(); }
    QTabWidget *tabs() const { return box()->findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
    QLabel *label(const char *name) const { return box()->findChild<QLabel *>(QLatin1String(name)); }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QLatin1String(name)); }
    QToolButton *updateButton() const { return window->findChild<QToolButton *>(QStringLiteral("updateButton")); }

    std::unique_ptr<FakeHttpServer> updateServer;
    BrowserStandIn browser;
};

void tst_MainWindowAbout::init()
{
    MainWindowFixture::init();
    browser.opened.clear();
    // Unless a test answers the query, it finds nobody.
    updateServer = std::make_unique<FakeHttpServer>();
}

void tst_MainWindowAbout::cleanup()
{
    MainWindowFixture::cleanup();
    updateServer.reset();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

bool tst_MainWindowAbout::offer(const QByteArray &body)
{
    updateServer->setHandler([body](const FakeHttpServer::Request &) {
        FakeHttpServer::Response response;
        response.body = body;
        return response;
    });
    UpdateAction::setPortForTesting(updateServer->port());
    makeWindow();
    QSignalSpy offered(window->findChild<UpdateAction *>(), &UpdateAction::updateAvaliable);
    return offered.wait(5000);
}

void tst_MainWindowAbout::boxIsTheWindowsOwn()
{
    makeWindow();
    QCOMPARE(window->findChildren<AboutBox *>().size(), 1);
    QCOMPARE(box()->parent(), window.get());
    QVERIFY(box()->isWindow());
    QVERIFY(box()->isHidden());
}

void tst_MainWindowAbout::threeTabsOnTheRight()
{
    makeWindow();
    QStringList titles;
    QStringList pages;
    for (int i = 0; i < tabs()->count(); ++i) {
        titles.append(tabs()->tabText(i));
        pages.append(tabs()->widget(i)->objectName());
    }
    QCOMPARE(titles, QStringList({"About", "Help", "Updates"}));
    QCOMPARE(pages, QStringList({"aboutPage", "helpPage", "updatePage"}));
    QCOMPARE(tabs()->tabPosition(), QTabWidget::East);
    QCOMPARE(box()->minimumHeight(), 500);

    // All three pages carry the about image.
    for (const char *logo : {"aboutLogo", "helpLogo", "updateLogo"}) {
        const QPixmap pixmap = label(logo)->pixmap();
        QVERIFY2(!pixmap.isNull(), logo);
        QCOMPARE(pixmap.size(), QSize(384, 166));
    }
}

void tst_MainWindowAbout::hiddenPagesLeaveTheTab_data()
{
    QTest::addColumn<QByteArray>("shownAction");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("license");

    QTest::newRow("license, box on About") << QByteArray("aboutAction") << "aboutPage" << true;
    QTest::newRow("thanks, box on About") << QByteArray("aboutAction") << "aboutPage" << false;
    QTest::newRow("license, box on Help") << QByteArray("helpAction") << "helpPage" << true;
    QTest::newRow("thanks, box on Updates") << QByteArray("updateAction") << "updatePage" << false;
}

void tst_MainWindowAbout::hiddenPagesLeaveTheTab()
{
    QFETCH(QByteArray, shownAction);
    QFETCH(QString, page);
    QFETCH(bool, license);

    makeWindow();
    action(shownAction.constData())->trigger();
    QCOMPARE(tabs()->currentWidget()->objectName(), page);
    if (license)
        box()->setActiveLicense();
    else
        box()->setActiveThanks();
    QCOMPARE(tabs()->currentWidget()->objectName(), page);
    QCOMPARE(tabs()->count(), 3);
}

void tst_MainWindowAbout::opensOnItsPage_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("opener");
    QTest::addColumn<QString>("page");

    QTest::newRow("Help menu after About") << QByteArray("aboutAction") << QByteArray("helpAction") << "helpPage";
    QTest::newRow("Help menu after the update button") << QByteArray("updateAction") << QByteArray("helpAction")
                                                       << "helpPage";
    QTest::newRow("About menu after Help") << QByteArray("helpAction") << QByteArray("aboutAction") << "aboutPage";
    QTest::newRow("update button after About") << QByteArray("aboutAction") << QByteArray("updateAction")
                                               << "updatePage";
}

void tst_MainWindowAbout::opensOnItsPage()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, opener);
    QFETCH(QString, page);

    makeWindow();
    action(before.constData())->trigger();

    QString pageWhileOpen;
    dialogs->answerExec([&](QDialog *dialog) {
        pageWhileOpen = dialog->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->currentWidget()->objectName();
        return int(QDialog::Accepted);
    });
    action(opener.constData())->trigger();

    QCOMPARE(dialogs->calls.size(), 2);
    const ScriptedDialogs::Call call = dialogs->calls.last();
    QCOMPARE(call.kind, ScriptedDialogs::Exec);
    QCOMPARE(call.dialogClass, QStringLiteral("AboutBox"));
    QCOMPARE(call.title, QStringLiteral("About"));
    QCOMPARE(pageWhileOpen, page);
}

void tst_MainWindowAbout::helpShowsTheHeadingOnly()
{
    makeWindow();
    QAction *help = action("helpAction");
    QCOMPARE(help->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    help->trigger();
    QCOMPARE(tabs()->currentWidget()->objectName(), QStringLiteral("helpPage"));
    QCOMPARE(shownText(label("helpText")).trimmed(), QStringLiteral("Pylon Router 2.4"));
    QVERIFY(linkTargets(label("helpText")).isEmpty());
}

void tst_MainWindowAbout::aboutTextNamesProgramAndPublisher()
{
    makeWindow();
    QLabel *text = label("aboutText");
    QCOMPARE(text->textFormat(), Qt::RichText);
    QVERIFY(text->openExternalLinks());
    const QString shown = shownText(text);
    QVERIFY2(shown.startsWith(QLatin1String("Pylon Router 2.4\n")), qPrintable(shown));
    // A few sentences on what the program does.
    QVERIFY2(shown.size() > 200, qPrintable(shown));
    QVERIFY(shown.contains(QLatin1String("OpenVPN")));

    const QStringList links = linkTargets(text);
    QVERIFY(!links.isEmpty());
    const QUrl publisher(links.first());
    QCOMPARE(publisher.scheme(), QStringLiteral("http"));
    QVERIFY2(publisher.host().endsWith(QLatin1String(".example")), qPrintable(links.first()));
    // The address is shown as well as linked.
    QVERIFY(shown.contains(links.first()));
}

void tst_MainWindowAbout::noOfferBeforeTheAnswer()
{
    makeWindow();
    dialogs->answerExec([&](QDialog *) { return int(QDialog::Accepted); });
    action("aboutAction")->trigger();
    QCOMPARE(dialogs->calls.size(), 1);
    QCOMPARE(label("updateText")->text(), updatesText);
    QVERIFY(updateButton()->isHidden());
    QVERIFY(window->statusBar()->findChildren<QToolButton *>().isEmpty());
}

void tst_MainWindowAbout::offerShowsButtonAndText_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("links");

    const QString heading = QStringLiteral("Version %1 is avaliable on the following website:\n\n%2");
    QTest::newRow("version, link text, link target")
        << QByteArray("2.5\nT\nhttp://www.pylon-router.example/download\n")
        << "Version 2.5 is avaliable on the following website:<br><br>"
           "<a href=\"http://www.pylon-router.example/download\">T</a>"
        << heading.arg("2.5", "T") << QStringList({"http://www.pylon-router.example/download"});
    QTest::newRow("lines ending in CR LF")
        << QByteArray("2.5\r\nT\r\nhttp://www.pylon-router.example/download\r\n")
        << "Version 2.5 is avaliable on the following website:<br><br>"
           "<a href=\"http://www.pylon-router.example/download\">T</a>"
        << heading.arg("2.5", "T") << QStringList({"http://www.pylon-router.example/download"});
    QTest::newRow("markup in the answer is shown, not obeyed")
        << QByteArray("<b>2.5</b>\n<img src=\"x.png\">Get it\nhttp://dl.example/?a=1&b=<2>\n")
        << "Version &lt;b&gt;2.5&lt;/b&gt; is avaliable on the following website:<br><br>"
           "<a href=\"http://dl.example/?a=1&amp;b=&lt;2&gt;\">&lt;img src=&quot;x.png&quot;&gt;Get it</a>"
        << heading.arg("<b>2.5</b>", "<img src=\"x.png\">Get it") << QStringList({"http://dl.example/?a=1&b=<2>"});
    QTest::newRow("a quote cannot leave the link target")
        << QByteArray("2.5\nT\nhttp://dl.example/\" onclick=\"x\n")
        << "Version 2.5 is avaliable on the following website:<br><br>"
           "<a href=\"http://dl.example/&quot; onclick=&quot;x\">T</a>"
        << heading.arg("2.5", "T") << QStringList({"http://dl.example/\" onclick=\"x"});
    QTest::newRow("place markers in the values stay as sent")
        << QByteArray("%2 %3\n%1\nhttp://dl.example/%41\n")
        << "Version %2 %3 is avaliable on the following website:<br><br><a href=\"http://dl.example/%41\">%1</a>"
        << heading.arg("%2 %3", "%1") << QStringList({"http://dl.example/%41"});
    QTest::newRow("a local file is not offered as a link")
        << QByteArray("2.5\nsetup\nfile:///usr/bin/xterm\n")
        << "Version 2.5 is avaliable on the following website:<br><br>setup"
        << heading.arg("2.5", "setup") << QStringList();
    QTest::newRow("a script is not offered as a link")
        << QByteArray("2.5\nsetup\njavascript:alert(1)\n")
        << "Version 2.5 is avaliable on the following website:<br><br>setup"
        << heading.arg("2.5", "setup") << QStringList();
}

void tst_MainWindowAbout::offerShowsButtonAndText()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QStringList, links);

    QVERIFY(offer(answer));
    QLabel *updateText = label("updateText");
    QCOMPARE(updateText->text(), text);
    QCOMPARE(shownText(updateText), shown);
    QStringList targets = linkTargets(updateText);
    targets.removeAll(QString());
    QCOMPARE(targets, links);

    QToolButton *button = updateButton();
    QVERIFY(!button->isHidden());
    QCOMPARE(button->parentWidget(), window->statusBar());
    QCOMPARE(button->defaultAction(), window->findChild<UpdateAction *>());
    QCOMPARE(window->statusBar()->findChildren<QToolButton *>(), QList<QToolButton *>({button}));

    // Opened from the button, the box shows the offer.
    QString pageWhileOpen;
    dialogs->answerExec([&](QDialog *dialog) {
        pageWhileOpen = dialog->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->currentWidget()->objectName();
        return int(QDialog::Accepted);
    });
    button->click();
    QCOMPARE(pageWhileOpen, QStringLiteral("updatePage"));
    QCOMPARE(updateText->text(), text);
}

// Tab goes to the offer's link and Enter follows it, without a mouse.
void tst_MainWindowAbout::linkReachedByKeyboard()
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "openUrl");
    QVERIFY(offer("2.5\nDownload Pylon Router 2.5\nhttp://www.pylon-router.example/get?v=2.5\n"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QStringList focused;
    dialogs->answerExec([&](QDialog *dialog) {
        dialog->show();
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog))
            return int(QDialog::Rejected);
        auto *updateText = dialog->findChild<QLabel *>(QStringLiteral("updateText"));
        // Past the tabs and the OK button, round to the page's text and on to its link.
        for (int step = 0; step < 8 && !(dialog->focusWidget() == updateText && updateText->hasSelectedText()); ++step) {
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Tab);
            focused.append(dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString());
        }
        QTest::keyClick(updateText, Qt::Key_Return);
        dialog->hide();
        return int(QDialog::Accepted);
    });
    updateButton()->click();
    QVERIFY2(focused.contains(QLatin1String("updateText")), qPrintable(focused.join(QLatin1Char(' '))));
    QTRY_COMPARE(browser.opened.size(), 1);
    QCOMPARE(browser.opened.first(), QUrl(QStringLiteral("http://www.pylon-router.example/get?v=2.5")));
}

void tst_MainWindowAbout::linkClickOpensTheBrowser()
{
    // Taken off again by cleanup().
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "openUrl");
    QVERIFY(offer("2.5\nDownload Pylon Router 2.5\nhttp://www.pylon-router.example/get?v=2.5&os=linux\n"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    bool hovered = false;
    dialogs->answerExec([&](QDialog *dialog) {
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog))
            return int(QDialog::Rejected);
        QLabel *updateText = dialog->findChild<QLabel *>(QStringLiteral("updateText"));
        // The label tells when the pointer is over its link; sweep it until it does.
        // Moves and clicks go through the window, as the windowing system delivers them.
        QWindow *handle = dialog->windowHandle();
        QSignalSpy hover(updateText, &QLabel::linkHovered);
        for (int y = 2; y < updateText->height() && !hovered; y += 3) {
            for (int x = 2; x < updateText->width() && !hovered; x += 6) {
                const QPoint point = updateText->mapTo(dialog, QPoint(x, y));
                QTest::mouseMove(handle, point);
                if (!hover.isEmpty() && !hover.last().first().toString().isEmpty()) {
                    hovered = true;
                    QTest::mouseClick(handle, Qt::LeftButton, Qt::NoModifier, point);
                }
            }
        }
        dialog->hide();
        return int(QDialog::Accepted);
    });
    updateButton()->click();
    QVERIFY(hovered);
    QTRY_COMPARE(browser.opened.size(), 1);
    QCOMPARE(browser.opened.first(), QUrl(QStringLiteral("http://www.pylon-router.example/get?v=2.5&os=linux")));
}

void tst_MainWindowAbout::languageChoice_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QByteArray>("chosen");
    QTest::addColumn<QString>("code");

    QTest::newRow("Polish, English in use") << QVariant(QStringLiteral("en")) << QByteArray("langPlAction") << "pl";
    QTest::newRow("English, Polish in use") << QVariant(QStringLiteral("pl")) << QByteArray("langEnAction") << "en";
    QTest::newRow("Polish again") << QVariant(QStringLiteral("pl")) << QByteArray("langPlAction") << "pl";
    QTest::newRow("English again") << QVariant(QStringLiteral("en")) << QByteArray("langEnAction") << "en";
    QTest::newRow("English, another language stored") << QVariant(QStringLiteral("de")) << QByteArray("langEnAction")
                                                       << "en";
    QTest::newRow("Polish, nothing stored") << QVariant() << QByteArray("langPlAction") << "pl";
}

void tst_MainWindowAbout::languageChoice()
{
    QFETCH(QVariant, stored);
    QFETCH(QByteArray, chosen);
    QFETCH(QString, code);

    if (stored.isValid())
        QSettings().setValue(QStringLiteral("Language"), stored);
    makeWindow();
    const QString menuBefore = action("exitAction")->text();

    QString storedAtNotice;
    dialogs->onCall = [&](const ScriptedDialogs::Call &) {
        storedAtNotice = QSettings().value(QStringLiteral("Language")).toString();
    };
    action(chosen.constData())->trigger();

    QCOMPARE(QSettings().value(QStringLiteral("Language")).toString(), code);
    QCOMPARE(storedAtNotice, code);
    QCOMPARE(dialogs->calls.size(), 1);
    const ScriptedDialogs::Call call = dialogs->calls.first();
    QCOMPARE(call.kind, ScriptedDialogs::Message);
    QCOMPARE(call.icon, QMessageBox::Information);
    QCOMPARE(call.title, QStringLiteral("Information"));
    QCOMPARE(call.text, QStringLiteral("Application language was changed. Please restart application to apply changes."));
    QCOMPARE(call.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Nothing else changes before the next start.
    QCOMPARE(action("exitAction")->text(), menuBefore);
    QVERIFY(action(chosen.constData())->isChecked());
}

QTEST_MAIN(tst_MainWindowAbout)
#include "tst_mainwindowabout.moc"
