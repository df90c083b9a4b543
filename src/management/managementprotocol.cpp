#include "management/managementprotocol.h"

#include <QLatin1StringView>

namespace ManagementProtocol {

namespace {

// Indexed by Notification.
constexpr QLatin1StringView prefixes[] = {
    QLatin1StringView(),
    QLatin1StringView(">ECHO:"),
    QLatin1StringView(">FATAL:"),
    QLatin1StringView(">HOLD:"),
    QLatin1StringView(">INFO:"),
    QLatin1StringView(">LOG:"),
    QLatin1StringView(">CLIENT:"),
    QLatin1StringView(">PASSWORD:"),
    QLatin1StringView(">STATE:"),
};

constexpr QLatin1StringView endPrefix("END");
constexpr QLatin1StringView errorPrefix("ERROR:");

// Whether `line` begins with `prefix` from its `from`th character on: the ASCII prefixes
// compared in place, which the library's general comparison takes several times as long for.
bool hasPrefixFrom(QStringView line, QLatin1StringView prefix, qsizetype from)
{
    if (line.size() < prefix.size())
        return false;
    for (qsizetype i = from; i < prefix.size(); ++i) {
        if (line[i] != prefix[i])
            return false;
    }
    return true;
}

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}

bool endsCommand(QChar c)
{
    return isLineBreak(c) || c == u'\0';
}

} // namespace

Notification notificationKind(QStringView line)
{
    // The keywords differ in their first letter, so one look at it picks the only
    // candidate; the prefix test then decides.
    if (line.size() < 2 || line.front() != u'>')
        return Notification::None;
    Notification kind = Notification::None;
    switch (line.at(1).unicode()) {
    case 'E': kind = Notification::Echo; break;
    case 'F': kind = Notification::Fatal; break;
    case 'H': kind = Notification::Hold; break;
    case 'I': kind = Notification::Info; break;
    case 'L': kind = Notification::Log; break;
    case 'C': kind = Notification::Client; break;
    case 'P': kind = Notification::Password; break;
    case 'S': kind = Notification::State; break;
    default: return Notification::None;
    }
    return hasPrefixFrom(line, prefixes[int(kind)], 2) ? kind : Notification::None;
}

qsizetype prefixLength(Notification kind)
{
    return prefixes[int(kind)].size();
}

bool isEnd(QStringView line)
{
    return line.startsWith(endPrefix);
}

bool isError(QStringView line)
{
    return line.startsWith(errorPrefix);
}

bool beginsWithTimestamp(QStringView line)
{
    return !line.isEmpty() && line.front() >= u'0' && line.front() <= u'9';
}

QStringView stateWord(QStringView line)
{
    const qsizetype first = line.indexOf(u',');
    if (first < 0)
        return {};
    const qsizetype second = line.indexOf(u',', first + 1);
    QStringView word = second < 0 ? line.mid(first + 1) : line.sliced(first + 1, second - first - 1);
    while (!word.isEmpty() && isLineBreak(word.back()))
        word.chop(1);
    return word;
}

bool repliesWithHistory(QStringView command)
{
    command = command.trimmed();
    const qsizetype space = command.lastIndexOf(u' ');
    const QStringView lastWord = space < 0 ? command : command.mid(space + 1);
    return lastWord != u"on" && lastWord != u"off";
}

bool killableByName(QStringView commonName)
{
    return !commonName.contains(u':');
}

QString singleLine(const QString &value)
{
    QString line = value;
    line.removeIf(endsCommand);
    return line;
}

QString quoted(const QString &value)
{
    QString result;
    result.reserve(value.size() + 2);
    result += u'"';
    for (const QChar c : value) {
        if (endsCommand(c))
            continue;
        if (c == u'\\' || c == u'"')
            result += u'\\';
        result += c;
    }
    result += u'"';
    return result;
}

} // namespace ManagementProtocol
