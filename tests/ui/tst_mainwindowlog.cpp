#include "support/filesizelimit.h"
#include "support/mainwindowfixture.h"
#include "support/mainwindowtestaccess.h"
#include "support/testfiles.h"
#include "ui/logfindbar.h"
#include "ui/textterminal.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

enum Target { NewFile, ExistingFile, Cancelled, FolderIsAFile, DiskFull };

} // namespace

// The Log tab's additions: Ctrl+F for the find bar, and the log saved to a file.
class tst_MainWindowLog : public MainWindowFixture
{
    Q_OBJECT

private slots:
    void findKeyFollowsTheTab_data();
    void findKeyFollowsTheTab();
    void closedFindBarTakesNoRoom();
    void saveLog_data();
    void saveLog();

private:
    // Shows the window, active, without connecting anywhere.
    bool showQuietly();
    void writeLog(int lines);
};

bool tst_MainWindowLog::showQuietly()
{
    makeWindow();
    MainWindowTestAccess::initTimer(*window)->stop();
    if (!show())
        return false;
    window->activateWindow();
    return QTest::qWaitForWindowActive(window.get());
}

void tst_MainWindowLog::writeLog(int lines)
{
    OpenVpnManagement &management = MainWindowTestAccess::management(*window);
    for (int i = 0; i < lines; ++i)
        emit management.logMessage(QStringLiteral("1796673031,I,line %1: Zażółć gęślą jaźń\r\n").arg(i));
    QTRY_VERIFY(logText().contains(QStringLiteral("line %1:").arg(lines - 1)));
}

void tst_MainWindowLog::findKeyFollowsTheTab_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<bool>("opens");
    // Whether the key takes the focus to the client list's filter instead.
    QTest::addColumn<bool>("filters");
    QTest::newRow("Log") << "Log" << true << false;
    QTest::newRow("Router") << "Router" << false << false;
    QTest::newRow("Status") << "Status" << false << true;
}

void tst_MainWindowLog::findKeyFollowsTheTab()
{
    QFETCH(QString, tab);
    QFETCH(bool, opens);
    QFETCH(bool, filters);
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));
    QVERIFY(showQuietly());
    writeLog(5);
    auto *tabs = child<QTabWidget>(*window, "tabWidget");
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == tab)
            tabs->setCurrentIndex(i);
    }
    QCOMPARE(tabs->tabText(tabs->currentIndex()), tab);

    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    auto *bar = child<LogFindBar>(*window, "findBar");
    QCOMPARE(bar->isVisible(), opens);
    auto *filter = child<QLineEdit>(*window, "clientFilterField");
    QCOMPARE(filter->hasFocus(), filters);
    if (!opens)
        return;
    auto *field = child<QLineEdit>(*bar, "findField");
    QVERIFY(field->hasFocus());
    QTest::keyClicks(field, QStringLiteral("LINE 3"));
    QCOMPARE(bar->matches().count(), 1);
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(bar->isHidden());
}

// With the bar closed the log view fills the tab as before.
void tst_MainWindowLog::closedFindBarTakesNoRoom()
{
    QVERIFY(showQuietly());
    auto *tabs = child<QTabWidget>(*window, "tabWidget");
    tabs->setCurrentIndex(1);
    auto *terminal = child<TextTerminal>(*window, "terminal");
    QWidget *page = tabs->currentWidget();
    QTRY_COMPARE(terminal->geometry(), page->rect());
    child<LogFindBar>(*window, "findBar")->open();
    QTRY_VERIFY(terminal->height() < page->height());
}

void tst_MainWindowLog::saveLog_data()
{
    QTest::addColumn<Target>("target");
    QTest::newRow("new file, by Ctrl+S") << NewFile;
    QTest::newRow("existing file replaced whole") << ExistingFile;
    QTest::newRow("dialog cancelled") << Cancelled;
    QTest::newRow("folder that is a file") << FolderIsAFile;
    QTest::newRow("disk full while writing") << DiskFull;
}

void tst_MainWindowLog::saveLog()
{
    QFETCH(Target, target);
    QTemporaryDir start;
    QTemporaryDir work;
    QSettings().setValue(QStringLiteral("BrowseStartPath"), start.path());
    const QByteArray old(20000, 'o');
    QString fileName = work.filePath(QStringLiteral("saved.log"));
    if (target == ExistingFile || target == DiskFull)
        QVERIFY(writeFile(fileName, old));
    if (target == FolderIsAFile) {
        QVERIFY(writeFile(work.filePath(QStringLiteral("plain")), "plain"));
        fileName = work.filePath(QStringLiteral("plain/saved.log"));
    }

    QVERIFY(showQuietly());
    writeLog(100);
    const QByteArray expected = logText().toUtf8();
    QVERIFY(expected.startsWith("[26.12.07 21:50:31] line 0: Zażółć gęślą jaźń\n"));
    QVERIFY(expected.size() > 4096);

    if (target == Cancelled)
        dialogs->cancel();
    else
        dialogs->answerText(fileName);
    {
        std::optional<FileSizeLimit> limit;
        if (target == DiskFull)
            QVERIFY(limit.emplace(4096).isActive());
        if (target == NewFile)
            QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        else
            child<QAction>(*window, "saveLogAction")->trigger();
    }

    const QList<ScriptedDialogs::Call> asked = dialogs->callsOf(ScriptedDialogs::SaveFile);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.constFirst().title, QStringLiteral("Save log"));
    QCOMPARE(asked.constFirst().initialText, QDir(start.path()).filePath(QStringLiteral("openvpn.log")));
    QCOMPARE(asked.constFirst().filter, QStringLiteral("Log files (*.log *.txt);;All files (*)"));

    const QList<ScriptedDialogs::Call> errors = dialogs->callsOf(ScriptedDialogs::Message);
    const bool fails = target == FolderIsAFile || target == DiskFull;
    QCOMPARE(errors.size(), fails ? 1 : 0);
    if (fails) {
        QCOMPARE(errors.constFirst().icon, QMessageBox::Critical);
        QCOMPARE(errors.constFirst().title, QStringLiteral("Error"));
        QVERIFY2(errors.constFirst().text.startsWith(QStringLiteral("The log could not be saved to %1:\n").arg(fileName)),
                 qPrintable(errors.constFirst().text));
    }
    QByteArray after = expected;
    if (target == Cancelled || target == FolderIsAFile)
        after = "<missing>";
    else if (target == DiskFull)
        after = old;
    QCOMPARE(readFile(fileName), after);
    // Nothing left beside it.
    QCOMPARE(QDir(work.path()).entryList(QDir::Files | QDir::Hidden).size(),
             target == Cancelled ? 0 : 1);
    QCOMPARE(QSettings().value(QStringLiteral("BrowseStartPath")).toString(),
             target == Cancelled ? start.path() : QFileInfo(fileName).absolutePath());
}

QTEST_MAIN(tst_MainWindowLog)
#include "tst_mainwindowlog.moc"
