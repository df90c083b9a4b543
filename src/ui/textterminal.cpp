#include "ui/textterminal.h"

#include <QFont>
#include <QScrollBar>
#include <QTextCursor>
#include <QWheelEvent>

TextTerminal::TextTerminal(QWidget *parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setFont(QFont(QStringLiteral("Courier New")));

    connect(verticalScrollBar(), &QScrollBar::sliderMoved, this, &TextTerminal::checkScroll);
    connect(this, &QTextEdit::textChanged, this, &TextTerminal::scroll);
    // A view that follows stays at the bottom when it gets smaller (the find bar opening).
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &TextTerminal::scroll);
}

void TextTerminal::reveal(const QTextCursor &cursor)
{
    QTextCursor start = cursor;
    start.setPosition(cursor.selectionStart());
    const QRect rect = cursorRect(start);
    QScrollBar *bar = verticalScrollBar();
    if (!viewport()->rect().contains(rect))
        bar->setValue(bar->value() + rect.center().y() - viewport()->height() / 2);
    checkScroll(bar->value());
}

void TextTerminal::wheelEvent(QWheelEvent *event)
{
    QTextEdit::wheelEvent(event);
    // The wheel moves the bar without sliderMoved(), so it is judged here.
    checkScroll(verticalScrollBar()->value());
}

void TextTerminal::checkScroll(int value)
{
    autoScroll = value == verticalScrollBar()->maximum();
}

void TextTerminal::scroll()
{
    if (autoScroll)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
