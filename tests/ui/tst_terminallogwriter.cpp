#include "ui/terminallogwriter.h"

#include "ui/textterminal.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <ctime>
#include <memory>

namespace {

QString line(int i, const char *flags = "I")
{
    return QStringLiteral("1262304000,%1,line %2\r\n").arg(QLatin1String(flags)).arg(i);
}

QString stamped(int i)
{
    return QStringLiteral("[10.01.01 02:00:00] line %1").arg(i);
}

// Text and colour of every piece of the view; an invalid colour where the piece has none.
QList<QPair<QString, QColor>> pieces(const QTextDocument *document)
{
    QList<QPair<QString, QColor>> result;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            result.append({it.fragment().text(),
                           format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color() : QColor()});
        }
    }
    return result;
}

} // namespace

class tst_TerminalLogWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writesOnReturnToTheEventLoop();
    void oneEditPerBatch();
    void colours();
    void appendsAtTheEnd();
    void clearDropsQueuedLines();
    void bound_data();
    void bound();
    void boundBetweenTurns_data();
    void boundBetweenTurns();
    void readerKeepsHisPlace();
    void viewGone();
    void timeStampsFollowEachLine();
    void longQueueIsWrittenOverSeveralTurns();

private:
    std::unique_ptr<TextTerminal> terminal;
};

void tst_TerminalLogWriter::initTestCase()
{
    qputenv("TZ", "PYL-02");
    tzset();
}

void tst_TerminalLogWriter::init()
{
    terminal = std::make_unique<TextTerminal>();
    terminal->resize(400, 300);
    terminal->show();
    QVERIFY(QTest::qWaitForWindowExposed(terminal.get()));
}

void tst_TerminalLogWriter::cleanup()
{
    terminal.reset();
}

void tst_TerminalLogWriter::writesOnReturnToTheEventLoop()
{
    TerminalLogWriter writer(terminal.get());
    writer.append(line(1));
    writer.append(line(2));
    QCOMPARE(writer.pendingLines(), 2);
    QCOMPARE(terminal->toPlainText(), QString());
    QTRY_COMPARE(terminal->toPlainText(), stamped(1) + QLatin1Char('\n') + stamped(2) + QLatin1Char('\n'));
    QCOMPARE(writer.pendingLines(), 0);

    writer.append(line(3));
    writer.flush();
    QVERIFY(terminal->toPlainText().endsWith(stamped(3) + QLatin1Char('\n')));
}

void tst_TerminalLogWriter::oneEditPerBatch()
{
    TerminalLogWriter writer(terminal.get());
    QSignalSpy changed(terminal.get(), &QTextEdit::textChanged);
    for (int i = 0; i < 50; ++i)
        writer.append(line(i));
    writer.flush();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(terminal->document()->blockCount(), 51);
    // The view followed the end once for the whole batch.
    QCOMPARE(terminal->verticalScrollBar()->value(), terminal->verticalScrollBar()->maximum());
    QVERIFY(terminal->verticalScrollBar()->maximum() > 0);
}

void tst_TerminalLogWriter::colours()
{
    TerminalLogWriter writer(terminal.get());
    writer.append(line(1, "W"));
    writer.append(QStringLiteral("no fields\r\n"));
    writer.append(line(2, ""));
    writer.flush();
    const QColor grey(127, 127, 127);
    const QList<QPair<QString, QColor>> expected{
        {QStringLiteral("[10.01.01 02:00:00] "), grey},
        {QStringLiteral("line 1"), QColor(255, 127, 0)},
        {QStringLiteral("no fields"), QColor()},
        {QStringLiteral("[10.01.01 02:00:00] "), grey},
        {QStringLiteral("line 2"), QColor(0, 255, 127)},
    };
    QCOMPARE(pieces(terminal->document()), expected);
}

void tst_TerminalLogWriter::appendsAtTheEnd()
{
    TerminalLogWriter writer(terminal.get());
    writer.append(line(1));
    writer.append(line(2));
    writer.flush();
    QTextCursor selection = terminal->textCursor();
    selection.setPosition(0);
    selection.setPosition(5, QTextCursor::KeepAnchor);
    terminal->setTextCursor(selection);
    writer.append(line(3));
    writer.flush();
    QCOMPARE(terminal->toPlainText(), stamped(1) + QLatin1Char('\n') + stamped(2) + QLatin1Char('\n') + stamped(3) + QLatin1Char('\n'));
    QCOMPARE(terminal->textCursor().selectedText(), QStringLiteral("[10.0"));
}

