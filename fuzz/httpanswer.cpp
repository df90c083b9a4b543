// Arbitrary bytes as a router's answer to a login or command, after one byte that sets the
// size of the pieces they arrive in. Whatever comes, the reader's memory stays bounded, the
// outcome does not depend on how the bytes were split, and the Set-Cookie value it keeps
// becomes a Cookie header that stays one header line.
#include "fuzzcheck.h"

#include "router/httpanswerparser.h"
#include "router/pylonvpnhttpadmin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzCheck::InputReader input(data, size);
    const qsizetype piece = qMax<qsizetype>(1, input.takeByte());
    const QByteArrayView answer = input.rest();

    HttpAnswerParser whole;
    whole.addData(answer);
    HttpAnswerParser pieces;
    for (qsizetype at = 0; at < answer.size(); at += piece)
        pieces.addData(answer.sliced(at, qMin(piece, answer.size() - at)));

    FUZZ_CHECK(whole.state() == pieces.state());
    FUZZ_CHECK(whole.status() == pieces.status());
    FUZZ_CHECK(whole.hasSetCookie() == pieces.hasSetCookie());
    FUZZ_CHECK(whole.setCookie() == pieces.setCookie());
    FUZZ_CHECK(whole.setCookie().size() <= HttpAnswerParser::maximumAnswerSize);
    if (whole.state() == HttpAnswerParser::Complete)
        FUZZ_CHECK(whole.status() >= 200 && whole.status() <= 999);
    // Past the limit nothing completes.
    if (answer.size() > HttpAnswerParser::maximumAnswerSize && whole.state() == HttpAnswerParser::Complete) {
        HttpAnswerParser limited;
        limited.addData(answer.first(HttpAnswerParser::maximumAnswerSize));
        FUZZ_CHECK(limited.state() == HttpAnswerParser::Complete);
    }

    const HttpAnswerParser::State ended = whole.endOfData();
    FUZZ_CHECK(ended != HttpAnswerParser::Incomplete);
    FUZZ_CHECK(whole.endOfData() == ended);

    const QByteArray cookie = PylonVpnHttpAdmin::cookieOf(whole.setCookie()).toLatin1();
    FUZZ_CHECK(!cookie.contains('\r') && !cookie.contains('\n') && !cookie.contains('\0'));
    return 0;
}
