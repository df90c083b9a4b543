#include "ui/clientlistbar.h"

#include "ui/clientlistview.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

ClientListBar::ClientListBar(ClientListView *list, QWidget *parent)
    : QWidget(parent)
    , list(list)
{
    filterField = new QLineEdit;
    filterField->setObjectName(QStringLiteral("clientFilterField"));
    filterField->setPlaceholderText(tr("Filter clients"));
    filterField->setAccessibleName(filterField->placeholderText());
    filterField->setClearButtonEnabled(true);
    // The clear button shows only an icon.
    for (QToolButton *button : filterField->findChildren<QToolButton *>())
        button->setAccessibleName(tr("Clear the filter"));
    auto *filterLabel = new QLabel(tr("&Filter:"));
    filterLabel->setObjectName(QStringLiteral("clientFilterLabel"));
    filterLabel->setBuddy(filterField);
    countLabel = new QLabel;
    countLabel->setObjectName(QStringLiteral("clientCountLabel"));

    orderBox = new QComboBox;
    orderBox->setObjectName(QStringLiteral("clientOrderBox"));
    orderBox->setAccessibleName(tr("Order of the clients"));
    orderBox->view()->setAccessibleName(orderBox->accessibleName());
    orderBox->addItem(tr("As OpenVPN lists them"), ClientRowKeys::AnswerOrder);
    orderBox->addItem(tr("Name"), ClientRowKeys::NameOrder);
    orderBox->addItem(tr("Connected since"), ClientRowKeys::ConnectedSinceOrder);
    orderBox->addItem(tr("Sent bytes"), ClientRowKeys::SentBytesOrder);
    orderBox->addItem(tr("Received bytes"), ClientRowKeys::ReceivedBytesOrder);
    auto *orderLabel = new QLabel(tr("&Order:"));
    orderLabel->setObjectName(QStringLiteral("clientOrderLabel"));
    orderLabel->setBuddy(orderBox);

    auto *clearAction = new QAction(filterField);
    clearAction->setShortcut(QKeySequence(Qt::Key_Escape));
    clearAction->setShortcutContext(Qt::WidgetShortcut);
    filterField->addAction(clearAction);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(filterLabel);
    layout->addWidget(filterField, 1);
    layout->addWidget(countLabel);
    layout->addSpacing(layout->spacing() * 2);
    layout->addWidget(orderLabel);
    layout->addWidget(orderBox);

    connect(clearAction, &QAction::triggered, filterField, &QLineEdit::clear);
    connect(filterField, &QLineEdit::textChanged, list, &ClientListView::setFilter);
    connect(orderBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &ClientListBar::orderChosen);
    connect(list, &ClientListView::countChanged, this, &ClientListBar::showCount);
    showCount();
}

void ClientListBar::focusFilter()
{
    filterField->setFocus(Qt::ShortcutFocusReason);
    filterField->selectAll();
}

void ClientListBar::showCount()
{
    const int total = list->topLevelItemCount();
    if (list->isFiltered())
        countLabel->setText(tr("%1 of %n clients", nullptr, total).arg(list->shownCount()));
    else
        countLabel->setText(tr("%n clients", nullptr, total));
}

void ClientListBar::orderChosen(int index)
{
    list->setOrder(ClientRowKeys::Order(orderBox->itemData(index).toInt()));
}
