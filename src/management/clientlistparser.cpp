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

// For each column of the eight-field layout (after CLIENT_LIST), its index in a client line of
// this answer; -1 for a column the answer does not name.
using ColumnMap = std::array<int, 7>;

ColumnMap eightFieldLayout()
{
    return {1, 2, 3, 4, 5, 6, 7};
}

// Reads the column names of a HEADER line. The HEADER line has one leading token ("HEADER")
// more than the client lines, so HEADER field i is client field i - 1.
bool headerColumns(const QString &line, ColumnMap &map)
{
    const QStringList names = ClientListParser::withoutTerminator(line).split(QLatin1Char(','));
    for (size_t column = 0; column < columnNames.size(); ++column) {
        const qsizetype at = names.indexOf(columnNames[column], 2);
        map[column] = at < 0 ? -1 : int(at - 1);
    }
    for (size_t column = 0; column < columnNames.size(); ++column) {
        if (map[column] < 0 && int(column) != connectedSinceText)
            return false;
    }
    return true;
}

} // namespace

QString ClientListParser::withoutTerminator(const QString &line)
{
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1) == QLatin1Char('\n') || line.at(end - 1) == QLatin1Char('\r')))
        --end;
    return line.left(end);
}

QList<ClientListParser::Client> ClientListParser::parse(const QStringList &status)
{
    ColumnMap map = eightFieldLayout();
    bool header = false;
    for (const QString &line : status) {
        if (line.startsWith(headerPrefix)) {
            header = headerColumns(line, map);
            if (!header)
                map = eightFieldLayout();
            break;
        }
    }

    QList<Client> clients;
    for (const QString &raw : status) {
        if (!raw.startsWith(clientListWord))
            continue;
        const QStringList fields = withoutTerminator(raw).split(QLatin1Char(','));
        const int keyField = map[0];
        if (fields.size() <= keyField)
            continue;

        Client client;
        client.commonName = fields.at(keyField);
        if (!header) {
            // The panel itself refuses lines of another length than eight.
            client.line = fields.join(QLatin1Char(','));
        } else if (fields.at(0) == clientListWord) {
            QStringList eight{clientListWord};
            bool complete = true;
            for (const int at : map) {
                if (at >= fields.size()) {
                    complete = false;
                    break;
                }
                eight.append(at < 0 ? QString() : fields.at(at));
            }
            if (complete)
                client.line = eight.join(QLatin1Char(','));
        }
        clients.append(client);
    }
    return clients;
}
