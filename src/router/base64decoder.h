#pragma once

#include <QtGlobal>

// Standard Base64 decoded leniently, as the configuration exports are written: every
// character outside the alphabet ("=" and line breaks included) is skipped. The bits of an
// unfinished group are kept from one call to the next, so a text may be decoded in pieces
// cut anywhere.
class Base64Decoder final
{
public:
    // Decodes into output, which may be the input itself (the output never overtakes the
    // input) and needs room for maximumOutput(size) bytes. Returns the bytes written.
    qsizetype decode(const char *input, qsizetype size, char *output);
    qsizetype decode(const char16_t *input, qsizetype size, char *output);

    // Decodes like decode() but stops at the first character that is neither in the alphabet
    // nor "=" nor XML white space; *consumed tells how far it got.
    qsizetype decodeText(const char *input, qsizetype size, char *output, qsizetype *consumed);

    static constexpr qsizetype maximumOutput(qsizetype size) { return size / 4 * 3 + 3; }
    static bool isAlphabet(char16_t c);

private:
    template<bool stopAtMarkup, typename Char>
    qsizetype run(const Char *input, qsizetype size, char *output, qsizetype *consumed);

    quint32 bits = 0;
    int bitCount = 0;
};