void tst_TerminalLogWriter::clearDropsQueuedLines()
{
    TerminalLogWriter writer(terminal.get());
    writer.append(line(1));
    writer.flush();
    writer.append(line(2));
    writer.clear();
    QCOMPARE(terminal->toPlainText(), QString());
    QCOMPARE(writer.pendingLines(), 0);
    writer.append(line(3));
    QTRY_COMPARE(terminal->toPlainText(), stamped(3) + QLatin1Char('\n'));
}

void tst_TerminalLogWriter::bound_data()
{
    QTest::addColumn<int>("limit");
    // Lines already written before the batches.
    QTest::addColumn<int>("prefill");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("batch");
    QTest::addColumn<int>("kept");
    // Lines dropped unwritten, which the line before the kept ones then names; 0 for none.
    QTest::addColumn<int>("notShown");

    QTest::newRow("below the limit") << 100 << 0 << 100 << 10 << 100 << 0;
    QTest::newRow("within the slack") << 100 << 0 << 125 << 5 << 125 << 0;
    QTest::newRow("one past the slack") << 100 << 0 << 126 << 1 << 100 << 0;
    // Trimmed to 100 whenever a batch of 7 passes 125; the last batch of 6 comes on top.
    QTest::newRow("many batches") << 100 << 0 << 1000 << 7 << 106 << 0;
    QTest::newRow("one batch as large as the slack") << 100 << 0 << 125 << 125 << 125 << 0;
    // Written and then trimmed, the oldest would never be seen: they are not written at all.
    QTest::newRow("one batch past the slack") << 100 << 0 << 126 << 126 << 99 << 27;
    QTest::newRow("one huge batch") << 100 << 0 << 5000 << 5000 << 99 << 4901;
    QTest::newRow("huge batch into a full view") << 100 << 120 << 5000 << 5000 << 99 << 4901;
    QTest::newRow("huge batch into an empty view, small limit") << 3 << 0 << 50 << 50 << 2 << 48;
}

void tst_TerminalLogWriter::bound()
{
    QFETCH(int, limit);
    QFETCH(int, prefill);
    QFETCH(int, total);
    QFETCH(int, batch);
    QFETCH(int, kept);
    QFETCH(int, notShown);

    TerminalLogWriter writer(terminal.get(), limit);
    for (int i = 0; i < prefill; ++i)
        writer.append(line(i));
    writer.flush();
    const int end = prefill + total;
    for (int i = prefill; i < end; ++i) {
        writer.append(line(i));
        if ((i - prefill + 1) % batch == 0)
            writer.flush();
    }
    writer.flush();
    QTextDocument *document = terminal->document();
    const int noteLines = notShown > 0 ? 1 : 0;
    QCOMPARE(document->blockCount() - 1, kept + noteLines);
    if (notShown > 0)
        QCOMPARE(document->firstBlock().text(), TerminalLogWriter::skippedText(notShown));
    QCOMPARE(document->findBlockByNumber(noteLines).text(), stamped(end - kept));
    QCOMPARE(document->lastBlock().previous().text(), stamped(end - 1));
    QCOMPARE(terminal->verticalScrollBar()->value(), terminal->verticalScrollBar()->maximum());
}

void tst_TerminalLogWriter::boundBetweenTurns_data()
{
    QTest::addColumn<int>("limit");
    // Lines that come between two turns of the event loop.
    QTest::addColumn<int>("perTurn");
    QTest::addColumn<int>("turns");

    QTest::newRow("one line a turn") << 100 << 1 << 300;
    QTest::newRow("less than the slack a turn") << 100 << 20 << 40;
    QTest::newRow("nearly the limit a turn") << 100 << 90 << 20;
    QTest::newRow("more than the queue keeps a turn") << 100 << 1000 << 10;
    QTest::newRow("large limit") << 5000 << 3000 << 10;
    QTest::newRow("small limit") << 3 << 5 << 20;
}

