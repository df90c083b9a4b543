#include "router/base64decoder.h"

#include <QtGlobal>

#include <cstring>
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

// Per character: its class or six bits, and for the fast path its six bits already in place
// among the three bytes a group of four makes, in memory order, with a flag in the unused
// fourth byte for everything outside the alphabet.
struct Base64Tables
{
    // The bytes of a group in a word that is stored as they are in memory.
    static constexpr quint32 inMemoryOrder(quint32 group)
    {
        const quint32 b0 = (group >> 16) & 0xff, b1 = (group >> 8) & 0xff, b2 = group & 0xff;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        return b0 | b1 << 8 | b2 << 16;
#else
        return b0 << 24 | b1 << 16 | b2 << 8;
#endif
    }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    static constexpr quint32 outsideAlphabet = 0x80000000u;
#else
    static constexpr quint32 outsideAlphabet = 0x80u;
#endif

    constexpr Base64Tables()
    {
        for (int c = 0; c < 256; ++c) {
            values[c] = base64Value(c);
            for (int place = 0; place < 4; ++place) {
                placed[place][c] =
                    values[c] < 0 ? outsideAlphabet : inMemoryOrder(quint32(values[c]) << (18 - 6 * place));
            }
        }
    }
    qint8 values[256] = {};
    quint32 placed[4][256] = {};
};
constexpr Base64Tables tables;

template<typename Char>
int valueOf(Char c)
{
    const auto code = std::make_unsigned_t<Char>(c);
    return code < 256 ? tables.values[code] : other;
}

template<typename Char>
quint32 placedValue(int place, Char c)
{
    const auto code = std::make_unsigned_t<Char>(c);
    return code < 256 ? tables.placed[place][code] : Base64Tables::outsideAlphabet;
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
// fast path, which writes a fourth byte that the next group overwrites (in place, that byte
// of the input has been read); the rest goes one character at a time.
template<bool stopAtMarkup, typename Char>
qsizetype Base64Decoder::run(const Char *input, qsizetype size, char *output, qsizetype *consumed)
{
    qsizetype length = 0;
    qsizetype i = 0;
    while (i < size) {
        if (bitCount == 0) {
            while (i + 4 <= size) {
                const quint32 bytes = placedValue(0, input[i]) | placedValue(1, input[i + 1])
                    | placedValue(2, input[i + 2]) | placedValue(3, input[i + 3]);
                if (bytes & Base64Tables::outsideAlphabet)
                    break;
                std::memcpy(output + length, &bytes, 4);
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
