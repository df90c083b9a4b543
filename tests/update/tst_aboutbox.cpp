#include "update/aboutbox.h"

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

class tst_AboutBox : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void setTabs_data();
    void setTabs();
    void setActive_data();
    void setActive();
    void hiddenPagesKeepTheirContent();
    void textLabels_data();
    void textLabels();
    void okAccepts();
    void textFollowsTheImage();

private:
    static QTabWidget *tabs(AboutBox &box) { return box.findChild<QTabWidget *>(QStringLiteral("tabWidget")); }
    static QStringList titles(AboutBox &box);
    static QStringList pageNames(AboutBox &box);
};

QStringList tst_AboutBox::titles(AboutBox &box)
{
    QStringList result;
    for (int i = 0; i < tabs(box)->count(); ++i)
        result.append(tabs(box)->tabText(i));
    return result;
}

QStringList tst_AboutBox::pageNames(AboutBox &box)
{
    QStringList result;
    for (int i = 0; i < tabs(box)->count(); ++i)
        result.append(tabs(box)->widget(i)->objectName());
    return result;
}

void tst_AboutBox::construction()
{
    AboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QVERIFY(tabs(box));
    QCOMPARE(tabs(box)->tabPosition(), QTabWidget::East);
    QCOMPARE(titles(box), QStringList({"About", "Help", "License", "Thanks", "Updates"}));
    QCOMPARE(box.minimumHeight(), 500);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QVERIFY(box.height() >= 500);

    auto *license = box.findChild<QTextEdit *>(QStringLiteral("licensePage"));
    QVERIFY(license);
    QCOMPARE(license->fontFamily(), QStringLiteral("Sans Serif"));
    QVERIFY(license->isReadOnly());

    auto *ok = box.findChild<QPushButton *>(QStringLiteral("okButton"));
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    // Below the tabs, at the right edge.
    QVERIFY(ok->geometry().top() >= tabs(box)->geometry().bottom());
    QVERIFY(ok->geometry().right() >= tabs(box)->geometry().right() - ok->width() / 2);
}

void tst_AboutBox::setTabs_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QStringList>("pages");

    QTest::newRow("all five, 31") << int(AboutBox::AboutTab | AboutBox::HelpTab | AboutBox::LicenseTab
                                         | AboutBox::ThanksTab | AboutBox::UpdatesTab)
                              << QStringList{"About", "Help", "License", "Thanks", "Updates"}
                              << QStringList{"aboutPage", "helpPage", "licensePage", "thanksPage", "updatePage"};
    QTest::newRow("main window's 19: about, help, updates")
        << 19 << QStringList{"About", "Help", "Updates"}
        << QStringList{"aboutPage", "helpPage", "updatePage"};
    QTest::newRow("flags given backwards still ordered")
        << int(AboutBox::UpdatesTab | AboutBox::ThanksTab | AboutBox::AboutTab)
        << QStringList{"About", "Thanks", "Updates"}
        << QStringList{"aboutPage", "thanksPage", "updatePage"};
    QTest::newRow("license only") << 4 << QStringList{"License"} << QStringList{"licensePage"};
    QTest::newRow("thanks only") << 8 << QStringList{"Thanks"} << QStringList{"thanksPage"};
    QTest::newRow("none") << 0 << QStringList() << QStringList();
    QTest::newRow("unknown bits ignored") << (32 | 64 | AboutBox::HelpTab)
                                          << QStringList{"Help"} << QStringList{"helpPage"};
}

void tst_AboutBox::setTabs()
{
    QFETCH(int, flags);
    QFETCH(QStringList, titles);
    QFETCH(QStringList, pages);

    AboutBox box;
    // From a different set first, so that removing works too.
    box.setTabs(AboutBox::LicenseTab | AboutBox::UpdatesTab);
    box.setTabs(flags);
    QCOMPARE(tst_AboutBox::titles(box), titles);
    QCOMPARE(pageNames(box), pages);
}

void tst_AboutBox::setActive_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("expectedPage");

    const int all = 31;
    // Each case starts on the Help tab.
    QTest::newRow("about, shown") << all << "setActiveAbout" << "aboutPage";
    QTest::newRow("license, shown") << all << "setActiveLicense" << "licensePage";
    QTest::newRow("thanks, shown") << all << "setActiveThanks" << "thanksPage";
    QTest::newRow("update, shown") << 19 << "setActiveUpdate" << "updatePage";
    QTest::newRow("license, hidden") << 19 << "setActiveLicense" << "helpPage";
    QTest::newRow("thanks, hidden") << 19 << "setActiveThanks" << "helpPage";
    QTest::newRow("about, hidden") << int(AboutBox::HelpTab | AboutBox::UpdatesTab)
                                   << "setActiveAbout" << "helpPage";
    QTest::newRow("update, hidden") << int(AboutBox::AboutTab | AboutBox::HelpTab)
                                    << "setActiveUpdate" << "helpPage";
}

