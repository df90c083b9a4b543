#include "ui/textterminal.h"

#include <QFont>
#include <QScrollBar>
#include <QWheelEvent>

TextTerminal::TextTerminal(QWidget *parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setFont(QFont(QStringLiteral("Courier New")));

    connect(verticalScrollBar(), &QScrollBar::sliderMoved, this, &TextTerminal::checkScroll);
    connect(this, &QTextEdit::textChanged, this, &TextTerminal::scroll);
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
