// Arbitrary bytes as OpenVPN's answer to "status 2", cut into lines as the transport hands them
// up (at line feeds, terminator kept, cut at a NUL, decoded by the transport), through the
// client list parser that feeds the server-mode client list: CLIENT_LIST lines of any version,
// HEADER lines that name the columns in any order, and whatever else. Every line's text goes
// back as the bytes it came from, only those two kinds of line may count, every client row
// comes from a client line, a row for the client panel has its eight fields, and a client's
// name is shown differently from every other.
#include "fuzzcheck.h"

#include "management/clientlistparser.h"
#include "management/peertext.h"
#include "management/qttelnet.h"

#include <QHash>

#include <QStringList>

namespace {

QStringList transportLines(QByteArrayView bytes)
{
    QStringList lines;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        QByteArrayView line = end < 0 ? bytes : bytes.first(end + 1);
        bytes = bytes.sliced(line.size());
        const QString text = QtTelnet::lineFromBytes(line.data(), line.size());
        const qsizetype nul = line.indexOf('\0');
        FUZZ_CHECK(QtTelnet::bytesFromLine(text) == (nul < 0 ? line : line.first(nul)));
        lines.append(text);
    }
    return lines;
}

bool sameClients(const QList<ClientListParser::Client> &a, const QList<ClientListParser::Client> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).commonName != b.at(i).commonName || a.at(i).line != b.at(i).line)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList lines = transportLines(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QList<ClientListParser::Client> clients = ClientListParser::parse(lines);

    QStringList relevant;
    qsizetype clientLines = 0;
    bool header = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("CLIENT_LIST"))) {
            relevant.append(line);
            ++clientLines;
        } else if (line.startsWith(QLatin1String("HEADER,CLIENT_LIST,"))) {
            relevant.append(line);
            header = true;
        }
    }
    FUZZ_CHECK(clients.size() <= clientLines);
    FUZZ_CHECK(sameClients(clients, ClientListParser::parse(relevant)));

    QHash<QString, QString> shownNames;
    for (const ClientListParser::Client &client : clients) {
        const QString shown = PeerText::shown(client.commonName);
        FUZZ_CHECK(shownNames.value(shown, client.commonName) == client.commonName);
        shownNames.insert(shown, client.commonName);
        // A bare CR inside a line is field text like any other; only the terminator goes.
        FUZZ_CHECK(!client.line.contains(u'\n'));
        if (client.line.isEmpty())
            continue;
        const QStringList fields = client.line.split(u',');
        FUZZ_CHECK(fields.first().startsWith(QLatin1String("CLIENT_LIST")));
        // With column names the line is rebuilt in the eight-field layout, key second.
        if (header && fields.first() == QLatin1String("CLIENT_LIST") && fields.size() == 8)
            FUZZ_CHECK(fields.at(1) == client.commonName);
        FUZZ_CHECK(fields.contains(client.commonName));
    }

    // The terminator makes no difference.
    QStringList bare;
    for (const QString &line : lines)
        bare.append(ClientListParser::withoutTerminator(line));
    FUZZ_CHECK(sameClients(clients, ClientListParser::parse(bare)));
    return 0;
}
