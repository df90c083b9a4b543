#pragma once

#include <QTextEdit>

class QTextBlock;
class QTextCursor;
class QWheelEvent;

// The read-only, fixed-pitch log view. It follows new text to the bottom until the user
// leaves the bottom by dragging the scroll-bar handle or turning the wheel, and follows
// again once either gesture brings the view back to the very end.
class TextTerminal final : public QTextEdit
{
    Q_OBJECT

public:
    explicit TextTerminal(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(TextTerminal)

    // Scrolls the text at the cursor into the middle of the view unless it is in view
    // already. Like a user's gesture, this decides whether the view goes on following new
    // text: only while it ends at the very bottom.
    void reveal(const QTextCursor &cursor);
    // The line (block) at the height y of the viewport, the last one below the text. Found by
    // halving: cursorForPosition() walks every line above it, thousands in a full log.
    QTextBlock blockAt(int y) const;

protected:
    void wheelEvent(QWheelEvent *event) override;

private slots:
    void checkScroll(int value);
    void scroll();

private:
    bool autoScroll = true;
};
