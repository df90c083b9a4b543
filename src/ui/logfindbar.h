#pragma once

#include "ui/logfinder.h"

#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TextTerminal;

// The find bar under the log view: a field, Previous and Next, and how many matches there
// are. Enter and F3 go to the next match, Shift+Enter and Shift+F3 to the previous one, Esc
// closes the bar; F3 and Esc work in the log view too. The matches in view are highlighted,
// the current one apart; the rest are not, because a log of thousands of lines can hold
// thousands of them. Going to a match scrolls the view as a user's gesture would, so new
// lines leave the view where it is unless it ends at the bottom.
class LogFindBar final : public QWidget
{
    Q_OBJECT

public:
    explicit LogFindBar(TextTerminal *terminal, QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(LogFindBar)

    // Shows the bar and gives its field the keyboard focus, its text selected; a text left
    // from before is searched for again.
    void open();
    // Hides the bar, ends the search and its highlights and gives the focus to the log view.
    void dismiss();

    const LogFinder &matches() const { return finder; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void findNext();
    void findPrevious();
    void showMatches();
    void scheduleHighlights();
    void highlight();
    // The document position of the first line wholly in view.
    int topOfView() const;

    TextTerminal *terminal;
    LogFinder finder;
    QLineEdit *field = nullptr;
    QPushButton *previousButton = nullptr;
    QPushButton *nextButton = nullptr;
    QLabel *countLabel = nullptr;
    QToolButton *closeButton = nullptr;
    QAction *nextAction = nullptr;
    QAction *previousAction = nullptr;
    QAction *closeAction = nullptr;
    bool highlightPosted = false;
};
