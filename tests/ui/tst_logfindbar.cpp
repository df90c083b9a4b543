#include "ui/logfindbar.h"

#include "ui/terminallogwriter.h"
#include "ui/textterminal.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

// Every tenth line holds the word searched for; each line says its number.
QString logLine(int i)
{
    return QStringLiteral("1262304000,I,line %1%2\r\n").arg(i).arg(i % 10 == 5 ? QStringLiteral(" Needle") : QString());
}

enum Key { Enter, ShiftEnter, F3, ShiftF3, F3InTheLog, ShiftF3InTheLog, NextButton, PreviousButton };

} // namespace

class tst_LogFindBar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void searchAsYouType();
    void keys_data();
    void keys();
    void noMatch();
    void closing_data();
    void closing();
    void newLinesKeepTheMatch();
    void currentMatchTrimmed();

private:
    void write(int from, int count);
    void search(const QString &text);
    // The lines of the matches that are highlighted, the current one marked with a "*".
    QStringList highlighted() const;
    // The lines of the matches that are in view, the current one marked with a "*".
    QStringList inView() const;
    QString countText() const { return bar->findChild<QLabel *>(QStringLiteral("findCountLabel"))->text(); }
    QLineEdit *field() const { return bar->findChild<QLineEdit *>(QStringLiteral("findField")); }
    QString lineOf(const QTextCursor &cursor) const { return cursor.block().text().section(QLatin1Char(' '), 2, 3); }

    std::unique_ptr<QWidget> page;
    TextTerminal *terminal = nullptr;
    TerminalLogWriter *writer = nullptr;
    LogFindBar *bar = nullptr;
};

void tst_LogFindBar::init()
{
    page = std::make_unique<QWidget>();
    terminal = new TextTerminal;
    bar = new LogFindBar(terminal);
    writer = new TerminalLogWriter(terminal, 200, page.get());
    auto *layout = new QVBoxLayout(page.get());
    layout->addWidget(terminal);
    layout->addWidget(bar);
    page->resize(500, 300);
    page->show();
    page->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(page.get()));
    write(0, 150);
}

void tst_LogFindBar::cleanup()
{
    page.reset();
}

void tst_LogFindBar::write(int from, int count)
{
    for (int i = from; i < from + count; ++i)
        writer->append(logLine(i));
    writer->flush();
}

void tst_LogFindBar::search(const QString &text)
{
    bar->open();
    QVERIFY(field()->hasFocus());
    QTest::keyClicks(field(), text);
}

QStringList tst_LogFindBar::highlighted() const
{
    QStringList lines;
    const QList<QTextEdit::ExtraSelection> selections = terminal->extraSelections();
    for (const QTextEdit::ExtraSelection &selection : selections) {
        const bool current = selection.cursor.selectionStart() == bar->matches().current().selectionStart();
        lines.append(lineOf(selection.cursor) + (current ? QStringLiteral("*") : QString()));
        if (current != (selection.format.background().color() == QColor(255, 140, 0)))
            lines.append(QStringLiteral("(wrong colour)"));
    }
    return lines;
}

QStringList tst_LogFindBar::inView() const
{
    QStringList lines;
    const QTextCursor current = bar->matches().current();
    for (const int start : bar->matches().startsIn(0, terminal->document()->characterCount())) {
        QTextCursor match(terminal->document());
        match.setPosition(start);
        const QRect rect = terminal->cursorRect(match);
        if (rect.bottom() < 0 || rect.top() >= terminal->viewport()->height())
            continue;
        match.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, bar->matches().matchLength());
        lines.append(lineOf(match) + (start == current.selectionStart() ? QStringLiteral("*") : QString()));
    }
    return lines;
}

void tst_LogFindBar::searchAsYouType()
{
    QVERIFY(bar->isHidden());
    search(QStringLiteral("neeDL"));
    QCOMPARE(bar->matches().count(), 15);
    // The view followed the end: the first match in view became current, and the view stayed
    // where it was, following.
    QCOMPARE(terminal->verticalScrollBar()->value(), terminal->verticalScrollBar()->maximum());
    const QStringList shown = inView();
    QVERIFY2(shown.size() > 1 && shown.size() < 15 && shown.last() == QLatin1String("line 145"),
             qPrintable(shown.join(u',')));
    QVERIFY2(shown.first().endsWith(u'*'), qPrintable(shown.join(u',')));
    QCOMPARE(countText(), QStringLiteral("%1 of 15").arg(16 - shown.size()));
    QTRY_COMPARE(highlighted(), shown);
}

void tst_LogFindBar::keys_data()
{
    QTest::addColumn<Key>("key");
    QTest::addColumn<int>("step");
    QTest::newRow("Enter") << Enter << 1;
    QTest::newRow("Shift+Enter") << ShiftEnter << -1;
    QTest::newRow("F3") << F3 << 1;
    QTest::newRow("Shift+F3") << ShiftF3 << -1;
    QTest::newRow("F3 in the log view") << F3InTheLog << 1;
    QTest::newRow("Shift+F3 in the log view") << ShiftF3InTheLog << -1;
    QTest::newRow("Next") << NextButton << 1;
    QTest::newRow("Previous") << PreviousButton << -1;
}

