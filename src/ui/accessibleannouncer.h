#pragma once

#include <QString>
#include <QWidget>

// Tells assistive technology of what happens in the window away from the keyboard focus (the
// VPN connecting, the management connection lost, clients coming and going). Screen readers
// speak an accessible notification as it appears, so each message shows this widget anew as
// a notification that carries the message as its name. It takes no room and draws nothing.
class AccessibleAnnouncer final : public QWidget
{
    Q_OBJECT

public:
    explicit AccessibleAnnouncer(QWidget *parent);
    Q_DISABLE_COPY_MOVE(AccessibleAnnouncer)

    void announce(const QString &message);
    // The last message announced.
    QString message() const { return text; }

private:
    QString text;
};
