#pragma once

#include <QString>
#include <QStringView>

// Text that a peer chose (a client's certificate name, an answer that quotes it) as it is
// shown to the user: two different texts never look the same, so that a client cannot pick
// a name that passes for another's.
//
// Ordinary text is shown as it is. A byte that is not UTF-8 (see QtTelnet::lineFromBytes) is
// shown as "\xE9"; a character that shows nothing or could pass for another (controls, format
// and bidirectional controls, zero-width and other default-ignorable characters, spaces other
// than the ASCII one, unassigned and private-use code points) as "\u034F" ("\U000E0001"
// beyond U+FFFF); a combining mark likewise where it starts the text or where the text is not
// in its composed form (NFC), which would let "e" with a combining accent pass for "é"; a
// space at either end or next to another space as "\x20". A backslash that could be read as
// the start of such an escape is doubled. Homoglyphs of different scripts (Latin "a",
// Cyrillic "а") are left as they are.
class PeerText final
{
public:
    static QString shown(QStringView text);
};
