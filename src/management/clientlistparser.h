#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Turns the answer to "status 2" into the client rows the status tab shows.
//
// OpenVPN 2.0-2.2 send eight fields per CLIENT_LIST line; later versions send more (2.6 sends
// thirteen) and name the columns in a "HEADER,CLIENT_LIST,..." line. Every client line is
// brought into the eight-field layout the client panel reads:
//   CLIENT_LIST, common name, real address, virtual address, bytes received, bytes sent,
//   connected since (text), connected since (time_t)
class ClientListParser final
{
public:
    struct Client
    {
        // Key of the row.
        QString commonName;
        // The line in the eight-field layout, without line terminator; empty when the line
        // lacks a column the panel shows (the row is kept, its panel left as it was).
        QString line;
        // The connection's client ID (OpenVPN 2.4 and later name a "Client ID" column), which
        // "client-kill" takes; -1 when the answer gives none.
        qint64 clientId = -1;
    };

    // Client lines in answer order. Lines that are no client lines, and client lines without a
    // common name field, are left out.
    static QList<Client> parse(const QStringList &status);

    // The line without its trailing CR/LF characters.
    static QString withoutTerminator(const QString &line);
};
