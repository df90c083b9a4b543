#pragma once

#include "management/qttelnet.h"

#include <QString>

// The text with each "<xx>" replaced by the character that stands for the byte 0xxx, which
// is not UTF-8 (a lone surrogate, which a string literal cannot hold): withEscapes(u"caf<e9>")
// is the text of the bytes "caf\xe9".
inline QString withEscapes(const QString &text)
{
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        bool hex = false;
        const uint byte = text.mid(i + 1, 2).toUInt(&hex, 16);
        if (text.at(i) == u'<' && hex && text.mid(i + 3, 1) == u">") {
            result += QChar(char16_t(QtTelnet::escapedByteBase + byte));
            i += 3;
        } else {
            result += text.at(i);
        }
    }
    return result;
}
