#pragma once

#include <QCollatorSortKey>
#include <QString>
#include <QStringView>

#include <optional>

// What the client list's filter and orders read from one client: its name as the panel shows
// it, its two addresses, when it connected and its byte counts. They are read once per line
// that changed, so that neither a key typed into the filter nor a sort of thousands of
// clients reads a line again.
class ClientRowKeys final
{
public:
    // The orders the list offers. The first is the order in which the clients first appeared
    // in the answers; names go A to Z, connection times from the newest, byte counts from the
    // biggest.
    enum Order { AnswerOrder, NameOrder, ConnectedSinceOrder, SentBytesOrder, ReceivedBytesOrder };

    // The client with this name (the row's key), the appeared-th to appear in the list.
    ClientRowKeys(const QString &name, quint64 appeared);

    // Reads a client line in the eight-field layout, as the panel shows it; any other line
    // (or none) leaves the name alone, without addresses, and 0 for the numbers. True when
    // what matches() reads changed.
    bool setLine(QStringView line);

    // The text typed into the filter as matches() takes it; empty for no filter.
    static QString filterText(const QString &typed);
    // Whether the name as shown, the real address or the VPN address contains the filter text,
    // whatever the case.
    bool matches(const QString &filter) const;
    // Whether this client comes before the other one in that order; clients with the same
    // value stay in the order in which they first appeared.
    bool before(const ClientRowKeys &other, Order order) const;

private:
    const QCollatorSortKey &nameKey() const;

    QString shownName;
    QString foldedName;
    QString realAddress;
    QString vpnAddress;
    QString foldedRealAddress;
    QString foldedVpnAddress;
    quint64 appeared = 0;
    quint64 connectedSince = 0;
    quint64 sentBytes = 0;
    quint64 receivedBytes = 0;
    // Made when the names are first sorted: most lists are never sorted by name.
    mutable std::optional<QCollatorSortKey> collationKey;
};
