#include "ui/clientrowkeys.h"

#include "management/peertext.h"

#include <QCollator>
#include <QLocale>

#include <array>
#include <limits>

namespace {

constexpr int clientLineFields = 8;

// Names as a person sorts them: "client2" before "client10", "alice" beside "Alice", and the
// letters of the user's language in their places.
const QCollator &nameCollator()
{
    static const QCollator collator = [] {
        QLocale locale;
        // In the C locale the collator compares code points and ignores the options below;
        // the common order of the letters does what they ask.
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English);
        QCollator result(locale);
        result.setNumericMode(true);
        result.setCaseSensitivity(Qt::CaseInsensitive);
        return result;
    }();
    return collator;
}

// A count or a time: decimal digits, white space around them allowed; 0 for anything else
// (and for a number beyond 64 bits).
quint64 number(QStringView field)
{
    field = field.trimmed();
    quint64 value = 0;
    for (const QChar c : field) {
        const char16_t digit = c.unicode() - u'0';
        if (digit > 9 || value > (std::numeric_limits<quint64>::max() - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

// Negative when a comes first in an order from the biggest down.
int descending(quint64 a, quint64 b)
{
    return a > b ? -1 : int(a < b);
}

// Takes the field into the text and its folded form unless the text holds it already; true
// when it changed.
bool take(QString &text, QString &folded, QStringView field)
{
    if (field == text)
        return false;
    text = field.toString();
    folded = text.toCaseFolded();
    return true;
}

} // namespace

ClientRowKeys::ClientRowKeys(const QString &name, quint64 appeared)
    : shownName(PeerText::shown(name))
    , foldedName(shownName.toCaseFolded())
    , appeared(appeared)
{
}

bool ClientRowKeys::setLine(QStringView line)
{
    // Split by hand: this runs for every client line that changed, thousands per poll.
    std::array<QStringView, clientLineFields> fields;
    qsizetype from = 0;
    for (QStringView &field : fields) {
        const qsizetype comma = from < 0 ? -1 : line.indexOf(QLatin1Char(','), from);
        field = from < 0 ? QStringView() : line.mid(from, comma < 0 ? -1 : comma - from);
        from = comma < 0 ? -1 : comma + 1;
    }
    // Eight fields exactly, or none at all.
    if (from >= 0 || fields.back().isNull())
        fields = {};
    sentBytes = number(fields[4]);
    receivedBytes = number(fields[5]);
    connectedSince = number(fields[7]);
    // Most lines only bring new byte counts.
    const bool realChanged = take(realAddress, foldedRealAddress, fields[2]);
    return take(vpnAddress, foldedVpnAddress, fields[3]) || realChanged;
}

QString ClientRowKeys::filterText(const QString &typed)
{
    return typed.trimmed().toCaseFolded();
}

bool ClientRowKeys::matches(const QString &filter) const
{
    return foldedName.contains(filter) || foldedRealAddress.contains(filter) || foldedVpnAddress.contains(filter);
}

bool ClientRowKeys::before(const ClientRowKeys &other, Order order) const
{
    int compared = 0;
    switch (order) {
    case NameOrder: compared = nameKey().compare(other.nameKey()); break;
    // Descending: the newest connection, the biggest count first.
    case ConnectedSinceOrder: compared = descending(connectedSince, other.connectedSince); break;
    case SentBytesOrder: compared = descending(sentBytes, other.sentBytes); break;
    case ReceivedBytesOrder: compared = descending(receivedBytes, other.receivedBytes); break;
    case AnswerOrder: break;
    }
    // Ties keep the order of the answers, so that the rows' order follows from their values alone.
    return compared != 0 ? compared < 0 : appeared < other.appeared;
}

const QCollatorSortKey &ClientRowKeys::nameKey() const
{
    if (!collationKey)
        collationKey.emplace(nameCollator().sortKey(shownName));
    return *collationKey;
}
