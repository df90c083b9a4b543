#include "management/clientlistparser.h"

#include <array>

namespace {

const QString clientListWord = QStringLiteral("CLIENT_LIST");
const QString headerPrefix = QStringLiteral("HEADER,CLIENT_LIST,");

// Columns of the eight-field layout after the leading CLIENT_LIST, as the HEADER line names them.
// "Connected Since" (the text form) is shown nowhere, so a HEADER without it is still usable.
const std::array<QString, 7> columnNames = {
    QStringLiteral("Common Name"),
    QStringLiteral("Real Address"),
    QStringLiteral("Virtual Address"),
    QStringLiteral("Bytes Received"),
    QStringLiteral("Bytes Sent"),
    QStringLiteral("Connected Since"),
    QStringLiteral("Connected Since (time_t)"),
};
constexpr int connectedSinceText = 5;
const QString clientIdName = QStringLiteral("Client ID");

// For each column of the eight-field layout (after CLIENT_LIST), its index in a client line of
// this answer; -1 for a column the answer does not name.
using ColumnMap = std::array<int, 7>;

ColumnMap eightFieldLayout()
{
    return {1, 2, 3, 4, 5, 6, 7};
}

// The index in a client line of the column the HEADER line names so, or -1. The HEADER line
// has one leading token ("HEADER") more than the client lines, so HEADER field i is client
// field i - 1.
int clientField(const QStringList &headerNames, const QString &name)
{
    const qsizetype at = headerNames.indexOf(name, 2);
    return at < 0 ? -1 : int(at - 1);
}

// Reads the column names of a HEADER line.
bool headerColumns(const QString &line, ColumnMap &map, int &clientIdAt)
{
    const QStringList names = ClientListParser::withoutTerminator(line).split(QLatin1Char(','));
    for (size_t column = 0; column < columnNames.size(); ++column)
        map[column] = clientField(names, columnNames[column]);
    clientIdAt = clientField(names, clientIdName);
    for (size_t column = 0; column < columnNames.size(); ++column) {
        if (map[column] < 0 && int(column) != connectedSinceText)
            return false;
    }
    return true;
}

QStringView chopTerminator(QStringView line)
{
    while (!line.isEmpty() && (line.back() == QLatin1Char('\n') || line.back() == QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace

QString ClientListParser::withoutTerminator(const QString &line)
{
    return chopTerminator(line).toString();
}

QList<ClientListParser::Client> ClientListParser::parse(const QStringList &status)
{
    ColumnMap map = eightFieldLayout();
    bool header = false;
    int clientIdAt = -1;
    for (const QString &line : status) {
        if (line.startsWith(headerPrefix)) {
            header = headerColumns(line, map, clientIdAt);
            if (!header) {
                map = eightFieldLayout();
                clientIdAt = -1;
            }
            break;
        }
    }

    // A big server lists thousands of clients every few seconds: the fields are read in
    // place, and each client costs its name and its line.
    QList<Client> clients;
    QList<QStringView> fields;
    for (const QString &raw : status) {
        if (!raw.startsWith(clientListWord))
            continue;
        const QStringView line = chopTerminator(raw);
        fields.clear();
        for (const QStringView field : line.tokenize(QLatin1Char(',')))
            fields.append(field);
        const int keyField = map[0];
        if (fields.size() <= keyField)
            continue;

        Client client;
        client.commonName = fields.at(keyField).toString();
        if (clientIdAt >= 0 && clientIdAt < fields.size()) {
            bool ok = false;
            const qint64 id = fields.at(clientIdAt).toLongLong(&ok);
            if (ok && id >= 0)
                client.clientId = id;
        }
        if (!header) {
            // The panel itself refuses lines of another length than eight.
            client.line = line.toString();
        } else if (fields.at(0) == clientListWord) {
            bool complete = true;
            qsizetype length = clientListWord.size();
            for (const int at : map) {
                if (at >= fields.size()) {
                    complete = false;
                    break;
                }
                length += 1 + (at < 0 ? 0 : fields.at(at).size());
            }
            if (complete) {
                client.line.reserve(length);
                client.line.append(clientListWord);
                for (const int at : map) {
                    client.line.append(QLatin1Char(','));
                    if (at >= 0)
                        client.line.append(fields.at(at));
                }
            }
        }
        clients.append(std::move(client));
    }
    return clients;
}
