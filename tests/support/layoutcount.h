#pragma once

#include <QLayout>
#include <QWidget>

// How often a widget sits in a layout, nested layouts included.
inline int layoutOccurrences(const QLayout *layout, const QWidget *widget)
{
    int count = 0;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == widget)
            ++count;
        else if (item->layout())
            count += layoutOccurrences(item->layout(), widget);
    }
    return count;
}
