#pragma once

#include <QWidget>

class ClientListView;
class QComboBox;
class QLabel;
class QLineEdit;

// The row of controls above the client list: a filter field, how many clients the list shows,
// and the order of its rows. Esc in the field empties it.
class ClientListBar final : public QWidget
{
    Q_OBJECT

public:
    explicit ClientListBar(ClientListView *list, QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(ClientListBar)

    // Gives the filter field the keyboard focus, its text selected.
    void focusFilter();

private:
    void showCount();
    void orderChosen(int index);

    ClientListView *list;
    QLineEdit *filterField = nullptr;
    QLabel *countLabel = nullptr;
    QComboBox *orderBox = nullptr;
};
