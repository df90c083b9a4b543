#include "ui/logfinder.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <array>

LogFinder::LogFinder(QTextDocument *document, QObject *parent)
    : QObject(parent)
    , document(document)
{
    matcher.setCaseSensitivity(Qt::CaseInsensitive);
    // A document tells its edits (contentsChange) only once it has a layout.
    document->documentLayout();
}

void LogFinder::find(const QString &text, int from)
{
    if (needle.isEmpty() && !text.isEmpty())
        connect(document, &QTextDocument::contentsChange, this, &LogFinder::documentChanged);
    else if (!needle.isEmpty() && text.isEmpty())
        disconnect(document, &QTextDocument::contentsChange, this, &LogFinder::documentChanged);
    needle = text;
    matcher.setPattern(text);
    // An ASCII first character is looked for in every form that folds to it: its two cases,
    // and U+212A for k, U+017F for s.
    firstForms.clear();
    const char16_t first = needle.isEmpty() ? 0 : needle.front().unicode();
    if (first != 0 && first < 0x80) {
        const auto lower = char16_t(QChar::toLower(first));
        const auto upper = char16_t(QChar::toUpper(first));
        firstForms.append(lower);
        if (upper != lower)
            firstForms.append(upper);
        if (lower == u'k')
            firstForms.append(u'\u212A');
        else if (lower == u's')
            firstForms.append(u'\u017F');
    }
    if (needle.isEmpty()) {
        starts.clear();
        currentMatch = QTextCursor();
    } else {
        searchAll();
        // A place to start from, not yet a match: the match there becomes current.
        currentMatch = QTextCursor(document);
        currentMatch.setPosition(qBound(0, from, knownLength - 1));
        keepCurrent();
    }
    emit matchesChanged();
}

int LogFinder::currentNumber() const
{
    return int(currentIndex() + 1);
}

QTextCursor LogFinder::current() const
{
    return currentIndex() < 0 ? QTextCursor() : currentMatch;
}

QTextCursor LogFinder::next()
{
    if (!starts.isEmpty()) {
        const qsizetype index = currentIndex();
        setCurrent(index < 0 || index + 1 == starts.size() ? 0 : index + 1);
        emit matchesChanged();
    }
    return current();
}

QTextCursor LogFinder::previous()
{
    if (!starts.isEmpty()) {
        const qsizetype index = currentIndex();
        setCurrent(index <= 0 ? starts.size() - 1 : index - 1);
        emit matchesChanged();
    }
    return current();
}

QList<int> LogFinder::startsIn(int from, int to) const
{
    const auto first = std::lower_bound(starts.cbegin(), starts.cend(), from);
    const auto last = std::lower_bound(first, starts.cend(), to);
    return QList<int>(first, last);
}

void LogFinder::searchAll()
{
    knownLength = document->characterCount();
    starts = search(0, knownLength - 1);
}

QList<int> LogFinder::search(int from, int to) const
{
    // Block by block: a block's text is quickly had, the whole document's as one string, or
    // folded to one case, takes several times longer than the search.
    QList<int> found;
    const QTextBlock end = document->findBlock(to).next();
    for (QTextBlock block = document->findBlock(from); block.isValid() && block != end; block = block.next()) {
        searchLine(block.text(), block.position(), found);
    }
    return found;
}

void LogFinder::searchLine(QStringView line, int position, QList<int> &found) const
{
    if (firstForms.isEmpty()) {
        for (qsizetype at = matcher.indexIn(line); at >= 0; at = matcher.indexIn(line, at + needle.size()))
            found.append(position + int(at));
        return;
    }
    // The matcher folds the case of every character it steps over, one at a time, and a short
    // text lets it skip little: a one-letter search of a full log took 20 ms that way. The
    // library finds a character with vector instructions; only where a form of the first
    // character is found is the rest compared.
    std::array<qsizetype, 3> places = {-1, -1, -1};
    for (qsizetype i = 0; i < firstForms.size(); ++i)
        places[i] = line.indexOf(QChar(firstForms[i]));
    for (;;) {
        qsizetype at = -1;
        for (const qsizetype place : places) {
            if (place >= 0 && (at < 0 || place < at))
                at = place;
        }
        if (at < 0)
            return;
        qsizetype next = at + 1;
        if (line.sliced(at).startsWith(needle, Qt::CaseInsensitive)) {
            found.append(position + int(at));
            next = at + needle.size();
        }
        for (qsizetype i = 0; i < firstForms.size(); ++i) {
            if (places[i] >= 0 && places[i] < next)
                places[i] = line.indexOf(QChar(firstForms[i]), next);
        }
    }
}

void LogFinder::documentChanged(int position, int removed, int added)
{
    const int length = document->characterCount();
    if (length != knownLength + added - removed) {
        searchAll();
    } else {
        knownLength = length;
        // The blocks the edit touched, as they are now; the text before and after them is
        // what it was, the text after them `added - removed` places further on.
        const QTextBlock first = document->findBlock(position);
        QTextBlock last = document->findBlock(position + added);
        if (!last.isValid())
            last = document->lastBlock();
        const int start = first.position();
        const int end = last.position() + last.length();
        const int shift = added - removed;
        const auto from = std::lower_bound(starts.begin(), starts.end(), start);
        const auto to = std::lower_bound(from, starts.end(), end - shift);
        for (auto it = to; it != starts.end(); ++it)
            *it += shift;
        const QList<int> found = search(start, end - 1);
        const qsizetype at = from - starts.begin();
        starts.remove(at, to - from);
        starts.insert(at, found.size(), 0);
        std::copy(found.cbegin(), found.cend(), starts.begin() + at);
    }
    keepCurrent();
    emit matchesChanged();
}

void LogFinder::keepCurrent()
{
    // Without matches the place stays, and the first match to come after it becomes current.
    if (currentMatch.isNull() || starts.isEmpty() || currentIndex() >= 0)
        return;
    const auto at = std::lower_bound(starts.cbegin(), starts.cend(), currentMatch.selectionStart());
    setCurrent(at != starts.cend() ? at - starts.cbegin() : starts.size() - 1);
}

void LogFinder::setCurrent(qsizetype index)
{
    currentMatch.setPosition(starts.at(index));
    currentMatch.setPosition(starts.at(index) + matchLength(), QTextCursor::KeepAnchor);
}

qsizetype LogFinder::currentIndex() const
{
    if (currentMatch.isNull() || currentMatch.selectionEnd() - currentMatch.selectionStart() != matchLength())
        return -1;
    const auto at = std::lower_bound(starts.cbegin(), starts.cend(), currentMatch.selectionStart());
    return at != starts.cend() && *at == currentMatch.selectionStart() ? at - starts.cbegin() : -1;
}
