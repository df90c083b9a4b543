#include "ui/openvpnlogline.h"

#include <QDateTime>

namespace {

// Where the message field starts, -1 when the notification has fewer than three fields; the
// first comma goes to `firstComma`.
qsizetype messageStart(QStringView log, qsizetype &firstComma)
{
    firstComma = log.indexOf(u',');
    const qsizetype secondComma = firstComma < 0 ? -1 : log.indexOf(u',', firstComma + 1);
    return secondComma < 0 ? -1 : secondComma + 1;
}

} // namespace

OpenVpnLogLine OpenVpnLogLine::parse(const QString &log)
{
    OpenVpnLogLine line = split(log);
    if (line.hasFields)
        line.timestamp = formatTimestamp(line.seconds);
    return line;
}

OpenVpnLogLine OpenVpnLogLine::split(const QString &log)
{
    OpenVpnLogLine line;
    qsizetype firstComma = -1;
    const qsizetype start = messageStart(log, firstComma);
    if (start < 0) {
        line.message = log;
    } else {
        line.hasFields = true;
        bool ok = false;
        const quint64 seconds = QStringView(log).left(firstComma).trimmed().toULongLong(&ok);
        line.seconds = ok ? seconds : 0;
        line.colour = messageColour(QStringView(log).sliced(firstComma + 1, start - firstComma - 2));
        line.message = log.mid(start);
    }
    if (!line.message.endsWith(QLatin1Char('\n')))
        line.message.append(QLatin1Char('\n'));
    return line;
}

QStringView OpenVpnLogLine::messageField(QStringView log)
{
    qsizetype firstComma = -1;
    const qsizetype start = messageStart(log, firstComma);
    return start < 0 ? log : log.mid(start);
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

QColor OpenVpnLogLine::messageColour(QStringView flags)
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
