#include "ui/terminallogwriter.h"

#include "ui/openvpnlogline.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

namespace {

// How long one turn of the event loop writes; laying out a line takes tens of microseconds.
constexpr qint64 writeBudgetNs = qint64(12) * 1000 * 1000;
// Lines per edit while the budget lasts.
constexpr qsizetype writeGroup = 64;

} // namespace

TerminalLogWriter::TerminalLogWriter(QTextEdit *view, int lineLimit, QObject *parent)
    : QObject(parent)
    , view(view)
    , limit(qMax(1, lineLimit))
{
    stampFormat.setForeground(OpenVpnLogLine::timestampColour());
    for (const char *flags : {"I", "F", "N", "W", ""}) {
        QTextCharFormat format;
        format.setForeground(OpenVpnLogLine::messageColour(QString::fromLatin1(flags)));
        messageFormats.append(format);
    }
}

QString TerminalLogWriter::skippedText(qsizetype count)
{
    // Never fewer than two: see dropOverflow().
    return tr("… %1 lines not shown").arg(count);
}

void TerminalLogWriter::append(const QString &log)
{
    pending.append(log);
    // Checked now and then rather than per line: the queue stays bounded all the same.
    if (pending.size() > limit + limit / 2)
        dropOverflow();
    schedule();
}

void TerminalLogWriter::schedule()
{
    if (writePosted)
        return;
    writePosted = true;
    QMetaObject::invokeMethod(this, &TerminalLogWriter::writeQueued, Qt::QueuedConnection);
}

void TerminalLogWriter::dropOverflow()
{
    // The newest of them and the line that says what is missing fill the view; that line goes
    // when the view is trimmed, so no more may follow it than the view keeps.
    const qsizetype keep = qMax(1, limit - 1);
    // The first drop takes at least two lines, so that the line never speaks of one.
    if (pending.size() <= keep || (skipped == 0 && pending.size() <= qMax<qsizetype>(limit + limit / 4, keep + 1)))
        return;
    const qsizetype drop = pending.size() - keep;
    pending.remove(0, drop);
    skipped += drop;
}

void TerminalLogWriter::flush()
{
    dropOverflow();
    write(pending.size());
    trim();
}

void TerminalLogWriter::writeQueued()
{
    writePosted = false;
    dropOverflow();
    // Trimming lays out the whole view again: a turn of its own, not on top of the writing.
    if (trim(incomingLines(1))) {
        if (!pending.isEmpty())
            schedule();
        return;
    }
    QElapsedTimer timer;
    timer.start();
    while (!pending.isEmpty() && view && timer.nsecsElapsed() < writeBudgetNs) {
        // Never past the slack, so that the view stays bounded while the trim waits for the
        // next turn.
        const qsizetype room = slack() - lineCount() - incomingLines(0);
        if (room <= 0 && lineCount() > 0)
            break;
        write(std::min({writeGroup, pending.size(), qMax<qsizetype>(1, room)}));
    }
    if (!pending.isEmpty() || needsTrim())
        schedule();
}

void TerminalLogWriter::clear()
{
    pending.clear();
    skipped = 0;
    if (view)
        view->clear();
}

void TerminalLogWriter::write(qsizetype count)
{
    if (!view) {
        pending.clear();
        skipped = 0;
        return;
    }
    if (count <= 0)
        return;

    // Always at the end, whatever the user has selected in the view.
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (skipped > 0) {
        cursor.insertText(skippedText(skipped) + QLatin1Char('\n'), stampFormat);
        skipped = 0;
    }
    for (qsizetype i = 0; i < count; ++i)
        insert(cursor, pending.at(i));
    cursor.endEditBlock();
    pending.remove(0, count);
}

void TerminalLogWriter::insert(QTextCursor &cursor, const QString &log)
{
    const OpenVpnLogLine line = OpenVpnLogLine::split(log);
    if (!line.hasFields) {
        cursor.insertText(line.message, plainFormat);
        return;
    }
    if (stamp.isEmpty() || line.seconds != stampSeconds) {
        stampSeconds = line.seconds;
        stamp = OpenVpnLogLine::formatTimestamp(line.seconds);
    }
    cursor.insertText(stamp, stampFormat);
    const QTextCharFormat *format = &messageFormats.constLast();
    for (const QTextCharFormat &candidate : std::as_const(messageFormats)) {
        if (candidate.foreground().color() == line.colour) {
            format = &candidate;
            break;
        }
    }
    cursor.insertText(line.message, *format);
}

qsizetype TerminalLogWriter::lineCount() const
{
    // Every line ends with a line feed, so the last block is the empty one after it.
    return view ? view->document()->blockCount() - 1 : 0;
}

qsizetype TerminalLogWriter::incomingLines(qsizetype queued) const
{
    return (pending.isEmpty() ? 0 : queued) + (skipped > 0 ? 1 : 0);
}

bool TerminalLogWriter::needsTrim(qsizetype incoming) const
{
    // An empty view has nothing to trim, even where the slack is too small for what comes.
    const qsizetype lines = lineCount();
    return lines > 0 && lines + incoming > slack();
}

bool TerminalLogWriter::trim(qsizetype incoming)
{
    if (!needsTrim(incoming))
        return false;
    QTextDocument *document = view->document();
    const int lines = document->blockCount() - 1;

    // Room for what comes next, where the slack is too small to hold it on top of the limit.
    const int keep = int(qBound(qsizetype(0), slack() - incoming, qsizetype(limit)));
    const QTextBlock firstKept = document->findBlockByNumber(lines - keep);
    QScrollBar *bar = view->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QAbstractTextDocumentLayout *layout = document->documentLayout();
    const int removedHeight = int(layout->blockBoundingRect(firstKept).top() - layout->blockBoundingRect(document->firstBlock()).top());
    const int value = bar->value();

    QTextCursor cursor(document);
    cursor.setPosition(firstKept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();

    // A reader who has scrolled away from the end keeps seeing the same lines.
    if (!atEnd)
        bar->setValue(qMax(0, value - removedHeight));
    return true;
}
