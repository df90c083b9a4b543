#include "router/elidedtext.h"

QString ElidedText::middle(const QString &text, qsizetype maximum)
{
    if (text.size() <= maximum)
        return text;
    const qsizetype kept = qMax<qsizetype>(maximum - 1, 0);
    qsizetype head = kept - kept / 2;
    qsizetype tail = kept / 2;
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}