void tst_LogFindBar::keys()
{
    QFETCH(Key, key);
    QFETCH(int, step);

    search(QStringLiteral("needle"));
    // From the middle, so that both ways lead out of view.
    while (bar->matches().currentNumber() > 8)
        QTest::keyClick(field(), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(bar->matches().currentNumber(), 8);
    if (key == F3InTheLog || key == ShiftF3InTheLog)
        terminal->setFocus();

    for (int i = 1; i <= 3; ++i) {
        switch (key) {
        case Enter: QTest::keyClick(field(), Qt::Key_Return); break;
        case ShiftEnter: QTest::keyClick(field(), Qt::Key_Enter, Qt::ShiftModifier); break;
        case F3: QTest::keyClick(field(), Qt::Key_F3); break;
        case ShiftF3: QTest::keyClick(field(), Qt::Key_F3, Qt::ShiftModifier); break;
        case F3InTheLog: QTest::keyClick(terminal, Qt::Key_F3); break;
        case ShiftF3InTheLog: QTest::keyClick(terminal, Qt::Key_F3, Qt::ShiftModifier); break;
        case NextButton: bar->findChild<QPushButton *>(QStringLiteral("findNextButton"))->click(); break;
        case PreviousButton: bar->findChild<QPushButton *>(QStringLiteral("findPreviousButton"))->click(); break;
        }
        const int number = 8 + i * step;
        QCOMPARE(bar->matches().currentNumber(), number);
        QCOMPARE(countText(), QStringLiteral("%1 of 15").arg(number));
        QCOMPARE(lineOf(bar->matches().current()), QStringLiteral("line %1").arg(number * 10 - 5));
        QVERIFY(inView().contains(QStringLiteral("line %1*").arg(number * 10 - 5)));
        QTRY_COMPARE(highlighted(), inView());
    }
    // Away from the end, new lines leave the view where it is.
    QVERIFY(terminal->verticalScrollBar()->value() < terminal->verticalScrollBar()->maximum());
}

void tst_LogFindBar::noMatch()
{
    search(QStringLiteral("AUTH_FAILED"));
    QCOMPARE(countText(), QStringLiteral("No match"));
    QVERIFY(!bar->findChild<QPushButton *>(QStringLiteral("findNextButton"))->isEnabled());
    QTest::keyClick(field(), Qt::Key_Return);
    QVERIFY(bar->matches().current().isNull());
    QCOMPARE(terminal->verticalScrollBar()->value(), terminal->verticalScrollBar()->maximum());

    // A match that comes later is found.
    writer->append(QStringLiteral("1262304000,F,AUTH_FAILED\r\n"));
    writer->flush();
    QCOMPARE(countText(), QStringLiteral("1 of 1"));
}

void tst_LogFindBar::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc in the field") << "field";
    QTest::newRow("Esc in the log view") << "log";
    QTest::newRow("close button") << "button";
}

void tst_LogFindBar::closing()
{
    QFETCH(QString, how);
    search(QStringLiteral("needle"));
    QTRY_VERIFY(!terminal->extraSelections().isEmpty());
    if (how == QLatin1String("field")) {
        QTest::keyClick(field(), Qt::Key_Escape);
    } else if (how == QLatin1String("log")) {
        terminal->setFocus();
        QTest::keyClick(terminal, Qt::Key_Escape);
    } else {
        bar->findChild<QToolButton *>(QStringLiteral("findCloseButton"))->click();
    }
    QVERIFY(bar->isHidden());
    QVERIFY(terminal->hasFocus());
    QTRY_VERIFY(terminal->extraSelections().isEmpty());
    QCOMPARE(bar->matches().count(), 0);

    // Closed, the keys are the log view's again and the text is kept for the next time.
    QTest::keyClick(terminal, Qt::Key_F3);
    QVERIFY(bar->matches().current().isNull());
    bar->open();
    QCOMPARE(field()->selectedText(), QStringLiteral("needle"));
    QCOMPARE(bar->matches().count(), 15);
}

void tst_LogFindBar::newLinesKeepTheMatch()
{
    search(QStringLiteral("needle"));
    while (bar->matches().currentNumber() > 10)
        QTest::keyClick(field(), Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(lineOf(bar->matches().current()), QStringLiteral("line 95"));
    QScrollBar *scrollBar = terminal->verticalScrollBar();
    const int position = scrollBar->value();
    const QStringList shown = inView();

    write(150, 40);
    QCOMPARE(lineOf(bar->matches().current()), QStringLiteral("line 95"));
    QCOMPARE(countText(), QStringLiteral("10 of 19"));
    QCOMPARE(scrollBar->value(), position);
    QCOMPARE(inView(), shown);
    QTRY_COMPARE(highlighted(), shown);
}

// The writer keeps 200 to 250 lines: the oldest go in chunks, the current match with them.
void tst_LogFindBar::currentMatchTrimmed()
{
    search(QStringLiteral("needle"));
    while (bar->matches().currentNumber() != 1)
        QTest::keyClick(field(), Qt::Key_Return);
    QCOMPARE(lineOf(bar->matches().current()), QStringLiteral("line 5"));

    write(150, 101);
    QVERIFY(terminal->document()->firstBlock().text().endsWith(QLatin1String("] line 51")));
    QCOMPARE(lineOf(bar->matches().current()), QStringLiteral("line 55"));
    QCOMPARE(countText(), QStringLiteral("1 of 20"));
    QVERIFY(inView().contains(QStringLiteral("line 55*")));
    QTRY_COMPARE(highlighted(), inView());
}

QTEST_MAIN(tst_LogFindBar)
#include "tst_logfindbar.moc"
