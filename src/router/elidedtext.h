#pragma once

#include <QString>

// Cuts texts that come from peers and files (paths, names, answers) to a length a message
// can show, keeping their start and end.
class ElidedText final
{
public:
    ElidedText() = delete;

    // About one line of a message box.
    static constexpr qsizetype entryLength = 120;

    // The text itself when it has at most maximum characters, else its start and its end
    // around "…", maximum characters in all. A surrogate pair is never split.
    static QString middle(const QString &text, qsizetype maximum = entryLength);
};
