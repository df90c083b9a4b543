#pragma once

#include <QColor>
#include <QString>

// One OpenVPN log notification ("<time>,<flags>,<message>", the text after ">LOG:") made ready
// for the log view: a time stamp and a message coloured by its flags.
class OpenVpnLogLine final
{
public:
    // Splits a notification. The message is every field from the third on, joined by commas
    // again, because OpenVPN does not escape commas inside its messages. A notification with
    // fewer than three fields has no time and no flags: it is shown whole and uncoloured.
    static OpenVpnLogLine parse(const QString &log);

    // "yy.MM.dd hh:mm:ss" in local time for seconds since the epoch, as OpenVPN reports times.
    static QString formatTime(quint64 seconds);
    // The log's time stamp: "[" + formatTime(seconds) + "] ".
    static QString formatTimestamp(quint64 seconds);

    static QColor timestampColour();
    // The message colour for a flags field: by its first letter I, F, N or W, else the default.
    static QColor messageColour(const QString &flags);

    // True when the notification had its three fields.
    bool hasFields = false;
    // Empty when !hasFields.
    QString timestamp;
    // Always ends with a line feed.
    QString message;
    // Invalid (no colour) when !hasFields.
    QColor colour;
};
