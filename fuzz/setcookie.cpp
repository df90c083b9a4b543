// Arbitrary bytes as the value of a login reply's "Set-Cookie" header (several headers arrive
// joined by line feeds): the cookie replayed as the "Cookie" request header, the cookie path
// taken from it and the command URL built under that path. Whatever the router sends, the
// Cookie header stays one header line and the command goes to the router it was meant for.
#include "fuzzcheck.h"

#include "router/pylonvpnhttpadmin.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray setCookie(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString cookie = PylonVpnHttpAdmin::cookieOf(setCookie);
    const QByteArray header = cookie.toLatin1();
    FUZZ_CHECK(QString::fromLatin1(header) == cookie);
    FUZZ_CHECK(!header.contains('\r') && !header.contains('\n') && !header.contains('\0'));
    // Nothing but line breaks is replaced, and only up to the first NUL.
    const qsizetype end = setCookie.indexOf('\0');
    const QByteArray kept = end < 0 ? setCookie : setCookie.left(end);
    QByteArray withoutBreaks = kept;
    withoutBreaks.replace('\r', "").replace('\n', "");
    QByteArray headerWithoutSeparators = header;
    FUZZ_CHECK(headerWithoutSeparators.replace("; ", "").size()
               <= withoutBreaks.size());
    FUZZ_CHECK(header.size() >= withoutBreaks.size());

    const QString current = QStringLiteral("/previous");
    const QString path = PylonVpnHttpAdmin::cookiePathOf(cookie, current);
    if (!cookie.contains(QLatin1String("path=")))
        FUZZ_CHECK(path == current);

    const QUrl queued(QStringLiteral("http://192.0.2.1:8080/mini/system/reboot?reboot=1"));
    const QUrl command = PylonVpnHttpAdmin::commandUrl(queued, path);
    // However the path reads, it cannot move the request to another host, port or scheme,
    // nor change its query.
    if (command.isValid()) {
        FUZZ_CHECK(command.scheme() == queued.scheme());
        FUZZ_CHECK(command.host() == queued.host());
        FUZZ_CHECK(command.port() == queued.port());
        FUZZ_CHECK(command.query(QUrl::FullyEncoded) == queued.query(QUrl::FullyEncoded));
        FUZZ_CHECK(command.userInfo().isEmpty());
        FUZZ_CHECK(!command.hasFragment());
        const QUrl reparsed(command.toString(QUrl::FullyEncoded), QUrl::StrictMode);
        FUZZ_CHECK(reparsed.isValid());
        FUZZ_CHECK(reparsed.host() == queued.host());
        FUZZ_CHECK(reparsed.port() == queued.port());
        FUZZ_CHECK(reparsed.query(QUrl::FullyEncoded) == queued.query(QUrl::FullyEncoded));
        FUZZ_CHECK(reparsed.path(QUrl::FullyEncoded).endsWith(QLatin1String("/mini/system/reboot")));
    }
    return 0;
}
