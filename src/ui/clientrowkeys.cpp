#include "ui/clientrowkeys.h"

#include "management/peertext.h"

#include <QCollator>
#include <QLocale>

#include <array>

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

quint64 number(QStringView field)
{
    return field.trimmed().toULongLong();
}

// Negative when a comes first in an order from the biggest down.
int descending(quint64 a, quint64 b)
{
    return a > b ? -1 : int(a < b);
}

} // namespace

ClientRowKeys::ClientRowKeys(const QString &name, quint64 appeared)
    : shownName(PeerText::shown(name))
    , foldedName(shownName.toCaseFolded())
    , appeared(appeared)
{
}

void ClientRowKeys::setLine(QStringView line)
{
    std::array<QStringView, clientLineFields> fields;
    qsizetype count = 0;
    for (const QStringView field : line.tokenize(QLatin1Char(','))) {
        if (count < clientLineFields)
            fields[size_t(count)] = field;
        ++count;
    }
    if (count != clientLineFields)
        fields = {};
    foldedRealAddress = fields[2].toString().toCaseFolded();
    foldedVpnAddress = fields[3].toString().toCaseFolded();
    sentBytes = number(fields[4]);
    receivedBytes = number(fields[5]);
    connectedSince = number(fields[7]);
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
