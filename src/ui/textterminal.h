#pragma once

#include <QTextEdit>

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

protected:
    void wheelEvent(QWheelEvent *event) override;

private slots:
    void checkScroll(int value);
    void scroll();

private:
    bool autoScroll = true;
};