void tst_AboutBox::setActive()
{
    QFETCH(int, flags);
    QFETCH(QString, slot);
    QFETCH(QString, expectedPage);

    AboutBox box;
    box.setTabs(flags);
    box.setActiveHelp();
    QCOMPARE(tabs(box)->currentWidget()->objectName(), QStringLiteral("helpPage"));

    // Called as the main window calls them: as slots.
    QVERIFY(QMetaObject::invokeMethod(&box, qPrintable(slot)));
    QCOMPARE(tabs(box)->currentWidget()->objectName(), expectedPage);
}

void tst_AboutBox::hiddenPagesKeepTheirContent()
{
    AboutBox box;
    const QString html = QStringLiteral("<p>Permission is granted</p>");
    box.setLicenseHtml(html);
    box.setThanksText(QStringLiteral("To the testers"));
    QPointer<QWidget> license = box.findChild<QTextEdit *>(QStringLiteral("licensePage"));
    QPointer<QWidget> thanks = box.findChild<QWidget *>(QStringLiteral("thanksPage"));

    box.setTabs(19);
    // Set while hidden, then shown again.
    box.setThanksPixmap(QPixmap(QStringLiteral(":img/info.png")));
    QVERIFY(license);
    QVERIFY(thanks);
    QVERIFY(box.isAncestorOf(license));
    QVERIFY(box.isAncestorOf(thanks));

    box.setTabs(31);
    QCOMPARE(tabs(box)->widget(2), license.data());
    QCOMPARE(tabs(box)->widget(3), thanks.data());
    QVERIFY(qobject_cast<QTextEdit *>(license)->toPlainText().contains(QStringLiteral("Permission is granted")));
    QCOMPARE(box.findChild<QLabel *>(QStringLiteral("thanksText"))->text(), QStringLiteral("To the testers"));
    QCOMPARE(box.findChild<QLabel *>(QStringLiteral("thanksLogo"))->pixmap().size(), QSize(32, 32));
}

void tst_AboutBox::textLabels_data()
{
    QTest::addColumn<QString>("page");

    QTest::newRow("about") << "about";
    QTest::newRow("help") << "help";
    QTest::newRow("thanks") << "thanks";
    QTest::newRow("update") << "update";
}

void tst_AboutBox::textLabels()
{
    QFETCH(QString, page);

    AboutBox box;
    const QString text = QStringLiteral("Version 2.5 is avaliable on the following website:<br><br>"
                                        "<a href=\"https://pylon-router.example/get\">get it</a>");
    const QPixmap pixmap(QStringLiteral(":img/pylon_about_router_384.png"));
    QVERIFY(!pixmap.isNull());

    if (page == QLatin1String("about")) {
        box.setAboutText(text);
        box.setAboutPixmap(pixmap);
    } else if (page == QLatin1String("help")) {
        box.setHelpText(text);
        box.setHelpPixmap(pixmap);
    } else if (page == QLatin1String("thanks")) {
        box.setThanksText(text);
        box.setThanksPixmap(pixmap);
    } else {
        box.setUpdateText(text);
        box.setUpdatePixmap(pixmap);
    }

    auto *label = box.findChild<QLabel *>(page + QLatin1String("Text"));
    auto *logo = box.findChild<QLabel *>(page + QLatin1String("Logo"));
    QVERIFY(label);
    QVERIFY(logo);
    QCOMPARE(label->text(), text);
    QCOMPARE(logo->pixmap().size(), QSize(384, 166));
    // The offer's link must open in the browser: rich text, external links on.
    QCOMPARE(label->textFormat(), Qt::RichText);
    QVERIFY(label->openExternalLinks());
    QVERIFY(label->wordWrap());
    // Image above the text on the same page.
    auto *pageWidget = box.findChild<QWidget *>(page + QLatin1String("Page"));
    QVERIFY(pageWidget->isAncestorOf(label));
    QVERIFY(pageWidget->isAncestorOf(logo));
    box.setTabs(31);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QString activate = QLatin1String("setActive") + page.at(0).toUpper() + page.mid(1);
    QVERIFY(QMetaObject::invokeMethod(&box, qPrintable(activate)));
    QVERIFY(logo->isVisible());
    QVERIFY(logo->geometry().bottom() < label->geometry().top());
}

void tst_AboutBox::okAccepts()
{
    AboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QSignalSpy accepted(&box, &QDialog::accepted);
    QTest::mouseClick(box.findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(box.result(), int(QDialog::Accepted));
    QVERIFY(!box.isVisible());
}

void tst_AboutBox::textFollowsTheImage()
{
    // A tall box with a short text: the room left over goes below the text, not between the
    // image and the text.
    AboutBox box;
    box.setTabs(AboutBox::HelpTab);
    box.setHelpPixmap(QPixmap(QSize(384, 166)));
    box.setHelpText(QStringLiteral("<h2>Pylon Router 2.4</h2>"));
    box.resize(460, 700);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto *logo = box.findChild<QLabel *>(QStringLiteral("helpLogo"));
    auto *text = box.findChild<QLabel *>(QStringLiteral("helpText"));
    const int gap = text->geometry().top() - logo->geometry().bottom();
    QVERIFY2(gap >= 0 && gap <= 20, qPrintable(QString::number(gap)));
    QCOMPARE(logo->height(), 166);
}

QTEST_MAIN(tst_AboutBox)
#include "tst_aboutbox.moc"
