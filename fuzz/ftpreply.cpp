// Arbitrary bytes as an FTP control connection, fed to the reply parser in arbitrary pieces.
// The first two input bytes seed the cutting (so the seed corpus is real server transcripts
// behind two bytes); the rest is the stream. The replies must not depend on the cutting nor
// on when they are taken, codes are 0 or 100-599, texts stay within the cap, and the passive
// reply parse of every text gives a usable address or nothing.
#include "fuzzcheck.h"

#include "router/ftpreplyparser.h"

#include <QHostAddress>

namespace {

using Replies = QList<FtpReplyParser::Reply>;

Replies takeAll(FtpReplyParser &parser)
{
    Replies replies;
    while (parser.hasReply())
        replies.append(parser.takeReply());
    return replies;
}

bool sameReplies(const Replies &a, const Replies &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).code != b.at(i).code || a.at(i).text != b.at(i).text)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzCheck::InputReader input(data, size);
    quint32 seed = quint32(input.takeByte()) << 8 | input.takeByte();
    const QByteArrayView stream = input.rest();

    FtpReplyParser whole;
    whole.addData(stream);
    const Replies expected = takeAll(whole);

    // Pieces of 0 to 31 bytes, empty ones included, replies taken now and then on the way.
    FtpReplyParser pieces;
    Replies cut;
    QByteArrayView left = stream;
    while (!left.isEmpty()) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype length = qMin<qsizetype>((seed >> 16) & 31, left.size());
        pieces.addData(left.first(length));
        left = left.sliced(length);
        if ((seed >> 24) & 1)
            cut += takeAll(pieces);
    }
    cut += takeAll(pieces);
    FUZZ_CHECK(sameReplies(cut, expected));

    // One byte at a time, for inputs small enough to keep the fuzzer fast.
    if (stream.size() <= 4096) {
        FtpReplyParser bytes;
        for (const char c : stream)
            bytes.addData(QByteArrayView(&c, 1));
        FUZZ_CHECK(sameReplies(takeAll(bytes), expected));
    }

    for (const FtpReplyParser::Reply &reply : expected) {
        FUZZ_CHECK(reply.code == 0 || (reply.code >= 100 && reply.code <= 599));
        FUZZ_CHECK(reply.isValid() == (reply.code != 0));
        // The cap, one line's worth of text and its separator more at most.
        FUZZ_CHECK(reply.text.size() <= FtpReplyParser::maximumTextLength + FtpReplyParser::maximumLineLength + 1);
        QHostAddress address;
        quint16 port = 0;
        if (FtpReplyParser::parsePassiveReply(reply.text, &address, &port)) {
            FUZZ_CHECK(port != 0);
            FUZZ_CHECK(address.protocol() == QAbstractSocket::IPv4Protocol);
        }
    }

    // A cleared parser starts afresh.
    whole.addData(stream.first(stream.size() / 2));
    whole.clear();
    FUZZ_CHECK(!whole.hasReply());
    whole.addData(stream);
    FUZZ_CHECK(sameReplies(takeAll(whole), expected));
    return 0;
}
