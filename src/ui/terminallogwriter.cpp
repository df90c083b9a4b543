#include "ui/terminallogwriter.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

TerminalLogWriter::TerminalLogWriter(QTextEdit *view, int lineLimit, QObject *parent)
    : QObject(parent)
    , view(view)
    , limit(qMax(1, lineLimit))
{
}

void TerminalLogWriter::append(const OpenVpnLogLine &line)
{
    pending.append(line);
    if (flushQueued)
        return;
    flushQueued = true;
    QMetaObject::invokeMethod(this, &TerminalLogWriter::flush, Qt::QueuedConnection);
}

void TerminalLogWriter::flush()
{
    flushQueued = false;
    if (pending.isEmpty() || !view)
        return;

    // Always at the end, whatever the user has selected in the view.
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat format;
    for (const OpenVpnLogLine &line : std::as_const(pending)) {
        if (line.hasFields) {
            format.setForeground(OpenVpnLogLine::timestampColour());
            cursor.insertText(line.timestamp, format);
            format.setForeground(line.colour);
        } else {
            format = QTextCharFormat();
        }
        cursor.insertText(line.message, format);
    }
    cursor.endEditBlock();
    pending.clear();
    trim();
}

void TerminalLogWriter::clear()
{
    pending.clear();
    if (view)
        view->clear();
}

void TerminalLogWriter::trim()
{
    QTextDocument *document = view->document();
    // Every line ends with a line feed, so the last block is the empty one after it.
    const int lines = document->blockCount() - 1;
    if (lines <= limit + limit / 4)
        return;

    const QTextBlock firstKept = document->findBlockByNumber(lines - limit);
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
}
