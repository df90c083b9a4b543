#include "ui/logfinder.h"

#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

namespace {

// Where each match starts, as (line, column) pairs: easier to read than document positions.
QList<QPoint> places(const QTextDocument &document, const QList<int> &starts)
{
    QList<QPoint> result;
    for (const int start : starts) {
        const QTextBlock block = document.findBlock(start);
        result.append(QPoint(block.blockNumber(), start - block.position()));
    }
    return result;
}

QList<QPoint> places(const LogFinder &finder, const QTextDocument &document)
{
    return places(document, finder.startsIn(0, document.characterCount()));
}

void append(QTextDocument &document, const QString &text)
{
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

// Removes the first `lines` lines, as the log writer trims its view.
void trim(QTextDocument &document, int lines)
{
    QTextCursor cursor(&document);
    cursor.setPosition(document.findBlockByNumber(lines).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

using Edit = std::function<void(QTextDocument &)>;

} // namespace

Q_DECLARE_METATYPE(Edit)

class tst_LogFinder : public QObject
{
    Q_OBJECT

private slots:
    void matches_data();
    void matches();
    void startsNearThePlaceGiven_data();
    void startsNearThePlaceGiven();
    void nextAndPreviousGoRound();
    void followsEdits_data();
    void followsEdits();
    void emptyTextEndsTheSearch();
};

void tst_LogFinder::matches_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<QList<QPoint>>("expected");

    const QString log = QStringLiteral("[24.01.02 10:00:00] TLS: Initial packet\n"
                                       "[24.01.02 10:00:01] tls handshake, TLS ok\n"
                                       "[24.01.02 10:00:02] Peer Connection Initiated\n");
    QTest::newRow("case does not matter") << log << "tls" << QList<QPoint>{{0, 20}, {1, 20}, {1, 35}};
    QTest::newRow("time stamps are searched too") << log << "10:00:0" << QList<QPoint>{{0, 10}, {1, 10}, {2, 10}};
    QTest::newRow("none") << log << "AUTH_FAILED" << QList<QPoint>{};
    QTest::newRow("no match across a line end") << log << "packet [24" << QList<QPoint>{};
    QTest::newRow("matches do not overlap") << QStringLiteral("aaaaa\n") << "aa" << QList<QPoint>{{0, 0}, {0, 2}};
    QTest::newRow("beyond Latin-1") << QStringLiteral("Zażółć gęślą\nZAŻÓŁĆ\n") << "żółć" << QList<QPoint>{{0, 2}, {1, 2}};
    QTest::newRow("one letter, either case") << QStringLiteral("Peer pEEr\n") << "e"
                                             << QList<QPoint>{{0, 1}, {0, 2}, {0, 6}, {0, 7}};
    QTest::newRow("first letter in either case, the rest too") << QStringLiteral("xTLs Tls tLS\n") << "tls"
                                                               << QList<QPoint>{{0, 1}, {0, 5}, {0, 9}};
    QTest::newRow("first letter where the rest does not follow") << QStringLiteral("tx Tt tls\n") << "tls"
                                                                 << QList<QPoint>{{0, 6}};
    QTest::newRow("first character no letter") << QStringLiteral("[a] [A]\n") << "[a" << QList<QPoint>{{0, 0}, {0, 4}};
    QTest::newRow("k finds the Kelvin sign, which folds to it") << QStringLiteral("k \u212A K\n") << "k"
                                                                << QList<QPoint>{{0, 0}, {0, 2}, {0, 4}};
    QTest::newRow("s finds the long s, which folds to it") << QStringLiteral("se \u017Fe Se\n") << "se"
                                                           << QList<QPoint>{{0, 0}, {0, 3}, {0, 6}};
}

void tst_LogFinder::matches()
{
    QFETCH(QString, text);
    QFETCH(QString, needle);
    QFETCH(QList<QPoint>, expected);

    QTextDocument document(text);
    LogFinder finder(&document);
    finder.find(needle);
    QCOMPARE(places(finder, document), expected);
    QCOMPARE(finder.count(), expected.size());
    QCOMPARE(finder.currentNumber(), expected.isEmpty() ? 0 : 1);
    if (!expected.isEmpty())
        QCOMPARE(finder.current().selectedText().toLower(), needle.toLower());
    else
        QVERIFY(finder.current().isNull());
}

void tst_LogFinder::startsNearThePlaceGiven_data()
{
    QTest::addColumn<int>("fromLine");
    QTest::addColumn<int>("current");

    // Matches on lines 1, 3 and 5.
    QTest::newRow("from the start: the first") << 0 << 1;
    QTest::newRow("from a line with a match: that one") << 3 << 2;
    QTest::newRow("from between two: the one after") << 4 << 3;
    QTest::newRow("from after the last: the last") << 6 << 3;
}

void tst_LogFinder::startsNearThePlaceGiven()
{
    QFETCH(int, fromLine);
    QFETCH(int, current);

    QTextDocument document(QStringLiteral("a\nkey 1\nb\nkey 2\nc\nkey 3\nd\n"));
    LogFinder finder(&document);
    finder.find(QStringLiteral("KEY"), document.findBlockByNumber(fromLine).position());
    QCOMPARE(finder.currentNumber(), current);
    QCOMPARE(finder.current().block().text(), QStringLiteral("key %1").arg(current));
}

void tst_LogFinder::nextAndPreviousGoRound()
{
    QTextDocument document(QStringLiteral("x1\nx2\nx3\n"));
    LogFinder finder(&document);
    QSignalSpy changed(&finder, &LogFinder::matchesChanged);
    finder.find(QStringLiteral("x"));
    QList<int> numbers;
    for (int i = 0; i < 4; ++i)
        numbers.append((finder.next(), finder.currentNumber()));
    for (int i = 0; i < 4; ++i)
        numbers.append((finder.previous(), finder.currentNumber()));
    QCOMPARE(numbers, QList<int>({2, 3, 1, 2, 1, 3, 2, 1}));
    QCOMPARE(finder.current().block().text(), QStringLiteral("x1"));
    QCOMPARE(changed.size(), 9);
}

void tst_LogFinder::followsEdits_data()
{
    QTest::addColumn<Edit>("edit");
    // The text of the line that holds the current match afterwards.
    QTest::addColumn<QString>("currentLine");

    // Before every edit: "line i: match" for even i of 0..9, "line i" for odd i; the current
    // match is the one on line 4.
    QTest::newRow("lines appended")
        << Edit([](QTextDocument &d) { append(d, QStringLiteral("line 10: match\nline 11\nmatch match\n")); })
        << "line 4: match";
    QTest::newRow("lines trimmed before the current one") << Edit([](QTextDocument &d) { trim(d, 3); })
                                                          << "line 4: match";
    QTest::newRow("the current one trimmed: the first left") << Edit([](QTextDocument &d) { trim(d, 5); })
                                                             << "line 6: match";
    QTest::newRow("everything trimmed but the end")
        << Edit([](QTextDocument &d) {
               trim(d, 10);
               append(d, QStringLiteral("MATCH again\n"));
           })
        << "MATCH again";
    QTest::newRow("trimmed, then appended in one edit")
        << Edit([](QTextDocument &d) {
               QTextCursor cursor(&d);
               cursor.beginEditBlock();
               cursor.setPosition(d.findBlockByNumber(2).position(), QTextCursor::KeepAnchor);
               cursor.removeSelectedText();
               cursor.movePosition(QTextCursor::End);
               cursor.insertText(QStringLiteral("match\n"));
               cursor.endEditBlock();
           })
        << "line 4: match";
    QTest::newRow("a match made across the edit's edge")
        << Edit([](QTextDocument &d) {
               QTextCursor cursor(&d);
               cursor.setPosition(d.findBlockByNumber(3).position() + 4);
               cursor.insertText(QStringLiteral(" mat"));
               cursor.insertText(QStringLiteral("ch"));
           })
        << "line 4: match";
    QTest::newRow("the view cleared") << Edit([](QTextDocument &d) { d.clear(); }) << QString();
    QTest::newRow("the view cleared, new lines") << Edit([](QTextDocument &d) {
        d.clear();
        append(d, QStringLiteral("a\nmatch b\n"));
    }) << "match b";
}

// However the log changes, the matches are those a fresh search finds, and the current match
// stays on its line while that line is there.
void tst_LogFinder::followsEdits()
{
    QFETCH(Edit, edit);
    QFETCH(QString, currentLine);

    QTextDocument document;
    for (int i = 0; i < 10; ++i)
        append(document, i % 2 ? QStringLiteral("line %1\n").arg(i) : QStringLiteral("line %1: match\n").arg(i));
    LogFinder finder(&document);
    finder.find(QStringLiteral("match"), document.findBlockByNumber(4).position());
    QCOMPARE(finder.current().block().text(), QStringLiteral("line 4: match"));

    edit(document);

    LogFinder fresh(&document);
    fresh.find(QStringLiteral("match"));
    QCOMPARE(places(finder, document), places(fresh, document));
    QCOMPARE(finder.count(), fresh.count());
    QCOMPARE(finder.current().block().text(), currentLine);
    if (!currentLine.isEmpty()) {
        QCOMPARE(finder.current().selectedText().toLower(), QStringLiteral("match"));
        QCOMPARE(finder.startsIn(0, document.characterCount()).at(finder.currentNumber() - 1),
                 finder.current().selectionStart());
    }
}

void tst_LogFinder::emptyTextEndsTheSearch()
{
    QTextDocument document(QStringLiteral("match\n"));
    LogFinder finder(&document);
    finder.find(QStringLiteral("match"));
    finder.find(QString());
    QSignalSpy changed(&finder, &LogFinder::matchesChanged);
    append(document, QStringLiteral("match\n"));
    QCOMPARE(finder.count(), 0);
    QCOMPARE(changed.size(), 0);
    QVERIFY(finder.current().isNull());
}

QTEST_MAIN(tst_LogFinder)
#include "tst_logfinder.moc"