// However the lines come, the view never holds more than the limit and its slack when control
// is back in the event loop (where the user sees it), and it ends with the last line.
void tst_TerminalLogWriter::boundBetweenTurns()
{
    QFETCH(int, limit);
    QFETCH(int, perTurn);
    QFETCH(int, turns);

    TerminalLogWriter writer(terminal.get(), limit);
    const QTextDocument *document = terminal->document();
    const int slack = limit + limit / 4;
    int sent = 0;
    int most = 0;
    auto turn = [&] {
        QCoreApplication::processEvents();
        most = qMax(most, document->blockCount() - 1);
    };
    for (int t = 0; t < turns; ++t) {
        for (int i = 0; i < perTurn; ++i)
            writer.append(line(sent++));
        turn();
    }
    for (int idle = 0; idle < 1000 && writer.pendingLines() > 0; ++idle)
        turn();
    turn();
    QCOMPARE(writer.pendingLines(), 0);
    QVERIFY2(most <= slack, qPrintable(QString::number(most)));
    QVERIFY(document->blockCount() - 1 >= qMin(limit, sent));
    QCOMPARE(document->lastBlock().previous().text(), stamped(sent - 1));
}

void tst_TerminalLogWriter::readerKeepsHisPlace()
{
    TerminalLogWriter writer(terminal.get(), 100);
    for (int i = 0; i < 120; ++i)
        writer.append(line(i));
    writer.flush();
    // The reader drags the handle up to a line in the middle.
    QScrollBar *bar = terminal->verticalScrollBar();
    const int middle = bar->maximum() / 2;
    bar->setSliderPosition(middle);
    emit bar->sliderMoved(middle);
    const QString shown = terminal->cursorForPosition(QPoint(5, 5)).block().text();
    QVERIFY(!shown.isEmpty());

    for (int i = 120; i < 140; ++i)
        writer.append(line(i));
    writer.flush();
    QCOMPARE(terminal->document()->blockCount() - 1, 100);
    QCOMPARE(terminal->cursorForPosition(QPoint(5, 5)).block().text(), shown);
    QVERIFY(bar->value() < bar->maximum());
}

void tst_TerminalLogWriter::viewGone()
{
    auto writer = std::make_unique<TerminalLogWriter>(terminal.get());
    writer->append(line(1));
    terminal.reset();
    writer->flush();
    writer->clear();
    QCOMPARE(writer->pendingLines(), 0);
}

void tst_TerminalLogWriter::timeStampsFollowEachLine()
{
    TerminalLogWriter writer(terminal.get());
    for (const char *log : {"1262304000,I,a\n", "1262304000,I,b\n", "1262304061,I,c\n", "1262304000,I,d\n", "x,I,e\n"})
        writer.append(QLatin1String(log));
    writer.flush();
    QCOMPARE(terminal->toPlainText(), QStringLiteral("[10.01.01 02:00:00] a\n[10.01.01 02:00:00] b\n[10.01.01 02:01:01] c\n"
                                                     "[10.01.01 02:00:00] d\n[70.01.01 02:00:00] e\n"));
}

// A queue longer than one turn of the event loop writes goes out over several turns, with
// other events handled between them; every line arrives, in order.
void tst_TerminalLogWriter::longQueueIsWrittenOverSeveralTurns()
{
    constexpr int total = 20000;
    TerminalLogWriter writer(terminal.get(), total);
    for (int i = 0; i < total; ++i)
        writer.append(line(i));
    int pendingMeanwhile = -1;
    QObject poster;
    QMetaObject::invokeMethod(&poster, [&] { pendingMeanwhile = writer.pendingLines(); }, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(writer.pendingLines(), 0, 60000);
    QVERIFY2(pendingMeanwhile > 0 && pendingMeanwhile < total, qPrintable(QString::number(pendingMeanwhile)));
    const QTextDocument *document = terminal->document();
    QCOMPARE(document->blockCount() - 1, total);
    int i = 0;
    for (QTextBlock block = document->firstBlock(); i < total; block = block.next(), ++i) {
        if (block.text() != stamped(i))
            QFAIL(qPrintable(QStringLiteral("line %1: %2").arg(i).arg(block.text())));
    }
}

QTEST_MAIN(tst_TerminalLogWriter)
#include "tst_terminallogwriter.moc"
