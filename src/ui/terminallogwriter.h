#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>

class QTextCursor;
class QTextEdit;

// Writes OpenVPN log notifications at the end of a log view, time-stamped and coloured, and
// keeps the view to a bounded number of lines.
//
// Lines are queued as they come and written when control returns to the event loop, many in
// one edit: a view that follows its end scrolls once per edit, and scrolling once per line
// costs more than everything else a line does. Laying a line out in the view is what costs
// most, so a turn of the event loop writes only for a few milliseconds and leaves the rest to
// the next turns, and a line is split and formatted only when it is written. When more lines
// are queued than the view keeps, the oldest of them would only be written to be trimmed
// again: they are dropped unwritten, and one line in the view says how many. The oldest
// lines of the view are trimmed in chunks, because dropping lines at the top of a text view
// lays out the whole view again.
class TerminalLogWriter final : public QObject
{
    Q_OBJECT

public:
    // The view keeps between lineLimit and lineLimit + lineLimit / 4 lines.
    static constexpr int defaultLineLimit = 10000;

    explicit TerminalLogWriter(QTextEdit *view, int lineLimit = defaultLineLimit, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(TerminalLogWriter)

    // Queues an OpenVPN log notification (the text after ">LOG:"); it is written in a later
    // turn of the event loop, or by flush().
    void append(const QString &log);
    // Writes every queued line now, in one edit.
    void flush();
    // Empties the view, queued lines included.
    void clear();

    int lineLimit() const { return limit; }
    int pendingLines() const { return int(pending.size()); }

    // The line that stands in the view for `count` lines that were dropped unwritten.
    static QString skippedText(qsizetype count);

private:
    // Writes queued lines for a few milliseconds; what is left waits for the next turn.
    void writeQueued();
    void schedule();
    // Drops the oldest queued lines when more are queued than the view would keep.
    void dropOverflow();
    // Writes the first `count` queued lines in one edit.
    void write(qsizetype count);
    void insert(QTextCursor &cursor, const QString &log);
    qsizetype slack() const { return qsizetype(limit) + limit / 4; }
    qsizetype lineCount() const;
    // The lines the next write adds: `queued` of the queue, and the line about dropped lines.
    qsizetype incomingLines(qsizetype queued) const;
    bool needsTrim(qsizetype incoming = 0) const;
    // Drops the oldest lines of the view down to the limit, when `incoming` more lines would
    // take it past the slack.
    bool trim(qsizetype incoming = 0);

    QPointer<QTextEdit> view;
    int limit;
    QStringList pending;
    // Queued lines dropped since the last line was written.
    qsizetype skipped = 0;
    bool writePosted = false;
    // The time stamp of the last line written: neighbouring lines mostly share their second.
    quint64 stampSeconds = 0;
    QString stamp;
    QTextCharFormat stampFormat;
    QTextCharFormat plainFormat;
    // One per message colour, made once: a format made per line costs as much as its text.
    QList<QTextCharFormat> messageFormats;
};
