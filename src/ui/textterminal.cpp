#include "ui/textterminal.h"

#include <QFont>
#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
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

QTextBlock TextTerminal::blockAt(int y) const
{
    const QTextDocument *text = document();
    const QAbstractTextDocumentLayout *layout = text->documentLayout();
    const qreal at = y + verticalScrollBar()->value();
    // The first block that ends below `at`.
    int low = 0;
    int high = text->blockCount() - 1;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (layout->blockBoundingRect(text->findBlockByNumber(middle)).bottom() <= at)
            low = middle + 1;
        else
            high = middle;
    }
    return text->findBlockByNumber(low);
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
