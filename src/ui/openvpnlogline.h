#pragma once

#include <QColor>
#include <QString>
#include <QStringView>

// One OpenVPN log notification ("<time>,<flags>,<message>", the text after ">LOG:") made ready
// for the log view: a time stamp and a message coloured by its flags.
class OpenVpnLogLine final
{
public:
    // Splits a notification. The message is every field from the third on, joined by commas
    // again, because OpenVPN does not escape commas inside its messages. A notification with
    // fewer than three fields has no time and no flags: it is shown whole and uncoloured.
    static OpenVpnLogLine parse(const QString &log);
    // As parse(), but leaves the time stamp to the caller: `seconds` holds the time. Formatting
    // a time costs more than everything else here, and a busy log has many lines per second.
    static OpenVpnLogLine split(const QString &log);
    // The message field of a notification as parse() takes it (every field from the third
    // on), or the whole notification when it has fewer than three fields; no line feed added.
    static QStringView messageField(QStringView log);

    // "yy.MM.dd hh:mm:ss" in local time for seconds since the epoch, as OpenVPN reports times.
    static QString formatTime(quint64 seconds);
    // The log's time stamp: "[" + formatTime(seconds) + "] ".
    static QString formatTimestamp(quint64 seconds);

    static QColor timestampColour();
    // The message colour for a flags field: by its first letter I, F, N or W, else the default.
    static QColor messageColour(QStringView flags);

    // True when the notification had its three fields.
    bool hasFields = false;
    // Empty when !hasFields, and after split().
    QString timestamp;
    // Seconds since the epoch of the time field; 0 when it does not parse or !hasFields.
    quint64 seconds = 0;
    // Always ends with a line feed.
    QString message;
    // Invalid (no colour) when !hasFields.
    QColor colour;
};
