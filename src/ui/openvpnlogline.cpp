#include "ui/openvpnlogline.h"

#include <QDateTime>

OpenVpnLogLine OpenVpnLogLine::parse(const QString &log)
{
    OpenVpnLogLine line;
    const qsizetype firstComma = log.indexOf(QLatin1Char(','));
    const qsizetype secondComma = firstComma < 0 ? -1 : log.indexOf(QLatin1Char(','), firstComma + 1);
    if (secondComma < 0) {
        line.message = log;
    } else {
        line.hasFields = true;
        bool ok = false;
        quint64 seconds = log.left(firstComma).trimmed().toULongLong(&ok);
        if (!ok)
            seconds = 0;
        line.timestamp = formatTimestamp(seconds);
        line.colour = messageColour(log.mid(firstComma + 1, secondComma - firstComma - 1));
        line.message = log.mid(secondComma + 1);
    }
    if (!line.message.endsWith(QLatin1Char('\n')))
        line.message.append(QLatin1Char('\n'));
    return line;
}

QString OpenVpnLogLine::formatTime(quint64 seconds)
{
    // Seconds beyond what a date can hold are shown as the epoch rather than as garbage.
    constexpr quint64 latest = 253402300799; // 9999-12-31 23:59:59 UTC
    const qint64 secs = seconds > latest ? 0 : qint64(seconds);
    return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yy.MM.dd hh:mm:ss"));
}

QString OpenVpnLogLine::formatTimestamp(quint64 seconds)
{
    return QLatin1Char('[') % formatTime(seconds) % QLatin1String("] ");
}

QColor OpenVpnLogLine::timestampColour()
{
    return QColor(127, 127, 127);
}

QColor OpenVpnLogLine::messageColour(const QString &flags)
{
    const QChar first = flags.isEmpty() ? QChar() : flags.at(0);
    if (first == QLatin1Char('I'))
        return QColor(0, 127, 255);
    if (first == QLatin1Char('F'))
        return QColor(255, 0, 0);
    if (first == QLatin1Char('N'))
        return QColor(255, 0, 255);
    if (first == QLatin1Char('W'))
        return QColor(255, 127, 0);
    return QColor(0, 255, 127);
}
