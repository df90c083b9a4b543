#include "ui/logfinder.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

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
        const QString line = block.text();
        for (qsizetype at = matcher.indexIn(line); at >= 0; at = matcher.indexIn(line, at + needle.size()))
            found.append(block.position() + int(at));
    }
    return found;
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
