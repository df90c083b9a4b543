#include "management/peertext.h"

#include "management/qttelnet.h"

#include <QList>

namespace {

// One code point of the text, or one escaped byte.
struct Unit
{
    char32_t value = 0;
    bool byte = false;
    bool escaped = false;
};

// Characters that show nothing although their category says otherwise: the default-ignorable
// ones outside the format controls, and the blank Braille pattern.
bool isBlank(char32_t c)
{
    return c == 0x034F || c == 0x115F || c == 0x1160 || c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F)
           || c == 0x2800 || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFFA0
           || (c >= 0xE0100 && c <= 0xE01EF);
}

bool isMark(QChar::Category category)
{
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
           || category == QChar::Mark_Enclosing;
}

// Whether a character is shown as an escape; a combining mark is decided by the caller.
bool isHidden(char32_t c)
{
    if (isBlank(c))
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    case QChar::Separator_Space:
        return c != u' ';
    default:
        return false;
    }
}

QList<Unit> unitsOf(QStringView text)
{
    QList<Unit> units;
    units.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        Unit unit;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            unit.value = QChar::surrogateToUcs4(c, text[i + 1]);
            ++i;
        } else if (QtTelnet::isEscapedByte(c.unicode())) {
            // A low surrogate after a high one was taken with it above.
            unit.value = c.unicode() - QtTelnet::escapedByteBase;
            unit.byte = true;
        } else {
            unit.value = c.unicode();
        }
        units.append(unit);
    }
    return units;
}

void appendHex(QString &shown, char prefix, char32_t value, int digits)
{
    shown += u'\\';
    shown += QLatin1Char(prefix);
    shown += QString::number(uint(value), 16).toUpper().rightJustified(digits, u'0');
}

} // namespace

QString PeerText::shown(QStringView text)
{
    QList<Unit> units = unitsOf(text);
    // A composed text has no mark that could stand for part of a precomposed character.
    const bool composed = text.toString().normalized(QString::NormalizationForm_C) == text;
    for (qsizetype i = 0; i < units.size(); ++i) {
        Unit &unit = units[i];
        const char32_t c = unit.value;
        if (unit.byte) {
            unit.escaped = true;
        } else if (c == u' ') {
            // Shown only between two other characters: elsewhere, and in a run, a space
            // cannot be told from none or from one.
            unit.escaped = i == 0 || i + 1 == units.size() || units.at(i - 1).value == u' '
                           || units.at(i + 1).value == u' ';
        } else if (isMark(QChar::category(c))) {
            unit.escaped = !composed || i == 0 || units.at(i - 1).escaped || isBlank(c);
        } else {
            unit.escaped = isHidden(c);
        }
    }

    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < units.size(); ++i) {
        const Unit &unit = units.at(i);
        if (unit.byte) {
            appendHex(shown, 'x', unit.value, 2);
        } else if (unit.escaped) {
            if (unit.value < 0x80)
                appendHex(shown, 'x', unit.value, 2);
            else if (unit.value <= 0xFFFF)
                appendHex(shown, 'u', unit.value, 4);
            else
                appendHex(shown, 'U', unit.value, 8);
        } else if (unit.value == u'\\') {
            // Doubled where it could be read as the start of an escape.
            const bool beforeEscape = i + 1 < units.size()
                                      && (units.at(i + 1).escaped || units.at(i + 1).value == u'\\'
                                          || units.at(i + 1).value == u'x' || units.at(i + 1).value == u'u'
                                          || units.at(i + 1).value == u'U');
            shown += beforeEscape ? QStringLiteral("\\\\") : QStringLiteral("\\");
        } else if (QChar::requiresSurrogates(unit.value)) {
            shown += QChar(QChar::highSurrogate(unit.value));
            shown += QChar(QChar::lowSurrogate(unit.value));
        } else {
            shown += QChar(char16_t(unit.value));
        }
    }
    return shown;
}
