#include "fuzzcheck.h"

#include <cstdio>
#include <cstdlib>

namespace FuzzCheck {

void fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

quint8 InputReader::takeByte()
{
    if (bytes.isEmpty())
        return 0;
    const auto byte = quint8(bytes.front());
    bytes = bytes.sliced(1);
    return byte;
}

QByteArrayView InputReader::take(qsizetype maximum)
{
    const QByteArrayView taken = bytes.first(qMin(maximum, bytes.size()));
    bytes = bytes.sliced(taken.size());
    return taken;
}

QByteArrayView InputReader::rest()
{
    const QByteArrayView taken = bytes;
    bytes = QByteArrayView();
    return taken;
}

} // namespace FuzzCheck
