#include "support/mainwindowfixture.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTranslator>

#include <memory>

namespace {

// What a menu entry or title is chosen by: its mnemonic letter, or "" when it has none.
QString mnemonicOf(const QAction *action)
{
    return QKeySequence::mnemonic(action->text()).toString(QKeySequence::PortableText).toLower();
}

// The collisions and the entries without a key in the menu bar and in every menu below it,
// as "menu: entry" texts.
void checkMenu(const QString &title, const QList<QAction *> &entries, QStringList &collisions, QStringList &keyless)
{
    QHash<QString, QString> taken;
    for (const QAction *entry : entries) {
        if (entry->isSeparator() || !entry->isVisible())
            continue;
        const QString key = mnemonicOf(entry);
        if (key.isEmpty() && entry->shortcut().isEmpty())
            keyless.append(title + QLatin1String(": ") + entry->text());
        if (!key.isEmpty() && taken.contains(key))
            collisions.append(title + QLatin1String(": ") + taken.value(key) + QLatin1String(" and ") + entry->text());
        taken.insert(key, entry->text());
        if (entry->menu())
            checkMenu(entry->text(), entry->menu()->actions(), collisions, keyless);
    }
}

} // namespace

// The window without a mouse: every menu entry has its key, in English and in Polish, no two
// entries of one menu share a mnemonic, and no two actions a shortcut.
class tst_MainWindowKeyboard : public MainWindowFixture
{
    Q_OBJECT

public:
    tst_MainWindowKeyboard() : MainWindowFixture(QStringLiteral("127.0.0.71")) {}

private slots:
    void cleanup() override;
    void menuKeys_data();
    void menuKeys();

private:
    std::vector<std::unique_ptr<QTranslator>> translators;
};

void tst_MainWindowKeyboard::cleanup()
{
    MainWindowFixture::cleanup();
    for (const std::unique_ptr<QTranslator> &translator : translators)
        QCoreApplication::removeTranslator(translator.get());
    translators.clear();
}

void tst_MainWindowKeyboard::menuKeys_data()
{
    QTest::addColumn<QStringList>("catalogues");
    QTest::newRow("English") << QStringList();
    // The catalogues start-up installs for Polish.
    QTest::newRow("Polish") << QStringList{QStringLiteral(":translations/qt_pl.qm"), QStringLiteral(":pylon_router_pl.qm")};
}

void tst_MainWindowKeyboard::menuKeys()
{
    QFETCH(QStringList, catalogues);
    for (const QString &catalogue : catalogues) {
        auto translator = std::make_unique<QTranslator>();
        QVERIFY2(translator->load(catalogue), qPrintable(catalogue));
        QCoreApplication::installTranslator(translator.get());
        translators.push_back(std::move(translator));
    }
    makeWindow();
    if (!catalogues.isEmpty())
        QCOMPARE(child<QMenu>(*window, "generalMenu")->title(), QStringLiteral("&Ogólne"));

    QStringList collisions;
    QStringList keyless;
    checkMenu(QStringLiteral("menu bar"), window->menuBar()->actions(), collisions, keyless);
    QVERIFY2(collisions.isEmpty(), qPrintable(collisions.join(QLatin1Char('\n'))));
    QVERIFY2(keyless.isEmpty(), qPrintable(keyless.join(QLatin1Char('\n'))));

    // A shortcut means one thing in the whole window.
    QHash<QKeySequence, QString> shortcuts;
    for (const QAction *action : window->findChildren<QAction *>()) {
        if (action->shortcut().isEmpty() || action->shortcutContext() != Qt::WindowShortcut)
            continue;
        QVERIFY2(!shortcuts.contains(action->shortcut()),
                 qPrintable(shortcuts.value(action->shortcut()) + QLatin1String(" and ") + action->objectName()));
        shortcuts.insert(action->shortcut(), action->objectName());
    }
}

QTEST_MAIN(tst_MainWindowKeyboard)
#include "tst_mainwindowkeyboard.moc"
