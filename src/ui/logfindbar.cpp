#include "ui/logfindbar.h"

#include "ui/textterminal.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QToolButton>

namespace {

QTextCharFormat highlightFormat(const QColor &background)
{
    QTextCharFormat format;
    format.setBackground(background);
    format.setForeground(Qt::black);
    return format;
}

} // namespace

LogFindBar::LogFindBar(TextTerminal *terminal, QWidget *parent)
    : QWidget(parent)
    , terminal(terminal)
    , finder(terminal->document())
{
    field = new QLineEdit;
    field->setObjectName(QStringLiteral("findField"));
    field->setPlaceholderText(tr("Find in the log"));
    field->setAccessibleName(tr("Find in the log"));
    field->setClearButtonEnabled(true);
    // The clear button shows only an icon.
    for (QToolButton *button : field->findChildren<QToolButton *>())
        button->setAccessibleName(tr("Clear the search text"));
    field->installEventFilter(this);
    previousButton = new QPushButton(tr("Previous"));
    previousButton->setObjectName(QStringLiteral("findPreviousButton"));
    nextButton = new QPushButton(tr("Next"));
    nextButton->setObjectName(QStringLiteral("findNextButton"));
    countLabel = new QLabel;
    countLabel->setObjectName(QStringLiteral("findCountLabel"));
    closeButton = new QToolButton;
    closeButton->setObjectName(QStringLiteral("findCloseButton"));
    closeButton->setAutoRaise(true);
    closeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    closeButton->setToolTip(tr("Close the find bar (Esc)"));
    closeButton->setAccessibleName(tr("Close the find bar"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(field, 1);
    layout->addWidget(previousButton);
    layout->addWidget(nextButton);
    layout->addWidget(countLabel);
    layout->addWidget(closeButton);

    // In the log view as in the bar: the reader's eyes are on the log.
    const auto newAction = [this, terminal](const QKeySequence &key, void (LogFindBar::*slot)()) {
        auto *action = new QAction(this);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        action->setEnabled(false);
        addAction(action);
        terminal->addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    nextAction = newAction(QKeySequence(Qt::Key_F3), &LogFindBar::findNext);
    previousAction = newAction(QKeySequence(Qt::SHIFT | Qt::Key_F3), &LogFindBar::findPrevious);
    closeAction = newAction(QKeySequence(Qt::Key_Escape), &LogFindBar::dismiss);

    connect(field, &QLineEdit::textChanged, this, &LogFindBar::search);
    connect(previousButton, &QPushButton::clicked, this, &LogFindBar::findPrevious);
    connect(nextButton, &QPushButton::clicked, this, &LogFindBar::findNext);
    connect(closeButton, &QToolButton::clicked, this, &LogFindBar::dismiss);
    connect(&finder, &LogFinder::matchesChanged, this, &LogFindBar::showMatches);
    connect(terminal->verticalScrollBar(), &QScrollBar::valueChanged, this, &LogFindBar::scheduleHighlights);
    connect(terminal->verticalScrollBar(), &QScrollBar::rangeChanged, this, &LogFindBar::scheduleHighlights);
    hide();
}

void LogFindBar::open()
{
    const bool wasHidden = isHidden();
    show();
    for (QAction *action : {nextAction, previousAction, closeAction})
        action->setEnabled(true);
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
    if (wasHidden)
        search();
}

void LogFindBar::dismiss()
{
    if (isHidden())
        return;
    for (QAction *action : {nextAction, previousAction, closeAction})
        action->setEnabled(false);
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    finder.find(QString());
    if (hadFocus)
        terminal->setFocus(Qt::OtherFocusReason);
}

bool LogFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                findPrevious();
            else
                findNext();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LogFindBar::search()
{
    if (isHidden())
        return;
    finder.find(field->text(), topOfView());
    if (finder.count() > 0)
        terminal->reveal(finder.current());
}

void LogFindBar::findNext()
{
    if (finder.count() > 0)
        terminal->reveal(finder.next());
}

void LogFindBar::findPrevious()
{
    if (finder.count() > 0)
        terminal->reveal(finder.previous());
}

void LogFindBar::showMatches()
{
    if (finder.text().isEmpty())
        countLabel->clear();
    else if (finder.count() == 0)
        countLabel->setText(tr("No match"));
    else
        countLabel->setText(tr("%1 of %2").arg(finder.currentNumber()).arg(finder.count()));
    previousButton->setEnabled(finder.count() > 0);
    nextButton->setEnabled(finder.count() > 0);
    scheduleHighlights();
}

void LogFindBar::scheduleHighlights()
{
    // Once per turn of the event loop however many lines and scroll steps it brought.
    if (highlightPosted)
        return;
    highlightPosted = true;
    QMetaObject::invokeMethod(this, &LogFindBar::highlight, Qt::QueuedConnection);
}

void LogFindBar::highlight()
{
    highlightPosted = false;
    QList<QTextEdit::ExtraSelection> selections;
    if (finder.count() > 0) {
        static const QTextCharFormat matchFormat = highlightFormat(QColor(255, 230, 0));
        static const QTextCharFormat currentFormat = highlightFormat(QColor(255, 140, 0));
        const QTextBlock last = terminal->blockAt(terminal->viewport()->height() - 1);
        const int currentStart = finder.current().selectionStart();
        const int first = terminal->blockAt(0).position();
        for (const int start : finder.startsIn(first, last.position() + last.length())) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(terminal->document());
            selection.cursor.setPosition(start);
            selection.cursor.setPosition(start + finder.matchLength(), QTextCursor::KeepAnchor);
            selection.format = start == currentStart ? currentFormat : matchFormat;
            selections.append(selection);
        }
    }
    if (!selections.isEmpty() || !terminal->extraSelections().isEmpty())
        terminal->setExtraSelections(selections);
}

int LogFindBar::topOfView() const
{
    QTextBlock block = terminal->blockAt(0);
    // A line cut off at the top is not in view: a match there would scroll the view.
    if (terminal->cursorRect(QTextCursor(block)).top() < 0 && block.next().isValid())
        block = block.next();
    return block.position();
}
