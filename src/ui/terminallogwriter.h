#pragma once

#include "ui/openvpnlogline.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QTextEdit;

// Writes OpenVPN log lines at the end of a log view, coloured, and keeps the view to a
// bounded number of lines.
//
// Lines handed over in one turn of the event loop are written together in one edit: a view
// that follows its end scrolls once per edit, and scrolling once per line costs more than
// everything else a line does. The oldest lines are dropped in chunks, because dropping lines
// at the top of a text view lays out the whole view again.
class TerminalLogWriter final : public QObject
{
    Q_OBJECT

public:
    // The view keeps between lineLimit and lineLimit + lineLimit / 4 lines.
    static constexpr int defaultLineLimit = 10000;

    explicit TerminalLogWriter(QTextEdit *view, int lineLimit = defaultLineLimit, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(TerminalLogWriter)

    // Queues a line; it is written when control returns to the event loop, or by flush().
    void append(const OpenVpnLogLine &line);
    // Writes every queued line now.
    void flush();
    // Empties the view, queued lines included.
    void clear();

    int lineLimit() const { return limit; }
    int pendingLines() const { return int(pending.size()); }

private:
    void trim();

    QPointer<QTextEdit> view;
    int limit;
    QList<OpenVpnLogLine> pending;
    bool flushQueued = false;
};
