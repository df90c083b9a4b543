#include "router/base64decoder.h"

#include <type_traits>

namespace {

constexpr qint8 skipped = -1; // "=" and XML white space
constexpr qint8 other = -2;   // skipped as well, but markup may be among them

// Six bits per alphabet character, a negative class for everything else.
constexpr qint8 base64Value(int c)
{
    if (c >= 'A' && c <= 'Z')
        return qint8(c - 'A');
    if (c >= 'a' && c <= 'z')
        return qint8(c - 'a' + 26);
    if (c >= '0' && c <= '9')
        return qint8(c - '0' + 52);
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=' || c == ' ' || c == '\t' || c == '\r' || c == '\n')
        return skipped;
    return other;
}

struct Base64Table
{
    constexpr Base64Table()
    {
        for (int c = 0; c < 256; ++c)
            values[c] = base64Value(c);
    }
    qint8 values[256] = {};
};
constexpr Base64Table base64Table;

template<typename Char>
int valueOf(Char c)
{
    const auto code = std::make_unsigned_t<Char>(c);
    return code < 256 ? base64Table.values[code] : other;
}

} // namespace

bool Base64Decoder::isAlphabet(char16_t c)
{
    return valueOf(c) >= 0;
}

qsizetype Base64Decoder::decode(const char *input, qsizetype size, char *output)
{
    return run<false>(input, size, output, nullptr);
}

qsizetype Base64Decoder::decode(const char16_t *input, qsizetype size, char *output)
{
    return run<false>(input, size, output, nullptr);
}

qsizetype Base64Decoder::decodeText(const char *input, qsizetype size, char *output, qsizetype *consumed)
{
    return run<true>(input, size, output, consumed);
}

// Whole groups of four alphabet characters, the common case between line breaks, take the
// fast path; the rest goes one character at a time.
template<bool stopAtMarkup, typename Char>
qsizetype Base64Decoder::run(const Char *input, qsizetype size, char *output, qsizetype *consumed)
{
    qsizetype length = 0;
    qsizetype i = 0;
    while (i < size) {
        if (bitCount == 0) {
            while (i + 4 <= size) {
                const int a = valueOf(input[i]), b = valueOf(input[i + 1]), c = valueOf(input[i + 2]),
                          d = valueOf(input[i + 3]);
                if ((a | b | c | d) < 0)
                    break;
                const quint32 group = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
                output[length] = char(group >> 16);
                output[length + 1] = char(group >> 8);
                output[length + 2] = char(group);
                length += 3;
                i += 4;
            }
            if (i >= size)
                break;
        }
        const int v = valueOf(input[i]);
        if (stopAtMarkup && v == other)
            break;
        ++i;
        if (v < 0)
            continue;
        bits = (bits << 6) | quint32(v);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            output[length++] = char(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    if (consumed)
        *consumed = i;
    return length;
}
