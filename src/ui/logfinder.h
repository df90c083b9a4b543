#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringMatcher>
#include <QTextCursor>
#include <QVarLengthArray>

class QTextDocument;

// Finds every occurrence of a text in a document, case-insensitively, and keeps one of them
// as the current match. A match never spans two blocks (two lines of the log).
//
// The matches follow the document as it is edited: an edit searches again only the blocks it
// touched, so lines appended at the end or trimmed from the start cost no more than their own
// text, however many matches the rest holds. The current match is kept as a cursor, which the
// document moves along with its edits; when its text is removed, the match at or after the
// place where it was becomes current (the first one when lines were trimmed from the start),
// or the last one when none follows; while there is none, the next to come.
class LogFinder final : public QObject
{
    Q_OBJECT

public:
    explicit LogFinder(QTextDocument *document, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(LogFinder)

    // Searches the document for `text`. The current match becomes the first one at or after
    // the document position `from`, or, when none follows it, the last one before it. An
    // empty text ends the search: no matches, and edits are no longer followed.
    void find(const QString &text, int from = 0);
    QString text() const { return needle; }

    int count() const { return int(starts.size()); }
    // The number of the current match, counted from 1 at the start of the document; 0 when
    // there is none.
    int currentNumber() const;
    // The current match, selected; a null cursor when there is none.
    QTextCursor current() const;
    // Makes the following (preceding) match current, from the last (first) one on to the
    // first (last) one, and returns it.
    QTextCursor next();
    QTextCursor previous();
    // The start positions of the matches that begin in [from, to), in document order.
    QList<int> startsIn(int from, int to) const;
    // The length of every match.
    int matchLength() const { return int(needle.size()); }

signals:
    // The matches, or which one is current, changed.
    void matchesChanged();

private:
    void documentChanged(int position, int removed, int added);
    void searchAll();
    // The start positions of the matches in the blocks from the one at `from` to the one at
    // `to`, both included.
    QList<int> search(int from, int to) const;
    // Appends the start positions of the matches in one line that starts at `position`.
    void searchLine(QStringView line, int position, QList<int> &found) const;
    void setCurrent(qsizetype index);
    // The index in `starts` of the current match, -1 when there is none.
    qsizetype currentIndex() const;
    // Makes the match at or after the current place current, or the last one before it, when
    // the current match's text went (or a search just began there).
    void keepCurrent();

    QTextDocument *document;
    QString needle;
    QStringMatcher matcher;
    // The forms of the text's first character, when it is ASCII: the library's character
    // search finds them, and the rest is compared where one is (see searchLine()).
    QVarLengthArray<char16_t, 3> firstForms;
    QList<int> starts;
    QTextCursor currentMatch;
    // The document's length when the matches were last brought up to date: an edit that
    // does not add up to the length now (a document cleared or replaced) is searched whole.
    int knownLength = 0;
};
